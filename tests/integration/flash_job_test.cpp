// A whole flash job, Update Boot, Update CP and Update Data, run by the line workers on eight
// simulated phones at once over pseudo-terminals: every phone must end with each image
// section in its flash byte for byte, also when the line loses and damages replies and the
// phones ask for blocks again.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "job/port_session.h"
#include "link/flash.h"
#include "sim/message_ids.h"
#include "sim/sim_bank.h"
#include "support/recording_sink.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::SimBytes;

// The tool's end of a line that loses or damages what the phone says while a flash block
// waits for its reply: a whole read dropped, or one byte of it changed. The change never
// makes or breaks an escape, so it is a single-byte change of the frame, which its checksum
// always shows. Replies to anything else (probes, the erase) pass untouched: the erase reply
// is awaited without limit, so a lost one would hold the line until it is stopped.
class FaultyLine final : public SerialDevice {
public:
    FaultyLine(SerialDevice& inner, std::uint32_t seed) : inner_(inner), random_(seed) {}

    double dropRate = 0.06;
    double corruptRate = 0.06;
    int dropped = 0;    // read on the worker's thread only, looked at after the job
    int corrupted = 0;

    int SendData(const std::uint8_t* bytes, int count) override {
        writing_ = IsWriteRequest(bytes, count);
        return inner_.SendData(bytes, count);
    }
    WaitResult WaitReadable(Millis limit) override { return inner_.WaitReadable(limit); }
    int ReadData(std::uint8_t* buffer, int maxCount) override {
        const int n = inner_.ReadData(buffer, maxCount);
        if (n <= 0 || !writing_) return n;
        if (Chance(dropRate)) {
            ++dropped;
            return 0;
        }
        if (Chance(corruptRate)) {
            const int at = static_cast<int>(random_() % static_cast<unsigned>(n));
            const std::uint8_t old = buffer[at];
            const auto changed = static_cast<std::uint8_t>(old ^ (1 + random_() % 0x7F));
            if (!IsFrameByte(old) && !IsFrameByte(changed)) {
                buffer[at] = changed;
                ++corrupted;
            }
        }
        return n;
    }

private:
    static bool IsFrameByte(std::uint8_t b) { return b == EtsFrame::START || b == EtsFrame::ESCAPE; }
    static bool IsWriteRequest(const std::uint8_t* wire, int count) {
        std::uint8_t head[10]{};
        int o = 0;
        for (int k = 1; k < count && o < 10; ++k) {
            head[o++] = wire[k] == EtsFrame::ESCAPE && k + 1 < count
                            ? static_cast<std::uint8_t>(~wire[++k])
                            : wire[k];
        }
        // Length (2), B2 04, block number (4), operation.
        return o == 10 && head[2] == FLASH_ID && head[3] == FLASH_SUBCOMMAND && head[8] == FLASH_OP_WRITE;
    }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

    SerialDevice& inner_;
    std::mt19937 random_;
    bool writing_ = false;
};

constexpr int LINES = 8;

struct FlashJob {
    explicit FlashJob(const sim::PhoneOptions& phoneOptions) : bank(phoneOptions, EightLines(), test::TestTrace()) {
        file = test::SectionBytes(40000, 5);
        // The sections end on a block's first byte, in mid-block and on a block's end.
        config.bootStart = 0;
        config.bootSize = 4 * 350 + 1;
        config.cpStart = 2000;
        config.cpSize = 21000;
        config.dataStart = 30000;
        config.dataSize = 7000 - 13;
        tasks.Assign({TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA});
        job = {&tasks, &config, file, &sink, nullptr, &runners};
        bank.Start();
        for (int i = 0; i < LINES; ++i) {
            PortSession& line = lines[static_cast<std::size_t>(i)];
            line.timing = test::ShortTiming();
            line.lineNumber = i + 1;
            EXPECT_EQ(line.OpenLink(Phone(i).Path(), 115200), LINK_OPENED);
        }
    }
    ~FlashJob() {
        for (auto& line : lines) line.StopWorker();
        bank.Stop();
    }
    static sim::BankSetup EightLines() {
        sim::BankSetup setup;
        setup.count = LINES;
        return setup;
    }
    sim::SimPhone& Phone(int i) { return bank[static_cast<std::size_t>(i)]; }

    // Starts every line's worker and waits until all have finished.
    bool Run() {
        for (int i = 0; i < LINES; ++i) lines[static_cast<std::size_t>(i)].StartWorker(&job, i, ".");
        return sink.WaitFor(WM_PORT_ALL_DONE, LINES, 60s);
    }

    // Flash requests of a job in which every block goes once: the writes and three erases.
    std::uint64_t CleanFlashRequests() const {
        return static_cast<std::uint64_t>(FlashBlockCountOf(config.bootSize) + FlashBlockCountOf(config.cpSize) +
                                          FlashBlockCountOf(config.dataSize)) + 3;
    }

    SimBytes Section(std::int32_t start, std::int32_t size) const {
        return SimBytes(file.begin() + start, file.begin() + start + size);
    }

    // Each phone holds the three sections, went through its boot loader once, and got two
    // resets at the end; each line's tasks are done.
    void ExpectFlashedAndDone() {
        const SimBytes boot = Section(config.bootStart, config.bootSize);
        const SimBytes cp = Section(config.cpStart, config.cpSize);
        const SimBytes data = Section(config.dataStart, config.dataSize);
        for (int i = 0; i < LINES; ++i) {
            SCOPED_TRACE("line " + std::to_string(i + 1));
            Phone(i).Inspect([&](const sim::PhoneCore& p) {
                EXPECT_TRUE(p.Flash().Area(IMAGE_BOOT) == boot);
                EXPECT_TRUE(p.Flash().Area(IMAGE_CP) == cp);
                EXPECT_TRUE(p.Flash().Area(IMAGE_DATA) == data);
                EXPECT_EQ(p.State().bootLoaderEntries, 1u);
                EXPECT_EQ(p.State().Count(sim::ID_RESET), 2u);
                EXPECT_EQ(p.State().mode, sim::PhoneMode::Firmware);
                return 0;
            });
            for (int t = 0; t < 3; ++t) EXPECT_EQ(tasks.LineOutcome(t, i), TASK_DONE) << "task " << t;
            const PortSession& line = lines[static_cast<std::size_t>(i)];
            EXPECT_EQ(line.statusText.Get(), "Flash writing success.(1M Data)");
            EXPECT_EQ(line.flashBlockCount.load(), 0);
        }
        for (const auto& e : sink.events()) EXPECT_NE(e.message, WM_PORT_FAILED) << "line " << e.lParam;
    }

    sim::SimBank bank;
    std::array<PortSession, LINES> lines;
    SimBytes file;
    Config config;
    TaskList tasks;
    test::RecordingSink sink;
    TaskRunners runners = TaskRunners::Standard();
    JobContext job;
};

TEST(FlashJob, EightPhonesGetBootCpAndDataByteForByte) {
    FlashJob job(test::TestPhoneOptions());
    ASSERT_TRUE(job.Run());
    job.ExpectFlashedAndDone();
    // A clean line: every block went once.
    for (int i = 0; i < LINES; ++i) {
        job.Phone(i).Inspect([&](const sim::PhoneCore& p) {
            EXPECT_EQ(p.State().Count(sim::ID_FLASH), job.CleanFlashRequests()) << "line " << i + 1;
            return 0;
        });
    }
}

TEST(FlashJob, LostDamagedAndReRequestedRepliesStillGiveIdenticalFlash) {
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.faults.noiseRate = 0.2;
    options.faults.repeatBlock = {2, 3, 17, 40};
    options.faults.seed = 7;
    FlashJob job(options);

    std::vector<std::unique_ptr<FaultyLine>> faulty;
    for (int i = 0; i < LINES; ++i) {
        PortSession& line = job.lines[static_cast<std::size_t>(i)];
        faulty.push_back(std::make_unique<FaultyLine>(line.port, 1000u + static_cast<std::uint32_t>(i)));
        line.device = faulty.back().get();
    }
    ASSERT_TRUE(job.Run());
    job.ExpectFlashedAndDone();

    int dropped = 0, corrupted = 0;
    for (const auto& f : faulty) {
        dropped += f->dropped;
        corrupted += f->corrupted;
    }
    EXPECT_GT(dropped, LINES);
    EXPECT_GT(corrupted, LINES);
    for (int i = 0; i < LINES; ++i) {
        job.Phone(i).Inspect([&](const sim::PhoneCore& p) {
            // At least the blocks each phone asked for again were sent twice.
            EXPECT_GE(p.State().Count(sim::ID_FLASH),
                      job.CleanFlashRequests() + options.faults.repeatBlock.size())
                << "line " << i + 1;
            return 0;
        });
    }
}

}  // namespace
}  // namespace zolt
