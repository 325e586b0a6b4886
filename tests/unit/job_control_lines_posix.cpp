// Job control with real ports (pseudo-terminals) and stand-in runners: attaching lines,
// running, failing and stopping a job.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "job/job_control.h"
#include "support/fake_prober.h"
#include "support/pty_posix.h"
#include "support/recording_prompt.h"
#include "support/recording_sink.h"
#include "support/recording_view.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::FakeProber;
using test::Pty;
using test::RecordingPrompt;
using test::RecordingSink;
using test::RecordingView;

// The records job control hands on, in the order it hands them.
struct RecordsKept : LineRecorder {
    std::vector<LineRecord> records;
    void Record(LineRecord record) override { records.push_back(std::move(record)); }
};

struct LinesFixture : ::testing::Test {
    RecordsKept recorder;
    RecordingView view;
    RecordingPrompt prompt;
    RecordingSink sink;
    FakeProber* prober = nullptr;
    std::unique_ptr<JobControl> job;
    std::vector<std::unique_ptr<Pty>> ptys;
    std::filesystem::path script;

    void SetUp() override { Make(TaskRunners{}); }
    void Make(TaskRunners runners) {
        job.reset();
        auto fake = std::make_unique<FakeProber>();
        prober = fake.get();
        job = std::make_unique<JobControl>(view, prompt, sink, std::move(fake), std::move(runners));
        job->SetRecorder(&recorder);
        prompt.Clear();  // the lines' catalogue messages, when the folder has no calibration.ini
        Timing fast = Timing::Standard();
        fast.threadStartGap = 1ms;
        fast.stopPause = 1ms;
        job->SetTiming(fast);
    }
    void TearDown() override {
        job.reset();
        if (!script.empty()) std::filesystem::remove(script);
    }
    // n free ports on the made-up machine, listed in this order.
    void MachineWith(int n) {
        for (int i = 0; i < n; ++i) {
            ptys.push_back(std::make_unique<Pty>());
            prober->candidates.push_back(ptys.back()->path());
            prober->states[ptys.back()->path()] = PORT_FREE;
        }
    }
    void SelectAll() {
        job->SelectPorts([](const std::vector<PortEntry>& rows) {
            std::vector<int> all;
            for (std::size_t i = 0; i < rows.size(); ++i) all.push_back(static_cast<int>(i));
            return std::optional<std::vector<int>>(all);
        });
    }
    std::string Script() {
        script = std::filesystem::temp_directory_path() /
                 ("zolt-job-" + std::to_string(::getpid()) + ".srp");
        std::ofstream(script) << "ETS, Id=CP Power, Power=Down\nEND\n";
        return script.string();
    }
    // Starts a script job on `lines` ports whose one task is `runner`; returns the lines started.
    int StartScriptJob(int lines, TaskRunner runner) {
        TaskRunners runners;
        runners.Set(TASK_SCRIPT, std::move(runner));
        Make(std::move(runners));
        MachineWith(lines);
        SelectAll();
        EXPECT_EQ(job->BuildTaskList(CHOICE_SCRIPT, false), 1);
        return job->StartJob(Script(), ".");
    }
    // Runs events to the job control as a front end would, until `count` lines finished.
    void Follow(int count) {
        ASSERT_TRUE(sink.WaitFor(WM_PORT_ALL_DONE, 0));
        for (int finished = 0, seen = 0; finished < count;) {
            auto events = sink.events();
            for (; seen < static_cast<int>(events.size()); ++seen) {
                const auto& e = events[seen];
                job->OnLineEvent(e.message, e.wParam, e.lParam);
                finished += e.message == WM_PORT_ALL_DONE || e.message == WM_PORT_FAILED;
            }
            std::this_thread::sleep_for(1ms);
        }
    }
};

TEST_F(LinesFixture, ThreeFreeRowsWithTwoFreeLinesAttachTheFirstTwo) {
    MachineWith(9);
    SelectAll();
    for (int i = 0; i < LINE_COUNT; ++i) {
        EXPECT_TRUE(job->lines[i].port.IsOpen()) << i;
        EXPECT_EQ(job->lines[i].portName, ptys[i]->path());
        EXPECT_EQ(job->portList[i].state, PORT_CONNECTED);
        EXPECT_TRUE(view.panels[i].attached);
    }
    EXPECT_EQ(job->portList[8].state, PORT_FREE);  // no line left for it; silently ignored
    EXPECT_TRUE(prompt.messages().empty());

    // Choosing a row that a line holds already is refused.
    job->SelectPorts([](const std::vector<PortEntry>&) { return std::optional<std::vector<int>>(std::vector<int>{0}); });
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{"Port has been used!"}));
}

TEST_F(LinesFixture, CancelledChoiceAttachesNothing) {
    MachineWith(2);
    job->SelectPorts([](const std::vector<PortEntry>&) { return std::optional<std::vector<int>>(); });
    for (const auto& line : job->lines) EXPECT_FALSE(line.port.IsOpen());
}

TEST_F(LinesFixture, OneLineFailsWhileTheOthersSucceed) {
    ASSERT_EQ(StartScriptJob(3,
                             [](PortSession& line, bool) {
                                 line.SetStatusText(line.lineNumber == 2 ? "Link error!" : "Script done");
                                 return line.lineNumber == 2 ? RESULT_FAIL : RESULT_OK;
                             }),
              3);
    Follow(3);
    EXPECT_FALSE(job->IsAnyLineRunning());
    EXPECT_EQ(view.panels[0].status, "Script done");
    EXPECT_EQ(view.panels[1].status, "Link error!");
    EXPECT_EQ(view.grid[0][1], "Done");
    EXPECT_EQ(view.grid[0][2], "Fail");
    EXPECT_EQ(view.grid[0][3], "Done");
    EXPECT_EQ(view.grid[0][4], "Wait");  // line 4 had no port
    EXPECT_TRUE(view.timer);             // keeps ticking after the job
    EXPECT_TRUE(view.imageShown);        // the reload shows the (cleared) information
    // One record a line, each with its own outcome and the status its task ended with.
    ASSERT_EQ(recorder.records.size(), 3u);
    for (const LineRecord& r : recorder.records) {
        const bool second = r.line == 2;
        EXPECT_EQ(r.outcome, second ? "failed" : "ok");
        EXPECT_EQ(r.port, ptys[static_cast<std::size_t>(r.line - 1)]->path());
        EXPECT_EQ(r.update, "script");
        EXPECT_EQ(r.imageSha256.size(), 64u);
        ASSERT_EQ(r.tasks.size(), 1u);
        EXPECT_EQ(r.tasks[0].outcome, second ? "Fail" : "Done");
        EXPECT_EQ(r.tasks[0].status, second ? "Link error!" : "Script done");
        EXPECT_LE(r.startedMs, r.endedMs);
    }
}

TEST_F(LinesFixture, ResetDuringAJobStopsEveryLineAndKeepsThemAttached) {
    ASSERT_EQ(StartScriptJob(2,
                             [](PortSession& line, bool) {
                                 line.SetStatusText("Restore wait for success.");
                                 return line.WaitForAnyFrame() > 0 ? RESULT_OK : RESULT_FAIL;
                             }),
              2);
    std::this_thread::sleep_for(20ms);
    job->OnTimer();
    EXPECT_EQ(view.panels[0].status, "Restore wait for success.");

    const auto start = std::chrono::steady_clock::now();
    job->StopJob();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(job->IsAnyLineRunning());
    EXPECT_FALSE(view.timer);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(job->lines[i].port.IsOpen());
        EXPECT_EQ(view.panels[i].status, "Waiting ...");
        EXPECT_EQ(view.grid[0][i + 1], "Wait");
    }
    EXPECT_TRUE(sink.events().empty());
    // Each stopped line was recorded before the stop set its tasks back.
    ASSERT_EQ(recorder.records.size(), 2u);
    for (const LineRecord& r : recorder.records) EXPECT_EQ(r.outcome, "stopped") << r.line;

    // The next job runs on the same lines.
    ASSERT_EQ(job->StartJob(script.string(), "."), 2);
    job->StopJob();
}

// A stop records every line of the job: the one it stopped, and the one that had just ended
// with its end still waiting to be handled, each with its own outcome.
TEST_F(LinesFixture, AStopRecordsAlsoTheLinesWhoseEndWasStillQueued) {
    ASSERT_EQ(StartScriptJob(2,
                             [](PortSession& line, bool) {
                                 if (line.lineNumber == 1) return RESULT_OK;
                                 return line.WaitForAnyFrame() > 0 ? RESULT_OK : RESULT_FAIL;
                             }),
              2);
    ASSERT_TRUE(sink.WaitFor(WM_PORT_ALL_DONE));
    job->StopJob();
    ASSERT_EQ(recorder.records.size(), 2u);
    for (const LineRecord& r : recorder.records) EXPECT_EQ(r.outcome, r.line == 1 ? "ok" : "stopped") << r.line;
}

// A station's lines: each phone runs alone on its line, while the other line is busy, with its
// own outcome and its own record; preparing starts nothing.
TEST_F(LinesFixture, EachLineRunsItsPhonesOnItsOwn) {
    std::atomic<int> phone{0};
    TaskRunners runners;
    runners.Set(TASK_SCRIPT, [&](PortSession& line, bool) {
        if (line.lineNumber == 2) return line.WaitForAnyFrame() > 0 ? RESULT_OK : RESULT_FAIL;
        return ++phone == 1 ? RESULT_FAIL : RESULT_OK;  // the first phone of line 1 fails
    });
    Make(std::move(runners));
    MachineWith(2);
    SelectAll();
    ASSERT_EQ(job->BuildTaskList(CHOICE_SCRIPT, false), 1);
    ASSERT_TRUE(job->PrepareLines(Script(), "."));
    EXPECT_FALSE(job->IsAnyLineRunning());
    ASSERT_TRUE(job->StartLine(1));
    for (const char* outcome : {"failed", "ok"}) {
        const auto ended = sink.events().size();
        ASSERT_TRUE(job->StartLine(0));
        ASSERT_TRUE(sink.WaitFor(std::string(outcome) == "ok" ? WM_PORT_ALL_DONE : WM_PORT_FAILED));
        const auto events = sink.events();
        for (auto e = events.begin() + static_cast<long>(ended); e != events.end(); ++e) {
            job->OnLineEvent(e->message, e->wParam, e->lParam);
        }
        ASSERT_FALSE(recorder.records.empty());
        EXPECT_EQ(recorder.records.back().line, 1);
        EXPECT_EQ(recorder.records.back().outcome, outcome);
    }
    EXPECT_TRUE(job->lines[1].IsRunning()) << "line 2 never waited for line 1";
    job->StopLine(1);
    ASSERT_EQ(recorder.records.size(), 3u);
    EXPECT_EQ(recorder.records.back().outcome, "stopped");
}

// A port that goes away fails its line's task with a clear text within the limit, and the
// line waits for that without spinning; the other lines go on.
TEST_F(LinesFixture, LineWhosePortGoesAwayFailsWithoutSpinning) {
    TaskRunners runners;
    runners.Set(TASK_SCRIPT, [](PortSession& line, bool) { return line.BootLoad(); });
    Make(std::move(runners));
    Timing timing = Timing::Standard();
    timing.bootProbeGap = 1ms;
    timing.portLostLimit = 400ms;
    job->SetTiming(timing);
    MachineWith(2);
    SelectAll();
    ASSERT_EQ(job->BuildTaskList(CHOICE_SCRIPT, false), 1);
    ASSERT_EQ(job->StartJob(Script(), "."), 2);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    ptys[0]->Unplug();
    ASSERT_TRUE(sink.WaitFor(WM_PORT_FAILED, 1, 5s));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage& r) {
        return std::chrono::seconds(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               std::chrono::microseconds(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
    };
    EXPECT_LT(cpu(after) - cpu(before), 200ms) << "a lost port must not be polled in a loop";
    EXPECT_EQ(job->lines[0].statusText.Get(), "Serial port " + ptys[0]->path() + " lost!");
    EXPECT_EQ(sink.events().front(), (test::LineEvent{WM_PORT_TASK_DONE, 0, 1}));
    EXPECT_TRUE(job->lines[1].IsRunning());  // still waiting for its boot loader
    job->StopJob();
}

// A line whose adapter was pulled is opened again by the next start, by the same name, so
// that swapping a phone needs no restart; while the name leads nowhere, that line alone fails.
TEST_F(LinesFixture, LostPortIsOpenedAgainAtTheNextStartOrFailsItsLineAlone) {
    TaskRunners runners;
    runners.Set(TASK_SCRIPT, [](PortSession& line, bool) { return line.BootLoad(); });
    Make(std::move(runners));
    Timing timing = Timing::Standard();
    timing.bootProbeGap = 1ms;
    timing.portLostLimit = 100ms;
    timing.threadStartGap = 1ms;
    timing.stopPause = 1ms;
    job->SetTiming(timing);
    MachineWith(2);
    // Line 1 is attached by a stable name, as /dev/serial/by-path gives one.
    const std::filesystem::path link = std::filesystem::temp_directory_path() /
                                       ("zolt-port-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(ptys[0]->path(), link);
    prober->candidates[0] = link.string();
    prober->states[link.string()] = PORT_FREE;
    SelectAll();
    ASSERT_EQ(job->BuildTaskList(CHOICE_SCRIPT, false), 1);
    ASSERT_EQ(job->StartJob(Script(), "."), 2);
    ptys[0]->Unplug();
    ASSERT_TRUE(sink.WaitFor(WM_PORT_FAILED, 1, 5s));

    job->StopJob();
    ASSERT_EQ(job->StartJob(script.string(), "."), 2);
    ASSERT_TRUE(sink.WaitFor(WM_PORT_FAILED, 2, 5s));
    EXPECT_EQ(job->lines[0].statusText.Get(), "Serial port " + link.string() + " could not be opened again!");
    EXPECT_TRUE(job->lines[1].IsRunning());

    ptys.push_back(std::make_unique<Pty>());  // the phone is back, on another device
    std::filesystem::remove(link);
    std::filesystem::create_symlink(ptys.back()->path(), link);
    job->StopJob();
    ASSERT_EQ(job->StartJob(script.string(), "."), 2);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(job->lines[0].IsRunning());
    EXPECT_NE(job->lines[0].statusText.Get().find("boot"), std::string::npos) << job->lines[0].statusText.Get();
    job->StopJob();
    std::filesystem::remove(link);
}

TEST_F(LinesFixture, StartWithoutAttachedLinesSaysSo) {
    ASSERT_EQ(job->BuildTaskList(CHOICE_SCRIPT, false), 1);
    EXPECT_EQ(job->StartJob(Script(), "."), 0);
    EXPECT_EQ(prompt.texts().back(), "Please select the ports for done.");
}

}  // namespace
}  // namespace zolt
