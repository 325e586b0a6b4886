// Whole jobs with calibration, run by job control with the standard runners on simulated
// phones over pseudo-terminals: a backup, a reflash that wipes the phones' calibration, and
// the restore must leave every phone's calibration exactly as it came from the factory;
// scripts, refusals and an unusable working folder behave as the operator expects.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cal/backup.h"
#include "sim/cal_handlers.h"
#include "support/sim_job_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::SimBytes;
namespace fs = std::filesystem;

const std::vector<test::SimPage>& PAGES = test::SIM_PAGES;

// Phones without time of their own, short timings, and the records' faults on every phone.
class CalJob : public test::SimJob {
public:
    explicit CalJob(int count, const sim::CalFaults& faults = {})
        : SimJob(std::vector<sim::PhoneOptions>(static_cast<std::size_t>(count), test::TestPhoneOptions()),
                 Timings(), [&](sim::SimPhone& phone) { sim::InstallCalibrationFaults(phone.Handlers(), faults); }) {}

    int RunImage() { return Expect(SimJob::Run(120s)); }
    int Run(const std::string& file, const std::string& workDir) { return Expect(SimJob::Run(120s, file, workDir)); }
    sim::SimPhone& Phone(int i) { return *phones[static_cast<std::size_t>(i)]; }
    // For a test that counts the writes, which a record sent again after a time-out would
    // double: eight lines under ThreadSanitizer on a busy machine may answer past the short
    // receive limit.
    void AllowSlowAnswers() {
        Timing timing = Timings();
        timing.receiveFrameLimit = 2s;
        job->SetTiming(timing);
    }

private:
    int Expect(int finished) {
        EXPECT_EQ(finished, static_cast<int>(phones.size())) << "lines still running";
        return finished;
    }
    static Timing Timings() {
        Timing timing = test::ShortTiming();
        timing.calRecordGap = 1ms;
        timing.backupSettingPause = 5ms;
        timing.backupFileShowPause = 5ms;
        // Longer than the phones' boot gap: the flash after a backup must find a quiet line.
        timing.backupBootWaitPause = 50ms;
        timing.restoreSettingPause = 5ms;
        timing.restoreDonePause = 5ms;
        return timing;
    }
};

SimBytes ReadFile(const fs::path& file) { return test::ReadWholeFile(file); }

TEST(CalJob, BackupFlashAndRestoreLeaveEightPhonesWithTheirOwnCalibration) {
    CalJob run(8);
    run.AllowSlowAnswers();
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_ALL, true), 1);
    ASSERT_EQ(run.RunImage(), 8);

    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        EXPECT_EQ(run.Outcomes(i), std::vector<int>(5, TASK_DONE));
        EXPECT_EQ(run.view.panels[static_cast<std::size_t>(i)].status, " PASS...");
        // The reflash wiped the calibration; the restore brought back every page byte for
        // byte, and the setting.
        EXPECT_TRUE(fs::exists(run.PhoneFolder(i) / "cal-erased"));
        for (const test::SimPage& p : PAGES) EXPECT_EQ(run.PageNow(i, p), CalJob::FactoryPage(i, p)) << p.name;
        EXPECT_EQ(ReadFile(run.PhoneFolder(i) / "cal-setting.bin"), SimBytes{CalJob::FactorySetting(i)});
        run.Phone(i).Inspect([&](const sim::PhoneCore& p) {
            EXPECT_TRUE(p.Flash().Area(IMAGE_DATA) == SimBytes(run.image.begin() + 4000, run.image.begin() + 6000));
            EXPECT_EQ(p.State().Count(sim::ID_DB_WRITE), PAGES.size());
            return 0;
        });
        // The line's calibration file stays in the working folder.
        const fs::path file = CalibrationFilePath(run.work.path().string(), i);
        EXPECT_GT(ReadFile(file).size(), 0u);
    }
    // Phones differ: a calibration restored to the wrong phone would show.
    EXPECT_NE(CalJob::FactoryPage(0, PAGES[3]), CalJob::FactoryPage(1, PAGES[3]));
    EXPECT_TRUE(run.prompt.messages().empty());
}

TEST(CalJob, ScriptPlaysOnlyItsSidbRecords) {
    CalJob run(2);
    const std::string script =
        "ETS, Id=CP Power, Power=Down\n"
        "ETS, Id=CP DB Write, DB id=RF Write, Segment=RfTx, Offset=0, Bytes=2, Write Thru=1, Data=0x01 \n0x02 \n"
        "ETS, Id=CP FFS SIDB WRITE, Type=40, id=9, len=2, offset=0, Data=0x0a 0x0b \n"
        "// the calibration setting\n"
        "ETS, Id=CP FFS SIDB WRITE, Type=18, id=3, len=1, offset=0, Data=0x77 \n"
        "END\n";
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_SCRIPT, false), 1);
    ASSERT_EQ(run.Run(run.work.Write("play.srp", script), run.work.path().string()), 2);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run.Outcomes(i), std::vector<int>{TASK_DONE});
        EXPECT_FALSE(fs::exists(run.PhoneFolder(i) / "cal-1-4.bin"));  // the database write was skipped
        EXPECT_EQ(ReadFile(run.PhoneFolder(i) / "cal-setting.bin"), SimBytes{0x77});
        run.Phone(i).Inspect([&](const sim::PhoneCore& p) {
            EXPECT_EQ(p.State().Count(sim::ID_DB_WRITE), 0u);
            const auto written = p.State().settings.find({40, 9});
            EXPECT_TRUE(written != p.State().settings.end() && written->second == SimBytes({0x0A, 0x0B}));
            return 0;
        });
    }
}

TEST(CalJob, RefusedFirstRecordEndsTheRestoreWithBackupFailButUnansweredIsSentAgain) {
    struct Case {
        sim::CalFaults::Answer answer;
        int outcome;
        const char* status;
    };
    for (const Case& c : {Case{sim::CalFaults::Answer::Refuse, TASK_FAIL, " Backup fail..."},
                          Case{sim::CalFaults::Answer::Ignore, TASK_DONE, " PASS..."}}) {
        SCOPED_TRACE(c.status);
        sim::CalFaults faults;
        faults.rules.push_back({0, c.answer, 1});
        CalJob run(2, faults);
        run.job->tasks.Assign({TASK_BACKUP_CAL, TASK_RESTORE_CAL});
        ASSERT_EQ(run.RunImage(), 2);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(run.Outcomes(i), (std::vector<int>{TASK_DONE, c.outcome}));
            EXPECT_EQ(run.view.panels[static_cast<std::size_t>(i)].status, c.status);
        }
    }
}

// A backup that could not write its files would fail after the first byte, or not at all
// until the restore: Done refuses it before any line starts.
TEST(CalJob, UnwritableWorkingFolderIsRefusedBeforeAnyLineStarts) {
    CalJob run(2);
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_ALL, true), 1);
    // Nothing can be created below a regular file, not even by root.
    const std::string blocked = run.work.Write("not-a-folder", "x") + "/sub";
    EXPECT_EQ(run.job->StartJob(run.work.Write("image.bin", run.image), blocked), 0);
    EXPECT_FALSE(run.job->IsAnyLineRunning());
    ASSERT_FALSE(run.prompt.messages().empty());
    EXPECT_EQ(run.prompt.messages().back(),
              (test::RecordingPrompt::Message{"the work folder " + blocked + " does not exist", PromptIcon::Error}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run.Phone(i).Inspect([](const sim::PhoneCore& p) { return p.State().framesReceived; }), 0u);
    }
}

}  // namespace
}  // namespace zolt
