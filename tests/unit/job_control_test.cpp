// Job control without real ports: task lists, probing, and the checks before a job starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "job/job_control.h"
#include "support/catalog_text.h"
#include "support/fake_prober.h"
#include "support/recording_prompt.h"
#include "support/recording_sink.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using test::FakeProber;
using test::RecordingPrompt;
using test::RecordingSink;
using test::RecordingView;

struct JobControlFixture : ::testing::Test {
    RecordingView view;
    RecordingPrompt prompt;
    RecordingSink sink;
    FakeProber* prober = nullptr;
    std::unique_ptr<JobControl> job;

    void SetUp() override {
        auto fake = std::make_unique<FakeProber>();
        prober = fake.get();
        job = std::make_unique<JobControl>(view, prompt, sink, std::move(fake));
        prompt.Clear();  // the lines' catalogue messages, when the folder has no calibration.ini
    }
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (int i = 0; i < job->tasks.taskCount; ++i) codes.push_back(job->tasks.tasks[i].code);
        return codes;
    }
};

TEST_F(JobControlFixture, TaskListsOfEachChoiceAndUpdateFlag) {
    ASSERT_EQ(job->BuildTaskList(CHOICE_ALL, false), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{2, 3, 4}));
    ASSERT_EQ(job->BuildTaskList(CHOICE_ALL, true), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{5, 2, 3, 4, 6}));
    ASSERT_EQ(job->BuildTaskList(CHOICE_BOOT, true), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{2}));
    ASSERT_EQ(job->BuildTaskList(CHOICE_CP, false), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{3}));
    job->config.updateFlag = 4;
    ASSERT_EQ(job->BuildTaskList(CHOICE_CP, false), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{3, 4}));
    job->config.updateFlag = 2;
    ASSERT_EQ(job->BuildTaskList(CHOICE_CP, false), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{3}));
    ASSERT_EQ(job->BuildTaskList(CHOICE_DATA, false), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{4}));
    ASSERT_EQ(job->BuildTaskList(CHOICE_SCRIPT, false), 1);
    EXPECT_EQ(Codes(), (std::vector<int>{7}));
    // Unknown choices leave the list as it was.
    for (int choice : {0, 5, 6, 8, -1}) EXPECT_EQ(job->BuildTaskList(choice, true), 0);
    EXPECT_EQ(Codes(), (std::vector<int>{7}));
    EXPECT_EQ(job->tasks.tasks[0].status.load(), TASK_WAIT);
}

TEST_F(JobControlFixture, ProbingListsPortsTopDownWithTheirStatesOnce) {
    prober->candidates = {"COM5", "COM4", "COM3", "COM2", "COM1"};
    prober->states = {{"COM4", PORT_USED_BY_OTHERS}, {"COM3", PORT_FREE}, {"COM1", PORT_FREE}};
    job->ProbePorts();
    ASSERT_EQ(job->portList.size(), 3u);
    EXPECT_EQ(job->portList[0].name, "Com4");
    EXPECT_EQ(job->portList[0].state, PORT_USED_BY_OTHERS);
    EXPECT_EQ(job->portList[1].name, "Com3");
    EXPECT_EQ(job->portList[2].name, "Com1");
    for (const auto& row : job->portList) EXPECT_EQ(row.baud, 115200);
    EXPECT_STREQ(PortStateText(job->portList[0].state), "Disable");
    EXPECT_STREQ(PortPhoneText(job->portList[0].state), "Used by others");
    EXPECT_STREQ(PortPhoneText(job->portList[1].state), "No Phone");

    // A port plugged in later is appended; listed ports are not probed again.
    prober->probed.clear();
    prober->states["COM2"] = PORT_FREE;
    job->ProbePorts();
    ASSERT_EQ(job->portList.size(), 4u);
    EXPECT_EQ(job->portList[3].name, "Com2");
    EXPECT_EQ(prober->probed, (std::vector<std::string>{"COM5", "COM2"}));
}

TEST_F(JobControlFixture, HeldRowIsRefusedWithAMessage) {
    prober->candidates = {"COM4"};
    prober->states = {{"COM4", PORT_USED_BY_OTHERS}};
    job->SelectPorts([](const std::vector<PortEntry>& rows) {
        EXPECT_EQ(rows.size(), 1u);
        return std::optional<std::vector<int>>(std::vector<int>{0, 7});  // 7: no such row, ignored
    });
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{"Port has been used!"}));
    EXPECT_EQ(prompt.messages()[0].icon, PromptIcon::Error);
    for (const auto& line : job->lines) EXPECT_FALSE(line.port.IsOpen());
}

TEST_F(JobControlFixture, StartChecksInOrderAndTheTimerStartsAnyway) {
    EXPECT_EQ(job->StartJob("", "."), 0);
    EXPECT_TRUE(view.timer);
    EXPECT_EQ(prompt.messages().back(),
              (RecordingPrompt::Message{"Please select the binary file for done.", PromptIcon::Information}));
    EXPECT_EQ(job->StartJob("image.bin", "."), 0);
    EXPECT_EQ(prompt.texts().back(), "Please select the actions for done.");

    job->StopJob();
    EXPECT_FALSE(view.timer);
}

TEST_F(JobControlFixture, StartWithAnImageThatNoLongerMatchesSaysSo) {
    const auto path = std::filesystem::temp_directory_path() / "zolt-job-control-mismatch.bin";
    std::ofstream(path, std::ios::binary) << std::string(64, 'x');
    job->BuildTaskList(CHOICE_ALL, false);
    EXPECT_EQ(job->StartJob(path.string(), "."), 0);
    std::filesystem::remove(path);
    EXPECT_EQ(prompt.messages().back(), (RecordingPrompt::Message{"File format error !", PromptIcon::Error}));
    EXPECT_FALSE(job->IsAnyLineRunning());
}

// Done refuses, before any line starts, an image too short for a section the tasks write, a
// calibration job without a usable catalogue, and a backup into a folder that takes no files;
// the catalogue is read afresh, so one put in place after start-up is used.
TEST(JobControlChecks, DoneRefusesWhatWouldFailHalfWayThroughTheJob) {
    RecordingView view;
    RecordingPrompt prompt;
    RecordingSink sink;
    const test::TempDir dir;
    JobControl job(view, prompt, sink, std::make_unique<FakeProber>(), TaskRunners::Standard(), dir.path().string());
    job.config.checkInfo = job.config.mobileName = "";  // a zero-filled image then matches
    job.config.bootSize = 100;
    const std::string image = dir.Write("image.bin", std::string(64, '\0'));
    const std::string folder = dir.path().string();
    struct Case {
        int choice;
        bool withCal;
        std::string workDir;
        std::string said;
    };
    const Case cases[] = {
        {CHOICE_BOOT, false, folder, "too short by 36 bytes for its Boot section"},
        {CHOICE_ALL, true, folder, "Couldn't open file: " + folder},
        {CHOICE_ALL, true, "/proc", "the work folder /proc cannot take new files"},
        {CHOICE_ALL, true, folder, "Please select the ports for done."},
    };
    for (const Case& c : cases) {
        if (c.said.starts_with("the work")) test::WriteCatalog(dir.path(), {{"RxGain", 1, 2, 0, 8}});
        job.config.bootSize = c.choice == CHOICE_BOOT ? 100 : 0;
        job.BuildTaskList(c.choice, c.withCal);
        EXPECT_EQ(job.StartJob(image, c.workDir), 0);
        EXPECT_NE(prompt.texts().back().find(c.said), std::string::npos) << prompt.texts().back();
    }
    EXPECT_EQ(job.lines[7].cal.catalog.pageCount, 1);
}

TEST_F(JobControlFixture, EventsFromBadLinesOrTasksAreIgnored) {
    job->BuildTaskList(CHOICE_BOOT, false);
    view.ShowTaskList(job->tasks);
    view.log.clear();
    job->OnLineEvent(WM_PORT_TASK_DONE, 0, 0);
    job->OnLineEvent(WM_PORT_TASK_DONE, 0, 9);
    job->OnLineEvent(WM_PORT_TASK_DONE, 99, 1);
    job->OnLineEvent(WM_PORT_FAILED, 0, -3);
    EXPECT_TRUE(view.log.empty());
}

}  // namespace
}  // namespace zolt
