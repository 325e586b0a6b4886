// The fault campaign: N whole jobs, one after another, on up to eight simulated phones that
// play seeded random faults of every kind the simulator knows, in every phase of a job. After
// each job every line must have ended Done with its phone holding exactly what was written
// (and its own calibration where the job backs it up), or failed with a status text; and the
// job must have ended within its bound. Prints a table of the campaign and, for every job
// that broke the rule, its seed and the command that replays exactly that job.
//
//   fault_campaign [--jobs N] [--seed S] [--lines L] [--first-job K] [--traces DIR [--all-traces]]
//                  [--verbose]
//
// --traces keeps the phones' trace of every job that broke the rule in DIR (of every job
// with --all-traces); --verbose shows every line's faults and status as the jobs go.
//
// An interrupt (Ctrl-C, SIGTERM) ends the campaign after the running job, with its table.
// Exit status: 0 when no job broke the rule, 1 when one did, 2 for bad arguments, 3 when a
// job could not even be stopped (the process ends there, naming the job).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <unistd.h>

#include "soak/campaign_job.h"

namespace zolt::soak {
namespace {

using namespace std::chrono_literals;

struct Options {
    int jobs = 20;
    std::uint64_t seed = 1;
    int lines = 8;
    int firstJob = 0;
    std::string traces;
    bool allTraces = false;
    bool verbose = false;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        try {
            if (a == "--jobs" && hasValue) o.jobs = std::stoi(argv[++i]);
            else if (a == "--seed" && hasValue) o.seed = std::stoull(argv[++i]);
            else if (a == "--lines" && hasValue) o.lines = std::stoi(argv[++i]);
            else if (a == "--first-job" && hasValue) o.firstJob = std::stoi(argv[++i]);
            else if (a == "--traces" && hasValue) o.traces = argv[++i];
            else if (a == "--all-traces") o.allTraces = true;
            else if (a == "--verbose") o.verbose = true;
            else return std::nullopt;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (o.jobs < 1 || o.lines < 1 || o.lines > 8 || o.firstJob < 0) return std::nullopt;
    return o;
}

std::string ReplayCommand(const char* program, const Options& o, int job) {
    return std::string(program) + " --seed " + std::to_string(o.seed) + " --jobs 1 --first-job " +
           std::to_string(job) + " --lines " + std::to_string(o.lines);
}

// What a fatal signal or the watchdog prints: the job that was running. Kept ready in a
// fixed buffer, since a signal handler may only write(2).
char g_running[512];

// Set by an interrupt: the campaign ends after the running job and prints its table.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

extern "C" void OnFatalSignal(int signal) {
    (void)!write(STDERR_FILENO, g_running, std::strlen(g_running));
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Ends the process when a job outlives its bound by a wide margin: then not even stopping
// the job ended it, and the campaign cannot go on.
class Watchdog {
public:
    Watchdog() : thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Arm(Millis limit) {
        std::lock_guard lock(mutex_);
        deadline_ = std::chrono::steady_clock::now() + limit;
        armed_ = true;
        changed_.notify_all();
    }
    void Disarm() {
        std::lock_guard lock(mutex_);
        armed_ = false;
        changed_.notify_all();
    }

private:
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!armed_) {
                changed_.wait(lock);
            } else if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                       std::chrono::steady_clock::now() >= deadline_) {
                std::fputs("fault campaign: the job could not be stopped\n", stderr);
                std::fputs(g_running, stderr);
                std::_Exit(3);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::chrono::steady_clock::time_point deadline_{};
    bool armed_ = false;
    bool quit_ = false;
    std::thread thread_;
};

struct KindTotals {
    int jobs = 0, done = 0, failed = 0;
    Millis worst{0};
};

struct Totals {
    int jobs = 0, lines = 0, done = 0, failed = 0, waiting = 0, mismatches = 0, silentFailures = 0, hangs = 0;
    int restoresRewriting = 0, pagesRewritten = 0;
    Millis worst{0}, worstStop{0};
    int worstJob = -1;
    std::map<std::string, std::uint64_t> faults, aimed, failedWith;
    std::map<std::string, KindTotals> kinds;
    std::vector<std::string> wrongJobs;
};

const char* OutcomeName(LineOutcome outcome) {
    switch (outcome) {
        case LineOutcome::Done: return "Done";
        case LineOutcome::Failed: return "failed";
        case LineOutcome::WaitingForSilentPhone: return "waiting for its silent phone, stopped";
        case LineOutcome::Hung: return "hung";
    }
    return "?";
}

void KeepTrace(const JobPlan& plan, const JobResult& result, const Options& o) {
    std::filesystem::create_directories(o.traces);
    const auto file = std::filesystem::path(o.traces) / ("job-" + std::to_string(plan.index) + ".trace");
    std::ofstream(file) << result.trace;
    std::cout << "  phones' trace: " << file.string() << "\n";
}

void Report(const JobPlan& plan, const JobResult& result, const char* program, const Options& o, Totals& t) {
    std::cout << "\njob " << plan.index << " (" << JobKindName(plan.kind) << ", job seed " << plan.seed
              << ") broke the rule; replay it with:\n  " << ReplayCommand(program, o, plan.index) << "\n";
    if (result.hung) {
        std::cout << "  the job had not ended after " << result.took.count() << " ms; stopping it took "
                  << result.stopTook.count() << " ms\n";
    }
    for (std::size_t i = 0; i < result.lines.size(); ++i) {
        const LineResult& line = result.lines[i];
        const char* outcome = OutcomeName(line.outcome);
        std::cout << "  line " << i + 1 << ": " << outcome << ", status \"" << line.status << "\"";
        if (!line.wrong.empty()) std::cout << ", but the phone holds a different" << line.wrong;
        if (line.outcome == LineOutcome::Failed && line.status.empty()) std::cout << ", without a word";
        std::cout << "\n    faults: " << plan.lines[i].what << "\n";
    }
    if (!o.traces.empty()) KeepTrace(plan, result, o);
    t.wrongJobs.push_back(ReplayCommand(program, o, plan.index));
}

void Add(const JobPlan& plan, const JobResult& result, Totals& t) {
    ++t.jobs;
    KindTotals& kind = t.kinds[std::string(JobKindName(plan.kind))];
    ++kind.jobs;
    kind.worst = std::max(kind.worst, result.took);
    for (const LineResult& line : result.lines) {
        ++t.lines;
        t.done += line.outcome == LineOutcome::Done;
        kind.done += line.outcome == LineOutcome::Done;
        t.failed += line.outcome == LineOutcome::Failed;
        kind.failed += line.outcome == LineOutcome::Failed;
        t.waiting += line.outcome == LineOutcome::WaitingForSilentPhone;
        if (line.outcome == LineOutcome::Failed) {
            // Port names differ from run to run; the texts around them do not.
            std::string status = line.status;
            if (const auto dev = status.find("/dev/"); dev != std::string::npos) {
                status.replace(dev, status.find(' ', dev) - dev, "PORT");
            }
            ++t.failedWith[status];
        }
        t.mismatches += !line.wrong.empty();
        t.restoresRewriting += line.pagesRewritten > 0;
        t.pagesRewritten += line.pagesRewritten;
        t.silentFailures += line.outcome == LineOutcome::Failed && line.status.empty();
    }
    t.hangs += result.hung;
    t.worstStop = std::max(t.worstStop, result.stopTook);
    if (result.took > t.worst) {
        t.worst = result.took;
        t.worstJob = plan.index;
    }
    for (const auto& [k, n] : result.faults) t.faults[k] += n;
    for (const auto& [k, n] : result.aimed) t.aimed[k] += n;
}

// The aimed faults as a table of phase (the request kind hit) by action.
void PrintAimed(const std::map<std::string, std::uint64_t>& aimed) {
    static constexpr const char* PHASES[] = {"boot-probe",   "erase",         "block",    "probe",
                                             "access",       "page",          "setting-read",
                                             "setting-write", "db-write",     "sidb",     "write", "reset"};
    static constexpr const char* ACTIONS[] = {"lose",   "short",  "cut",  "late",   "duplicate", "corrupt",
                                              "silent", "vanish", "slow", "refuse", "miswrite"};
    std::printf("\n| %-22s |", "aimed faults played");
    for (const char* a : ACTIONS) std::printf(" %9s |", a);
    std::printf("\n|%s|", std::string(24, '-').c_str());
    for (std::size_t i = 0; i < std::size(ACTIONS); ++i) std::printf("%s|", std::string(11, '-').c_str());
    for (const char* phase : PHASES) {
        std::printf("\n| %-22s |", phase);
        for (const char* a : ACTIONS) {
            const auto n = aimed.find(std::string(phase) + " " + a);
            std::printf(" %9" PRIu64 " |", n == aimed.end() ? 0 : n->second);
        }
    }
    std::printf("\n");
}

void PrintTable(const Totals& t, const Options& o, Millis bound, std::chrono::seconds took) {
    std::printf("\nFault campaign: seed %" PRIu64 ", jobs %d to %d on %d lines%s, %lld min %02lld s\n", o.seed,
                o.firstJob, o.firstJob + t.jobs - 1, o.lines, t.jobs < o.jobs ? " (interrupted)" : "",
                static_cast<long long>(took.count() / 60),
                static_cast<long long>(took.count() % 60));
    std::printf("| %-42s | %10s |\n|%s|%s|\n", "", "count", std::string(44, '-').c_str(), std::string(12, '-').c_str());
    const auto row = [](const std::string& what, long long n) { std::printf("| %-42s | %10lld |\n", what.c_str(), n); };
    row("jobs", t.jobs);
    row("lines run", t.lines);
    row("lines Done", t.done);
    row("lines Failed (with a status text)", t.failed - t.silentFailures);
    row("lines waiting for a silent phone, stopped", t.waiting);
    row("data mismatches (Done, data differ)", t.mismatches);
    row("restores that wrote a page again", t.restoresRewriting);
    row("pages written again by restores", t.pagesRewritten);
    row("failed without a status text", t.silentFailures);
    row("hangs", t.hangs);
    row("worst job time, ms (job " + std::to_string(t.worstJob) + ")", t.worst.count());
    row("hang bound, ms (full job)", bound.count());
    row("worst time to stop a job, ms", t.worstStop.count());
    std::printf("\n| %-28s | %5s | %6s | %6s | %14s |\n|%s|%s|%s|%s|%s|\n", "job kind", "jobs", "Done", "Failed",
                "worst time, ms", std::string(30, '-').c_str(), std::string(7, '-').c_str(),
                std::string(8, '-').c_str(), std::string(8, '-').c_str(), std::string(16, '-').c_str());
    for (const auto& [kind, k] : t.kinds) {
        std::printf("| %-28s | %5d | %6d | %6d | %14lld |\n", kind.c_str(), k.jobs, k.done, k.failed,
                    static_cast<long long>(k.worst.count()));
    }
    std::printf("\n| %-40s | %8s |\n|%s|%s|\n", "faults played by the phones", "count", std::string(42, '-').c_str(),
                std::string(10, '-').c_str());
    for (const auto& [kind, n] : t.faults) std::printf("| %-40s | %8" PRIu64 " |\n", kind.c_str(), n);
    PrintAimed(t.aimed);
    std::printf("\n| %-40s | %8s |\n|%s|%s|\n", "status texts of failed lines", "lines", std::string(42, '-').c_str(),
                std::string(10, '-').c_str());
    for (const auto& [status, n] : t.failedWith) {
        std::printf("| %-40s | %8" PRIu64 " |\n", ("\"" + status + "\"").c_str(), n);
    }
    if (!t.wrongJobs.empty()) {
        std::printf("\nJobs that broke the rule, each replayed by:\n");
        for (const std::string& c : t.wrongJobs) std::printf("  %s\n", c.c_str());
    }
}

int Main(int argc, char** argv) {
    const std::optional<Options> parsed = ParseOptions(argc, argv);
    if (!parsed) {
        std::cerr << "usage: " << argv[0]
                  << " [--jobs N] [--seed S] [--lines 1-8] [--first-job K] [--traces DIR [--all-traces]] [--verbose]\n";
        return 2;
    }
    const Options& o = *parsed;
    for (int s : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) std::signal(s, OnFatalSignal);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    std::signal(SIGPIPE, SIG_IGN);  // a line closed under a write must fail the write, not the campaign

    const Timing timing = CampaignTiming();
    Totals totals;
    Watchdog watchdog;
    const auto started = std::chrono::steady_clock::now();
    for (int k = o.firstJob; k < o.firstJob + o.jobs && !g_interrupted; ++k) {
        const JobPlan plan = PlanJob(o.seed, k, o.lines);
        const Millis bound = JobBound(timing, static_cast<int>(JobTasks(plan.kind).size()));
        std::snprintf(g_running, sizeof g_running, "fault campaign: ended in job %d; replay it with:\n  %s\n", k,
                      ReplayCommand(argv[0], o, k).c_str());
        watchdog.Arm(bound + 60s);
        const JobResult result = RunJob(plan, timing, bound);
        watchdog.Disarm();
        Add(plan, result, totals);
        int done = 0;
        for (const LineResult& line : result.lines) done += line.outcome == LineOutcome::Done;
        std::cerr << "job " << k << " " << JobKindName(plan.kind) << ": " << result.took.count() << " ms, " << done
                  << "/" << result.lines.size() << " Done" << (result.Defects() ? "  BROKE THE RULE" : "") << "\n";
        if (o.verbose) {
            for (std::size_t i = 0; i < result.lines.size(); ++i) {
                std::cerr << "  line " << i + 1 << " [" << plan.lines[i].what << "]: \"" << result.lines[i].status
                          << "\"\n";
            }
        }
        if (result.Defects()) {
            Report(plan, result, argv[0], o, totals);
        } else if (o.allTraces && !o.traces.empty()) {
            KeepTrace(plan, result, o);
        }
    }
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    PrintTable(totals, o, JobBound(timing, static_cast<int>(JobTasks(JobKind::FullWithCal).size())), took);
    return totals.wrongJobs.empty() ? 0 : 1;
}

}  // namespace
}  // namespace zolt::soak

int main(int argc, char** argv) {
    try {
        return zolt::soak::Main(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "fault campaign: " << e.what() << "\n" << zolt::soak::g_running;
        return 1;
    }
}
