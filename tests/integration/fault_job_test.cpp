// Whole jobs (Backup, Boot, CP, Data, Restore) on eight simulated phones at once, each
// phone playing one fault of a real line or phone, with the tool's own reply limits
// (250 ms for a flash reply, a second for any other) against a phone's own times. Whatever
// the fault, a line either ends with every task Done and its phone holding the image and
// its own calibration, or fails and says why; it never reports Done over different data,
// and the job ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "support/sim_job_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::FaultAction;
using sim::RequestKind;

// Phones with the simulator's own erase and restart times.
Timing RealLimits() {
    Timing t = test::FaultJobTiming();
    // Still several times the phone's erase, but a lost erase reply costs seconds, not a minute.
    t.eraseReplyLimit = 5s;
    t.dataResetPause = 1500ms;  // well over the phone's restart
    t.calRecordGap = 1ms;
    return t;
}

struct FaultCase {
    const char* what;
    sim::FaultOptions faults;
};

sim::FaultOptions Rule(FaultAction action, RequestKind target, std::uint64_t nth = 1) {
    sim::FaultOptions f;
    f.rules = {{action, target, nth}};
    return f;
}

// Runs one job with a phone per case and holds every line to the rule above.
void RunAndJudge(const std::vector<FaultCase>& cases) {
    std::vector<sim::PhoneOptions> options;
    for (const FaultCase& c : cases) {
        sim::PhoneOptions o;  // a phone's own times
        o.bootGap = 300ms;
        o.faults = c.faults;
        options.push_back(o);
    }
    test::SimJob run(options, RealLimits());
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_ALL, true), 1);
    const auto started = std::chrono::steady_clock::now();
    const int finished = run.Run(40s);
    const auto took = std::chrono::steady_clock::now() - started;

    for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
        SCOPED_TRACE(std::string("line ") + std::to_string(i + 1) + ", " + cases[static_cast<std::size_t>(i)].what);
        const std::vector<int> outcomes = run.Outcomes(i);
        const std::string status = run.Status(i);
        const bool done = outcomes == std::vector<int>(outcomes.size(), TASK_DONE);
        const bool failed = std::find(outcomes.begin(), outcomes.end(), TASK_FAIL) != outcomes.end();
        EXPECT_TRUE(done || failed) << "still running after 40 s; status: " << status;
        if (done) {
            EXPECT_EQ(run.Differences(i), "") << "Done over different data";
        }
        if (failed) {
            EXPECT_NE(status, "") << "failed without a word";
        }
        std::cerr << "[ fault job ] line " << i + 1 << " (" << cases[static_cast<std::size_t>(i)].what
                  << "): " << (done ? "Done" : failed ? "failed" : "hung") << ", status \"" << status
                  << "\"" << (done ? run.Differences(i) : "") << "\n";
    }
    EXPECT_EQ(finished, static_cast<int>(cases.size()));
    std::cerr << "[ fault job ] " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
              << " ms\n";
}

TEST(FaultJob, ReplyFaultsInTheCalibrationPhasesNeverEndDoneOverWrongData) {
    sim::FaultOptions noisy;
    noisy.noiseRate = 0.3;
    noisy.seed = 7;
    RunAndJudge({
        {"page reply cut off, then silence", Rule(FaultAction::Cut, RequestKind::PageRead, 2)},
        {"short page reply", Rule(FaultAction::Short, RequestKind::PageRead, 4)},
        {"silent after page 0", Rule(FaultAction::Silent, RequestKind::PageRead, 2)},
        {"page reply sent twice", Rule(FaultAction::Duplicate, RequestKind::PageRead, 1)},
        {"setting read answered late", Rule(FaultAction::Late, RequestKind::SettingRead)},
        {"setting write answered short", Rule(FaultAction::Short, RequestKind::SettingWrite)},
        {"loopback echo cut off", Rule(FaultAction::Cut, RequestKind::Probe)},
        {"noise with start bytes before replies", noisy},
    });
}

TEST(FaultJob, FlashFaultsAndDisconnectsInUnlimitedWaitsEndEveryLine) {
    RunAndJudge({
        {"block 3 answered late", Rule(FaultAction::Late, RequestKind::Block, 2)},
        {"block reply sent twice", Rule(FaultAction::Duplicate, RequestKind::Block, 4)},
        {"erase reply cut off", Rule(FaultAction::Cut, RequestKind::Erase, 2)},
        {"unplugged during boot-load probing", Rule(FaultAction::Vanish, RequestKind::BootProbe)},
        {"unplugged during the erase", Rule(FaultAction::Vanish, RequestKind::Erase, 2)},
        {"unplugged during the file-system handshake", Rule(FaultAction::Vanish, RequestKind::Access)},
        {"unplugged during the setting read", Rule(FaultAction::Vanish, RequestKind::SettingRead)},
        {"unplugged during the setting write", Rule(FaultAction::Vanish, RequestKind::SettingWrite)},
    });
}

TEST(FaultJob, RandomLineFaultsOnEveryPhoneNeverEndDoneOverWrongData) {
    // Replies jittered up to past the flash reply limit, now and then late, doubled, lost,
    // damaged or behind noise; each phone draws its own from its number.
    sim::FaultOptions line;
    line.jitter = 300ms;
    line.lateRate = line.duplicateRate = line.dropRate = 0.02;
    line.noiseRate = 0.05;
    line.corruptRate = 0.001;
    RunAndJudge(std::vector<FaultCase>(8, FaultCase{"random line faults", line}));
}

}  // namespace
}  // namespace zolt
