// zolt-bench-station: phones per hour on 8 lines, with phones arriving at random times and two
// image sizes, for `zolt station`, for repeated `zolt run` jobs over the same arrivals, and for
// the bound of a line that is busy whenever a phone waits for it.
//
// Lines 1-4 flash a large image, lines 5-8 a small one (`--update all --no-cal`), so every
// measurement runs two processes of the built `zolt` at once, four lines each. On every line
// K phones come one after another; before each, the line stays empty for a gap drawn from
// [A, B] (the operator's swap), and each phone leaves as soon as its job is over.
//
// A line's time is from the start of the day until its last phone's job has ended; phones per
// hour = the sum over the lines of K / line time x 3600, the same for all three figures.
//
//   zolt-bench-station [--phones-per-line K] [--gap-ms A-B] [--seed N] [--zolt PATH]
//                      [--large-kib N] [--small-kib N] [--keep]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "history/time_text.h"
#include "sim/sim_bank.h"
#include "sim/sim_random.h"
#include "sim/station_day.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace zolt;
using Clock = std::chrono::steady_clock;

constexpr int LINES = 8;
constexpr int LINES_PER_SIZE = 4;  // lines 1-4 large, 5-8 small
// Longer than any day of the defaults takes; a process still running then has hung.
constexpr std::chrono::minutes PROCESS_LIMIT{15};

struct BenchOptions {
    int phonesPerLine = 4;
    long gapMin = 1000, gapMax = 4000;  // ms
    std::uint64_t seed = 1;
    std::string zolt = ZOLT_PATH;
    int largeCpKib = 64, smallCpKib = 16;
    bool keep = false;
};

// One image and its configuration, in a folder of its own (where `zolt` reads ZOLT.ini).
struct ImageSize {
    const char* name = "";
    int cpKib = 0;
    fs::path folder;
    double service = 0;  // seconds of one job on one phone
    static constexpr int BOOT_KIB = 16, DATA_KIB = 16;
    int TotalKib() const { return BOOT_KIB + cpKib + DATA_KIB; }
};

// A phone's job as the tool reported it; times in seconds from the start of the day.
struct Job {
    int line = 0;  // 1 to 8
    double ended = 0;
    double seconds = 0;
    bool ok = false;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::int64_t NowUtcMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void PutVersionBlock(std::vector<std::uint8_t>& image, std::size_t at, const char* version) {
    std::uint8_t* block = image.data() + at + 2;  // right behind the checksum word
    std::memset(block, 0, 32);
    std::memcpy(block, "ZOLTDEMO", 8);
    std::memcpy(block + 10, "SIM-8", 5);
    std::memcpy(block + 18, version, std::strlen(version));
}

// Boot 16 KiB at 0, CP at 0x4000, Data right behind it.
bool WriteImage(const ImageSize& size) {
    const int cpStart = ImageSize::BOOT_KIB * 1024, dataStart = cpStart + size.cpKib * 1024;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(dataStart + ImageSize::DATA_KIB * 1024));
    std::uint32_t x = 0x2468ACE1u;
    for (auto& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    PutVersionBlock(image, 0x100, "BOOT-1.02");
    PutVersionBlock(image, static_cast<std::size_t>(cpStart + 0x100), "CP-2.31");
    std::ofstream imageFile(size.folder / "image.bin", std::ios::binary);
    imageFile.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    std::ofstream config(size.folder / "ZOLT.ini");
    config << "[MainConfig]\nCheckInfo=ZOLTDEMO\nMobileName=SIM-8\nCombineVer=0\nUpdateFlag=0\n"
           << "[BootConfig]\nStart=0\nSize=" << cpStart << "\nChksumPos=256\n"
           << "[CpConfig]\nStart=" << cpStart << "\nSize=" << size.cpKib * 1024 << "\nChksumPos=" << cpStart + 0x100
           << "\n[DataConfig]\nStart=" << dataStart << "\nSize=" << ImageSize::DATA_KIB * 1024 << "\n";
    return static_cast<bool>(imageFile.flush()) && static_cast<bool>(config.flush());
}

// The built `zolt` as a child process in `folder`, its output into `log`.
class Child {
public:
    Child(std::vector<std::string> args, const fs::path& folder, const fs::path& log) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Whether it has ended; notes when and its exit status.
    bool Ended() {
        int status = 0;
        if (done_ || pid_ <= 0) return true;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        done_ = true;
        endedAt_ = Clock::now();
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    // The exit status; -1 when it could not be started or has not ended.
    int Status() const { return status_; }
    Clock::time_point EndedAt() const { return endedAt_; }

private:
    pid_t pid_ = -1;
    bool done_ = false;
    int status_ = -1;
    Clock::time_point endedAt_{};
};

// Waits until every child has ended, noting each one's end as it comes, or until the limit
// (the rest are killed). Returns whether all ended with status 0.
bool WaitAll(std::vector<std::unique_ptr<Child>>& children) {
    const auto limit = Clock::now() + PROCESS_LIMIT;
    for (;;) {
        bool all = true;
        for (auto& child : children) all = child->Ended() && all;
        if (all || Clock::now() > limit) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::all_of(children.begin(), children.end(), [](const auto& child) { return child->Status() == 0; });
}

// The text after `"key": ` in one line of a report, up to the next comma or brace.
std::string Field(const std::string& line, const std::string& key) {
    const std::string lead = "\"" + key + "\": ";
    const auto at = line.find(lead);
    if (at == std::string::npos) return "";
    const auto from = at + lead.size();
    const auto end = line.find_first_of(",}", from);
    std::string value = line.substr(from, end - from);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    return value;
}

// The phones (or lines) of a report, each line of it that opens with `lead`; lines numbered
// from `firstLine`, ended times relative to `dayStartUtcMs`.
std::vector<Job> ReadReport(const fs::path& path, const std::string& lead, int firstLine, std::int64_t dayStartUtcMs) {
    std::vector<Job> jobs;
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        if (text.find(lead) == std::string::npos) continue;
        Job job;
        job.line = firstLine - 1 + std::atoi(Field(text, "line").c_str());
        job.seconds = std::atof(Field(text, "seconds").c_str());
        job.ok = Field(text, "result") == "ok";
        if (const auto ended = ParseTimeText(Field(text, "ended"))) {
            job.ended = static_cast<double>(*ended - dayStartUtcMs) / 1000.0;
        }
        jobs.push_back(job);
    }
    return jobs;
}

std::vector<std::string> ZoltArgs(const BenchOptions& o, const char* command, const std::vector<std::string>& ports) {
    std::vector<std::string> args = {o.zolt, command, "--image", "image.bin", "--update", "all",
                                     "--no-cal", "--no-history", "--report", std::string(command) + ".json"};
    for (const auto& port : ports) {
        args.push_back("--port");
        args.push_back(port);
    }
    return args;
}

std::vector<std::string> Ports(const fs::path& dir, const char* prefix, int first, int count) {
    std::vector<std::string> ports;
    for (int l = first; l < first + count; ++l) ports.push_back((dir / (prefix + std::to_string(l))).string());
    return ports;
}

// Phones per hour of lines that each took K phones in the given times.
double PhonesPerHour(int k, const std::vector<double>& lineSeconds) {
    double rate = 0;
    for (const double t : lineSeconds) rate += t > 0 ? k / t * 3600 : 0;
    return rate;
}

// Each job's time S: one `zolt run` per size on one phone, both at once; the report's seconds.
bool MeasureService(const BenchOptions& o, const fs::path& dir, ImageSize (&sizes)[2]) {
    std::vector<std::unique_ptr<Child>> runs;
    for (int s = 0; s < 2; ++s) {
        runs.push_back(std::make_unique<Child>(ZoltArgs(o, "run", Ports(dir, "r", 1 + s * LINES_PER_SIZE, 1)),
                                               sizes[s].folder, sizes[s].folder / "service.log"));
    }
    if (!WaitAll(runs)) return false;
    for (int s = 0; s < 2; ++s) {
        const auto jobs = ReadReport(sizes[s].folder / "run.json", "{\"line\": ", 1, 0);
        if (jobs.size() != 1 || !jobs[0].ok) return false;
        sizes[s].service = jobs[0].seconds;
    }
    return true;
}

// Rounds of `zolt run` on the 8 static phones: each waits for the longest of its gaps, then
// runs both sizes at once. Returns each line's time, and the rounds' total in `rounds`.
std::optional<std::vector<double>> RepeatedRuns(const BenchOptions& o, const fs::path& dir, const ImageSize (&sizes)[2],
                                                const std::vector<std::vector<long>>& gaps, double& rounds) {
    std::vector<double> lineSeconds(LINES);
    const auto start = Clock::now();
    for (int k = 0; k < o.phonesPerLine; ++k) {
        long longest = 0;
        for (const auto& line : gaps) longest = std::max(longest, line[static_cast<std::size_t>(k)]);
        std::this_thread::sleep_for(std::chrono::milliseconds(longest));
        std::vector<std::unique_ptr<Child>> runs;
        for (int s = 0; s < 2; ++s) {
            runs.push_back(std::make_unique<Child>(ZoltArgs(o, "run", Ports(dir, "r", 1 + s * LINES_PER_SIZE, LINES_PER_SIZE)),
                                                   sizes[s].folder, sizes[s].folder / "run.log"));
        }
        if (!WaitAll(runs)) return std::nullopt;
        for (std::size_t l = 0; l < LINES; ++l) lineSeconds[l] = Seconds(runs[l / LINES_PER_SIZE]->EndedAt() - start);
    }
    rounds = Seconds(Clock::now() - start);
    return lineSeconds;
}

// When each phone of the day arrived and left, seconds from the day's start (0: not yet).
struct Comings {
    std::vector<double> arrived, left;
};

// Notes the phones' comings and goings every few milliseconds until `over`.
Comings Watch(const sim::StationDay& day, Clock::time_point start, const std::atomic<bool>& over) {
    Comings c;
    while (!over.load()) {
        const auto records = day.Records();
        c.arrived.resize(records.size());
        c.left.resize(records.size());
        const double now = Seconds(Clock::now() - start);
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (records[i].arrived && c.arrived[i] == 0) c.arrived[i] = now;
            if (records[i].left && c.left[i] == 0) c.left[i] = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return c;
}

struct StationResult {
    std::vector<double> lineSeconds;
    std::vector<Job> jobs;  // by line, then in the order they ended
    Comings comings;
};

// The day under two `zolt station` processes, started before the first phone may come.
std::optional<StationResult> StationDayRun(const BenchOptions& o, const fs::path& dir, const ImageSize (&sizes)[2],
                                           const std::vector<std::vector<long>>& gaps) {
    std::vector<sim::DayLine> lines;
    for (int l = 0; l < LINES; ++l) {
        sim::DayLine line{(dir / ("s" + std::to_string(l + 1))).string(), {}};
        for (const long gap : gaps[static_cast<std::size_t>(l)]) line.phones.push_back({Millis(gap), sim::Detach::Vanish, Millis(0)});
        lines.push_back(std::move(line));
    }
    sim::StationDay day(sim::PhoneOptions{}, lines);
    std::vector<std::unique_ptr<Child>> stations;
    for (int s = 0; s < 2; ++s) {
        auto args = ZoltArgs(o, "station", Ports(dir, "s", 1 + s * LINES_PER_SIZE, LINES_PER_SIZE));
        args.push_back("--count");
        args.push_back(std::to_string(LINES_PER_SIZE * o.phonesPerLine));
        stations.push_back(std::make_unique<Child>(args, sizes[s].folder, sizes[s].folder / "station.log"));
    }
    // Time for both to set their lines up and start waiting for the ports.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::int64_t startUtc = NowUtcMs();
    const auto start = Clock::now();
    day.Start();
    std::atomic<bool> over{false};
    StationResult r;
    std::thread watcher([&] { r.comings = Watch(day, start, over); });
    const bool ok = WaitAll(stations);
    over.store(true);
    watcher.join();
    day.Stop();
    if (!ok) return std::nullopt;
    r.lineSeconds.assign(LINES, 0);
    for (int s = 0; s < 2; ++s) {
        auto jobs = ReadReport(sizes[s].folder / "station.json", "{\"phone\": ", 1 + s * LINES_PER_SIZE, startUtc);
        r.jobs.insert(r.jobs.end(), jobs.begin(), jobs.end());
    }
    std::stable_sort(r.jobs.begin(), r.jobs.end(), [](const Job& a, const Job& b) { return a.line < b.line; });
    for (const Job& job : r.jobs) {
        if (!job.ok) return std::nullopt;
        auto& t = r.lineSeconds[static_cast<std::size_t>(job.line - 1)];
        t = std::max(t, job.ended);
    }
    if (r.jobs.size() != static_cast<std::size_t>(LINES * o.phonesPerLine)) return std::nullopt;
    return r;
}

// Where a station phone's time went, per size: from arrival until its job began, the job,
// and from the job's end until it left.
void PrintStationBreakdown(const StationResult& r, const ImageSize (&sizes)[2]) {
    for (int s = 0; s < 2; ++s) {
        double answer = 0, job = 0, leave = 0;
        int n = 0, leaving = 0;
        for (std::size_t i = 0; i < r.jobs.size(); ++i) {
            const Job& j = r.jobs[i];
            if ((j.line - 1) / LINES_PER_SIZE != s) continue;
            const std::size_t record = i;  // jobs and records both go line by line, phone by phone
            answer += j.ended - j.seconds - r.comings.arrived[record];
            job += j.seconds;
            ++n;
            if (r.comings.left[record] > 0) {
                leave += r.comings.left[record] - j.ended;
                ++leaving;
            }
        }
        std::printf("  %s lines: job began %.0f ms after the phone came; job %.2f s (S %.2f s)", sizes[s].name,
                    1000 * answer / n, job / n, sizes[s].service);
        // A line's last phone is still there when the station ends.
        if (leaving > 0) std::printf("; phone left %.0f ms after its job ended", 1000 * leave / leaving);
        std::printf("\n");
    }
}

void PrintResults(const BenchOptions& o, const ImageSize (&sizes)[2], const std::vector<double>& bound,
                  const StationResult& station, const std::vector<double>& run, double rounds) {
    const double b = PhonesPerHour(o.phonesPerLine, bound);
    const double st = PhonesPerHour(o.phonesPerLine, station.lineSeconds);
    const double rn = PhonesPerHour(o.phonesPerLine, run);
    std::printf("\nA line's time: from the day's start until its last phone's job ended (station: the\n"
                "report's \"ended\"; runs: the end of the line's zolt run; bound: sum of gap + S).\n"
                "phones/hour = sum over the lines of K / line time x 3600.\n\n");
    // A simulated phone knows its job is over only once the station's presence probes have
    // gone on for a while: every phone but a line's last stays that much longer than the bound
    // lets it, a cost of the simulated operator that no tool avoids.
    std::vector<double> withTakeOff = bound;
    const double takeOff = std::chrono::duration<double>(sim::PhoneState::JOB_OVER_QUIET).count();
    for (double& t : withTakeOff) t += (o.phonesPerLine - 1) * takeOff;
    const double bt = PhonesPerHour(o.phonesPerLine, withTakeOff);
    std::printf("| | phones/hour | / bound | / bound with take-off |\n|---|---|---|---|\n");
    std::printf("| bound (each line busy whenever a phone waits) | %.1f | 1 | %.4f |\n", b, b / bt);
    std::printf("| bound with the simulated take-off (+%.1f s after every job but a line's last) | %.1f | %.4f | 1 |\n",
                takeOff, bt, bt / b);
    std::printf("| zolt station | %.1f | %.4f | %.4f |\n", st, st / b, st / bt);
    std::printf("| repeated zolt run | %.1f | %.4f | %.4f |\n", rn, rn / b, rn / bt);
    std::printf("\nstation / run = %.4f; repeated runs, 8K / sum of round times = %.1f phones/hour\n", st / rn,
                LINES * o.phonesPerLine / rounds * 3600);
    std::printf("\nline times (s):\n| line | bound | station | run |\n|---|---|---|---|\n");
    for (std::size_t l = 0; l < LINES; ++l) std::printf("| %zu | %.2f | %.2f | %.2f |\n", l + 1, bound[l], station.lineSeconds[l], run[l]);
    std::printf("\nstation, per phone on average:\n");
    PrintStationBreakdown(station, sizes);
}

bool ParseLong(const std::string& text, long& out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && !text.empty();
}

bool ParseArgs(int argc, char** argv, BenchOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keep") {
            o.keep = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        long n = 0;
        if (arg == "--phones-per-line" && ParseLong(value, n) && n >= 1 && n <= 99) {
            o.phonesPerLine = static_cast<int>(n);
        } else if (arg == "--gap-ms") {
            const auto dash = value.find('-');
            if (dash == std::string::npos || !ParseLong(value.substr(0, dash), o.gapMin) ||
                !ParseLong(value.substr(dash + 1), o.gapMax) || o.gapMin < 0 || o.gapMax < o.gapMin) {
                return false;
            }
        } else if (arg == "--seed" && ParseLong(value, n)) {
            o.seed = static_cast<std::uint64_t>(n);
        } else if (arg == "--zolt") {
            o.zolt = value;
        } else if ((arg == "--large-kib" || arg == "--small-kib") && ParseLong(value, n) && n >= 1 && n <= 4096) {
            (arg == "--large-kib" ? o.largeCpKib : o.smallCpKib) = static_cast<int>(n);
        } else {
            return false;
        }
    }
    return true;
}

// Line L's gaps before each of its phones, drawn line by line.
std::vector<std::vector<long>> DrawGaps(const BenchOptions& o) {
    sim::SimRandom random(o.seed);
    std::vector<std::vector<long>> gaps(LINES);
    for (auto& line : gaps) {
        for (int k = 0; k < o.phonesPerLine; ++k) {
            line.push_back(static_cast<long>(random.Between(static_cast<std::uint64_t>(o.gapMin), static_cast<std::uint64_t>(o.gapMax))));
        }
    }
    return gaps;
}

int Bench(const BenchOptions& o, const fs::path& dir) {
    ImageSize sizes[2] = {{"large", o.largeCpKib, dir / "large"}, {"small", o.smallCpKib, dir / "small"}};
    for (const auto& size : sizes) {
        fs::create_directories(size.folder);
        if (!WriteImage(size)) return std::fprintf(stderr, "cannot write the image in %s\n", size.folder.c_str()), 1;
    }
    const auto gaps = DrawGaps(o);
    std::printf("8 lines: 1-4 flash a large image (%d KiB: Boot 16, CP %d, Data 16), 5-8 a small one (%d KiB),\n"
                "--update all --no-cal, 115200 baud, simulated phones; %d phones per line, each after a gap\n"
                "drawn from [%ld, %ld] ms (seed %llu) once the previous one left.\n",
                sizes[0].TotalKib(), sizes[0].cpKib, sizes[1].TotalKib(), o.phonesPerLine, o.gapMin, o.gapMax,
                static_cast<unsigned long long>(o.seed));
    std::fflush(stdout);

    sim::BankSetup setup;
    setup.count = LINES;
    setup.links = Ports(dir, "r", 1, LINES);
    sim::SimBank bank(sim::PhoneOptions{}, setup);
    bank.Start();
    if (!MeasureService(o, dir, sizes)) return std::fprintf(stderr, "the job on one phone failed: see %s\n", dir.c_str()), 1;
    std::printf("S, one job on one phone (zolt run's report, \"seconds\"): large %.2f s, small %.2f s\n", sizes[0].service,
                sizes[1].service);
    std::fflush(stdout);

    std::vector<double> bound(LINES);
    for (std::size_t l = 0; l < LINES; ++l) {
        for (const long gap : gaps[l]) bound[l] += static_cast<double>(gap) / 1000 + sizes[l / LINES_PER_SIZE].service;
    }
    const auto station = StationDayRun(o, dir, sizes, gaps);
    if (!station) return std::fprintf(stderr, "the station's day failed: see %s\n", dir.c_str()), 1;
    std::printf("station's day done\n");
    std::fflush(stdout);
    double rounds = 0;
    const auto run = RepeatedRuns(o, dir, sizes, gaps, rounds);
    if (!run) return std::fprintf(stderr, "a repeated run failed: see %s\n", dir.c_str()), 1;
    bank.Stop();
    PrintResults(o, sizes, bound, *station, *run, rounds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions o;
    if (!ParseArgs(argc, argv, o)) {
        std::fputs("usage: zolt-bench-station [--phones-per-line K] [--gap-ms A-B] [--seed N] [--zolt PATH]\n"
                   "                          [--large-kib CP_KIB] [--small-kib CP_KIB] [--keep]\n",
                   stderr);
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "zolt-bench-station-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return std::fprintf(stderr, "cannot make a temporary folder\n"), 1;
    const fs::path dir = pattern;
    int status = 1;
    try {
        status = Bench(o, dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-bench-station: %s\n", e.what());
    }
    if (o.keep || status != 0) {
        std::printf("files kept in %s\n", dir.c_str());
    } else {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    return status;
}
