// zolt-bench-flash: how close a flash write comes to what the serial line allows.
//
// Flashes one section through the real serial layer to simulated phones on pseudo-terminals,
// which emulate the wire time of every byte at the chosen baud rate and take a fixed time to
// program each block. For each line it reports:
//   efficiency  = protocol bound / write time, where the bound is the time the bytes of every
//                 write request and its reply take on the line, plus the phone's programming
//                 time per block;
//   payload     = section bytes on the line's raw rate (baud / 10 bytes per second) / write time;
//   CPU         = the worker thread's CPU time per MiB of section, and as a share of one core.
//
//   zolt-bench-flash [--size BYTES] [--lines 1,8,32] [--baud 115200] [--block-time MS]
#include <time.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/ets_frame.h"
#include "link/flash.h"
#include "link/link_session.h"
#include "sim/sim_bank.h"

namespace {

using namespace zolt;
using Clock = std::chrono::steady_clock;

struct BenchOptions {
    std::size_t size = 1 << 20;
    std::vector<int> lineCounts = {1, 8};
    int baud = 115200;
    Millis blockTime{2};
};

struct LineResult {
    int result = RESULT_FAIL;
    std::string status;
    double seconds = 0;
    double cpuSeconds = 0;
};

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Image-like bytes: mostly varied, with the escaped values FE and FD as often as any other.
std::vector<std::uint8_t> MakeSection(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    std::uint32_t x = 0x12345678;
    for (auto& b : data) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return data;
}

// Seconds the write's requests and replies take on the line, plus the phone's block time.
// Blocks go in order 2, 3, ... and each is accepted at once, as the simulated phone does.
double ProtocolBound(const std::vector<std::uint8_t>& section, int type, const BenchOptions& o) {
    std::size_t wireBytes = 0;
    std::size_t blocks = 0;
    for (std::size_t at = 0; at < section.size(); at += FLASH_BLOCK_SIZE, ++blocks) {
        const std::size_t n = std::min<std::size_t>(FLASH_BLOCK_SIZE, section.size() - at);
        const auto block = static_cast<std::uint32_t>(FIRST_DATA_BLOCK + blocks);
        unsigned sum = 0;
        for (std::size_t i = 0; i < n; ++i) sum += section[at + i];
        std::vector<std::uint8_t> body = {FLASH_ID,
                                          FLASH_SUBCOMMAND,
                                          static_cast<std::uint8_t>(block),
                                          static_cast<std::uint8_t>(block >> 8),
                                          static_cast<std::uint8_t>(block >> 16),
                                          static_cast<std::uint8_t>(block >> 24),
                                          FLASH_OP_WRITE,
                                          static_cast<std::uint8_t>(type),
                                          static_cast<std::uint8_t>(sum),
                                          static_cast<std::uint8_t>(sum >> 8),
                                          static_cast<std::uint8_t>(n),
                                          static_cast<std::uint8_t>(n >> 8)};
        body.insert(body.end(), section.begin() + static_cast<long>(at),
                    section.begin() + static_cast<long>(at + n));
        const std::uint8_t reply[] = {FLASH_ID,
                                      FLASH_SUBCOMMAND,
                                      static_cast<std::uint8_t>(block),
                                      static_cast<std::uint8_t>(block >> 8),
                                      static_cast<std::uint8_t>(block >> 16),
                                      static_cast<std::uint8_t>(block >> 24),
                                      FLASH_ACCEPTED};
        wireBytes += EncodeFrame(body).size() + EncodeFrame(reply).size();
    }
    const double bitsPerByte = 10;  // start bit, 8 data bits, stop bit
    return static_cast<double>(wireBytes) * bitsPerByte / o.baud +
           static_cast<double>(blocks) * std::chrono::duration<double>(o.blockTime).count();
}

// Erases, then times the write alone. Never throws.
LineResult FlashOneLine(LinkSession& line, const std::vector<std::uint8_t>& section) noexcept {
    LineResult r;
    try {
        if (line.FlashErase(IMAGE_CP) != RESULT_OK || line.flashBlock != FIRST_DATA_BLOCK) {
            r.status = "erase: " + line.statusText.Get();
            return r;
        }
        const double cpu0 = ThreadCpuSeconds();
        const auto t0 = Clock::now();
        r.result = line.FlashWrite(IMAGE_CP, section);
        r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        r.cpuSeconds = ThreadCpuSeconds() - cpu0;
        r.status = line.statusText.Get();
    } catch (const std::exception& e) {
        r.status = e.what();
    } catch (const LineStopped&) {
        r.status = "stopped";
    }
    return r;
}

bool RunLines(int count, const BenchOptions& o, const std::vector<std::uint8_t>& section,
              double bound) {
    sim::PhoneOptions phone;
    phone.baud = o.baud;
    phone.wireTime = true;
    phone.blockTime = o.blockTime;
    // The phone's turnaround is part of its programming time here, which the bound counts.
    phone.replyDelay = Millis(0);
    phone.startInBootLoader = true;
    sim::BankSetup setup;
    setup.count = count;
    sim::SimBank bank(phone, setup);
    bank.Start();

    std::vector<std::unique_ptr<LinkSession>> lines;
    for (int i = 0; i < count; ++i) {
        auto line = std::make_unique<LinkSession>();
        // The write alone is measured: no pause after its last block.
        line->timing.flashDonePause = Millis(0);
        if (line->OpenLink(bank[static_cast<std::size_t>(i)].Path(), o.baud) != LINK_OPENED) {
            std::fprintf(stderr, "cannot open %s\n", bank[static_cast<std::size_t>(i)].Path().c_str());
            return false;
        }
        lines.push_back(std::move(line));
    }

    std::vector<LineResult> results(static_cast<std::size_t>(count));
    std::vector<std::thread> workers;
    for (int i = 0; i < count; ++i) {
        workers.emplace_back([&, i] {
            results[static_cast<std::size_t>(i)] = FlashOneLine(*lines[static_cast<std::size_t>(i)], section);
        });
    }
    for (auto& w : workers) w.join();
    bank.Stop();

    bool ok = true;
    const double mib = static_cast<double>(section.size()) / (1 << 20);
    const double rawSeconds = static_cast<double>(section.size()) * 10 / o.baud;
    for (int i = 0; i < count; ++i) {
        const LineResult& r = results[static_cast<std::size_t>(i)];
        if (r.result != RESULT_OK) {
            std::printf("| %d | line %d failed: %s |\n", count, i + 1, r.status.c_str());
            ok = false;
            continue;
        }
        std::printf("| %d | %d | %.2f | %.2f | %.4f | %.3f | %.4f | %.3f%% |\n", count, i + 1,
                    r.seconds, bound, bound / r.seconds, rawSeconds / r.seconds,
                    r.cpuSeconds / mib, 100 * r.cpuSeconds / r.seconds);
    }
    std::fflush(stdout);
    return ok;
}

bool ParseInt(const char* text, long& out) {
    const char* end = text + std::strlen(text);
    auto [p, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && p == end && *text != '\0';
}

bool ParseArgs(int argc, char** argv, BenchOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--size" && ParseInt(value, n) && n > 0 && n <= (1L << 30)) {
            o.size = static_cast<std::size_t>(n);
        } else if (arg == "--baud" && ParseInt(value, n) && n >= 1200 && n <= 4000000) {
            o.baud = static_cast<int>(n);
        } else if (arg == "--block-time" && ParseInt(value, n) && n >= 0 && n <= 1000) {
            o.blockTime = Millis(n);
        } else if (arg == "--lines") {
            o.lineCounts.clear();
            std::string list = value;
            for (std::size_t start = 0; start <= list.size();) {
                std::size_t comma = list.find(',', start);
                if (comma == std::string::npos) comma = list.size();
                const std::string item = list.substr(start, comma - start);
                if (!ParseInt(item.c_str(), n) || n < 1 || n > 32) return false;  // zolt run takes up to 32
                o.lineCounts.push_back(static_cast<int>(n));
                start = comma + 1;
            }
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions o;
    if (!ParseArgs(argc, argv, o)) {
        std::fputs("usage: zolt-bench-flash [--size BYTES] [--lines 1,8,32] [--baud BAUD] "
                   "[--block-time MS]\n",
                   stderr);
        return 2;
    }
    const auto section = MakeSection(o.size);
    const double bound = ProtocolBound(section, IMAGE_CP, o);
    std::printf("section %zu bytes (%zu blocks), %d baud, %lld ms programming per block\n\n",
                o.size, static_cast<std::size_t>(FlashBlockCountOf(static_cast<std::int64_t>(o.size))),
                o.baud, static_cast<long long>(o.blockTime.count()));
    std::printf("| lines | line | write s | bound s | efficiency | payload / line rate | CPU s per MiB | CPU share of a core |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    bool ok = true;
    try {
        for (int count : o.lineCounts) ok = RunLines(count, o, section, bound) && ok;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-bench-flash: %s\n", e.what());
        return 1;
    }
    return ok ? 0 : 1;
}
