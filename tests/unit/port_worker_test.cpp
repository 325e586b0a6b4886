// The worker loop: which runners run, with which firstTask, what each outcome leaves in the
// task list, which events reach the owner, and Stop.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "job/port_session.h"
#include "support/recording_sink.h"
#include "support/scripted_device.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::LineEvent;
using test::RecordingSink;
using test::ScriptedDevice;

struct WorkerFixture : ::testing::Test {
    TaskList tasks;
    Config config;
    RecordingSink sink;
    TaskRunners runners;
    JobContext job;
    PortSession line;
    ScriptedDevice device{line.stop};
    std::mutex callsMutex;
    std::vector<std::pair<int, bool>> calls;  // code, firstTask

    void SetUp() override {
        job = {&tasks, &config, {}, &sink, nullptr, &runners};
        line.device = &device;
        line.lineNumber = 5;
        for (std::uint8_t code = TASK_UPDATE_BOOT; code <= TASK_SCRIPT; ++code) Succeed(code);
    }
    void Succeed(std::uint8_t code) { runners.Set(code, Recorder(code, RESULT_OK)); }
    void Fail(std::uint8_t code) { runners.Set(code, Recorder(code, RESULT_FAIL)); }
    TaskRunner Recorder(std::uint8_t code, int result) {
        return [this, code, result](PortSession&, bool first) {
            std::lock_guard lock(callsMutex);
            calls.emplace_back(code, first);
            return result;
        };
    }
    void RunToEnd() {
        line.StartWorker(&job, 4, "work");
        line.thread.join();
        EXPECT_FALSE(line.IsRunning());
    }
};

TEST_F(WorkerFixture, FirstTaskIsTrueOnlyForEntryZeroAndOnlyForCpAndData) {
    tasks.Assign({TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA});
    RunToEnd();
    EXPECT_EQ(calls, (std::vector<std::pair<int, bool>>{{2, false}, {3, false}, {4, false}}));

    calls.clear();
    tasks.Assign({TASK_UPDATE_CP, TASK_UPDATE_DATA});
    RunToEnd();
    EXPECT_EQ(calls, (std::vector<std::pair<int, bool>>{{3, true}, {4, false}}));

    calls.clear();
    tasks.Assign({TASK_UPDATE_DATA});
    RunToEnd();
    EXPECT_EQ(calls, (std::vector<std::pair<int, bool>>{{4, true}}));
}

TEST_F(WorkerFixture, SuccessfulListMarksEveryTaskDoneAndEndsWithAllDone) {
    tasks.Assign({TASK_BACKUP_CAL, TASK_UPDATE_BOOT, TASK_RESTORE_CAL});
    RunToEnd();
    EXPECT_EQ(sink.events(), (std::vector<LineEvent>{{WM_PORT_TASK_DONE, 0, 5},
                                                     {WM_PORT_TASK_DONE, 1, 5},
                                                     {WM_PORT_TASK_DONE, 2, 5},
                                                     {WM_PORT_ALL_DONE, 0, 5}}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tasks.tasks[i].status.load(), TASK_DONE);
        EXPECT_EQ(tasks.LineOutcome(i, 4), TASK_DONE);
        EXPECT_EQ(tasks.LineOutcome(i, 0), TASK_WAIT);  // other lines untouched
    }
}

TEST_F(WorkerFixture, CodesWithoutRunnerFailAtOnceSendingNothing) {
    for (std::uint8_t code : {0, 1, 8}) {
        tasks.Assign({code, TASK_UPDATE_BOOT});
        calls.clear();
        RunToEnd();
        EXPECT_EQ(tasks.tasks[0].status.load(), TASK_FAIL) << int(code);
        EXPECT_EQ(tasks.tasks[1].status.load(), TASK_WAIT) << int(code);
        EXPECT_TRUE(calls.empty());
    }
    EXPECT_TRUE(device.writes().empty());
}

TEST_F(WorkerFixture, FailureStopsTheListLeavingLaterTasksWaitingWithoutAllDone) {
    Fail(TASK_UPDATE_CP);
    tasks.Assign({TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA, TASK_RESTORE_CAL});
    RunToEnd();
    EXPECT_EQ(sink.events(), (std::vector<LineEvent>{{WM_PORT_TASK_DONE, 0, 5},
                                                     {WM_PORT_TASK_DONE, 1, 5},
                                                     {WM_PORT_FAILED, 1, 5}}));
    EXPECT_EQ(tasks.tasks[0].status.load(), TASK_DONE);
    EXPECT_EQ(tasks.tasks[1].status.load(), TASK_FAIL);
    EXPECT_EQ(tasks.tasks[2].status.load(), TASK_WAIT);
    EXPECT_EQ(tasks.tasks[3].status.load(), TASK_WAIT);
}

TEST_F(WorkerFixture, EmptyListPostsOnlyAllDone) {
    tasks.Assign({});
    RunToEnd();
    EXPECT_EQ(sink.events(), (std::vector<LineEvent>{{WM_PORT_ALL_DONE, 0, 5}}));
}

TEST_F(WorkerFixture, RunnerThatThrowsFailsItsTaskInsteadOfEndingTheProgram) {
    const std::vector<std::pair<TaskRunner, std::string>> cases = {
        {[](PortSession&, bool) -> int { throw std::runtime_error("boom"); }, "Internal error: boom"},
        {[](PortSession&, bool) -> int { throw 7; }, "Internal error!"},
    };
    for (const auto& [runner, text] : cases) {
        runners.Set(TASK_UPDATE_BOOT, runner);
        tasks.Assign({TASK_UPDATE_BOOT});
        RunToEnd();
        EXPECT_EQ(tasks.tasks[0].status.load(), TASK_FAIL);
        EXPECT_EQ(sink.events().back(), (LineEvent{WM_PORT_FAILED, 0, 5}));
        EXPECT_EQ(line.statusText.Get(), text);
    }
}

// A message box from a worker that nobody closes: it goes away only when the line is stopped,
// as a window's box does.
struct OperatorAway : Prompt {
    const StopSignal& stop;
    explicit OperatorAway(const StopSignal& s) : stop(s) {}
    void ShowMessage(std::string_view, PromptIcon) override { ADD_FAILURE() << "a worker's box must be closable"; }
    void ShowLineMessage(std::string_view, PromptIcon, std::intptr_t) override { (void)stop.WaitFor(Millis(-1)); }
};

TEST_F(WorkerFixture, StopEndsAWaitAndAPausePromptlyAndSilencesTheWorker) {
    // One runner waits for a reply that never comes, one pauses for a long time, one shows the
    // operator a message that nobody reads.
    runners.Set(TASK_UPDATE_BOOT, [](PortSession& l, bool) { return l.WaitForAnyFrame() > 0 ? 0 : 255; });
    runners.Set(TASK_UPDATE_DATA, [](PortSession& l, bool) {
        l.Pause(std::chrono::hours(1));
        return 0;
    });
    OperatorAway away(line.stop);
    runners.Set(TASK_BACKUP_CAL, [&away](PortSession& l, bool) {
        l.Tell(away, "Couldn't open file: ", PromptIcon::None);
        return 0;
    });
    for (std::uint8_t code : {TASK_UPDATE_BOOT, TASK_UPDATE_DATA, TASK_BACKUP_CAL}) {
        tasks.Assign({code, TASK_UPDATE_CP});
        const auto before = sink.events().size();
        line.StartWorker(&job, 4, "work");
        std::this_thread::sleep_for(30ms);
        ASSERT_TRUE(line.IsRunning());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(line.StopWorker());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
        EXPECT_FALSE(line.IsRunning());
        EXPECT_EQ(sink.events().size(), before);
        EXPECT_EQ(tasks.tasks[0].status.load(), TASK_WAIT);
    }
    // The line can run the next job.
    Succeed(TASK_UPDATE_BOOT);
    tasks.Assign({TASK_UPDATE_BOOT});
    RunToEnd();
    EXPECT_EQ(sink.events().back(), (LineEvent{WM_PORT_ALL_DONE, 0, 5}));
}

TEST_F(WorkerFixture, StopOfAnIdleLineDoesNothing) {
    EXPECT_FALSE(line.StopWorker());
    tasks.Assign({TASK_UPDATE_BOOT});
    RunToEnd();
    EXPECT_FALSE(line.StopWorker());  // ended by itself: nothing to stop
    EXPECT_EQ(sink.events().size(), 2u);
}

TEST_F(WorkerFixture, DisplayReadsStatusAndProgressWhileTheWorkerWritesThem) {
    runners.Set(TASK_UPDATE_BOOT, [](PortSession& l, bool) {
        for (std::uint32_t i = 0; i < 20000; ++i) {
            l.flashBlockCount.store(static_cast<std::int32_t>(i % 50 + 1));
            l.flashBlock.store(i);
            l.SetStatusText(i % 2 ? "Flash writing...(Boot)" : "Flash erasing...(Boot)");
        }
        return 0;
    });
    tasks.Assign({TASK_UPDATE_BOOT});
    line.StartWorker(&job, 4, "work");
    while (!sink.WaitFor(WM_PORT_ALL_DONE, 1, 0ms)) {
        const std::string text = line.statusText.Get();
        EXPECT_TRUE(text.empty() || text == "Flash writing...(Boot)" || text == "Flash erasing...(Boot)");
        EXPECT_LE(line.flashBlockCount.load(), 50);
        (void)line.flashBlock.load();
    }
    line.thread.join();
}

TEST_F(WorkerFixture, EightLinesKeepTheirOwnOutcomes) {
    std::array<PortSession, LINE_COUNT> lines;
    runners.Set(TASK_UPDATE_CP, [](PortSession& l, bool) { return l.lineNumber == 3 ? RESULT_FAIL : RESULT_OK; });
    tasks.Assign({TASK_UPDATE_CP, TASK_UPDATE_DATA});
    for (int i = 0; i < LINE_COUNT; ++i) {
        lines[i].lineNumber = i + 1;
        lines[i].StartWorker(&job, i, "work");
    }
    for (auto& l : lines) l.thread.join();
    for (int i = 0; i < LINE_COUNT; ++i) {
        EXPECT_EQ(tasks.LineOutcome(0, i), i == 2 ? TASK_FAIL : TASK_DONE) << i;
        EXPECT_EQ(tasks.LineOutcome(1, i), i == 2 ? TASK_WAIT : TASK_DONE) << i;
    }
    int allDone = 0;
    for (const auto& e : sink.events()) {
        EXPECT_GE(e.lParam, 1);
        EXPECT_LE(e.lParam, 8);
        allDone += e.message == WM_PORT_ALL_DONE;
    }
    EXPECT_EQ(allDone, 7);
}

TEST(TaskList, NamesAndStatusWords) {
    EXPECT_EQ(TaskName(TASK_BACKUP_CAL), "Backup Cal-Data");
    EXPECT_EQ(TaskName(9), "Unknown task");
    EXPECT_EQ(TaskStatusName(TASK_FAIL), "Fail");
    EXPECT_EQ(TaskStatusName(0), "Unknown");
    TaskList list;
    EXPECT_FALSE(list.ResetStatuses());
    list.Assign({2, 3, 4, 5, 6, 7, 2, 3, 4});  // cut to eight entries
    EXPECT_EQ(list.taskCount, MAX_TASKS);
}

}  // namespace
}  // namespace zolt
