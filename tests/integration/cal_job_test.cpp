// Whole jobs with calibration, run by job control with the standard runners on simulated
// phones over pseudo-terminals: a backup, a reflash that wipes the phones' calibration, and
// the restore must leave every phone's calibration exactly as it came from the factory;
// scripts, refusals and an unusable working folder behave as the operator expects.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "cal/backup.h"
#include "job/job_control.h"
#include "link/flash.h"
#include "sim/cal_database.h"
#include "sim/cal_handlers.h"
#include "sim/sim_bank.h"
#include "support/fake_prober.h"
#include "support/recording_prompt.h"
#include "support/recording_sink.h"
#include "support/recording_view.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::SimBytes;
namespace fs = std::filesystem;

struct Page {
    const char* name;
    int db;
    int segment;
    int offset;
    int bytes;
};

// Both databases, pages in one segment side by side, sizes around the data items' line
// breaks, and a page of 300 bytes.
const std::vector<Page> PAGES = {
    {"RfTx", 1, 4, 0, 17}, {"RfRx", 1, 4, 17, 32}, {"CpBand", 0, 9, 100, 1},
    {"CpLong", 0, 12, 0, 300}, {"CpMid", 0, 200, 65000, 16},
};

// The catalogue's page read id, which the phones must know.
constexpr std::uint16_t PAGE_READ_ID = 4660;

std::string CatalogText() {
    std::ostringstream ini;
    for (const Page& p : PAGES) {
        ini << "[" << p.name << "]\nETS, Id=" << PAGE_READ_ID << "\nDB Id=" << p.db << "\nMsgstring=" << p.name
            << "\nSegment=" << p.segment << "\nOffset=" << p.offset << "\nBytes=" << p.bytes << "\n";
    }
    ini << "[MAXPAGECONUT]\nCount=" << PAGES.size() << "\n";
    return ini.str();
}

SimBytes ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return SimBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A job of job control on `count` simulated phones, each keeping its flash and calibration
// in a folder of its own, with a working folder holding the catalogue, the image and the
// calibration files.
class CalJob {
public:
    explicit CalJob(int count, const sim::CalFaults& faults = {}) {
        work.Write("calibration.ini", CatalogText());
        sim::PhoneOptions options = test::TestPhoneOptions();
        options.stateDir = work.path() / "phones";
        options.pageReadIds = {PAGE_READ_ID};
        sim::BankSpec spec;
        spec.count = count;
        bank = std::make_unique<sim::SimBank>(options, spec, test::TestTrace());
        for (int i = 0; i < count; ++i) sim::InstallCalibrationFaults(Phone(i).Handlers(), faults);
        bank->Start();

        auto prober = std::make_unique<test::FakeProber>();
        for (int i = 0; i < count; ++i) {
            prober->candidates.push_back(Phone(i).Path());
            prober->states[Phone(i).Path()] = PORT_FREE;
        }
        {
            // Each line reads the catalogue from the current folder when job control is made.
            const test::CurrentDirectoryGuard inWork(work.path());
            job = std::make_unique<JobControl>(view, prompt, sink, std::move(prober));
        }
        Timing timing = test::ShortTiming();
        timing.calRecordGap = 1ms;
        timing.backupSettingPause = 5ms;
        timing.backupFileShowPause = 5ms;
        // Longer than the phones' boot gap: the flash after a backup must find a quiet line.
        timing.backupBootWaitPause = 50ms;
        timing.restoreSettingPause = 5ms;
        timing.restoreDonePause = 5ms;
        job->SetTiming(timing);
        job->SelectPorts([](const std::vector<PortEntry>& rows) {
            std::vector<int> all;
            for (std::size_t i = 0; i < rows.size(); ++i) all.push_back(static_cast<int>(i));
            return std::optional<std::vector<int>>(all);
        });
        ConfigureImage();
    }
    ~CalJob() {
        job.reset();
        bank->Stop();
    }

    sim::SimPhone& Phone(int i) { return (*bank)[static_cast<std::size_t>(i)]; }
    fs::path PhoneFolder(int i) const { return work.path() / "phones" / ("phone-" + std::to_string(i + 1)); }

    // Starts the job and hands the workers' events to job control, as a front end does,
    // until every line has finished. Returns the number of lines started.
    int Run(const std::string& file, const std::string& workDir) {
        const int started = job->StartJob(file, workDir);
        if (started == 0) return 0;
        std::size_t seen = 0;
        int finished = 0;
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        while (finished < started && std::chrono::steady_clock::now() < deadline) {
            (void)sink.WaitFor(WM_PORT_TASK_DONE, seen + 1, 100ms);
            const auto events = sink.events();
            for (; seen < events.size(); ++seen) {
                const auto& e = events[seen];
                job->OnLineEvent(e.message, e.wParam, e.lParam);
                finished += e.message == WM_PORT_ALL_DONE || e.message == WM_PORT_FAILED;
            }
        }
        EXPECT_EQ(finished, started) << "lines still running";
        return started;
    }
    int RunImage() { return Run(work.Write("image.bin", image), work.path().string()); }

    std::vector<int> Outcomes(int line) const {
        std::vector<int> outcomes;
        for (int t = 0; t < job->tasks.taskCount; ++t) outcomes.push_back(job->tasks.LineOutcome(t, line));
        return outcomes;
    }

    // The phone's calibration page as it reads now, from the phone's folder.
    SimBytes PageNow(int i, const Page& p) const {
        const SimBytes segment = ReadFile(PhoneFolder(i) / ("cal-" + std::to_string(p.db) + "-" +
                                                            std::to_string(p.segment) + ".bin"));
        if (segment.size() < static_cast<std::size_t>(p.offset + p.bytes)) return {};
        return SimBytes(segment.begin() + p.offset, segment.begin() + p.offset + p.bytes);
    }
    // The page as the phone left the factory.
    static SimBytes FactoryPage(int i, const Page& p) {
        return sim::CalDatabase(i + 1).Read(p.db, p.segment, static_cast<std::size_t>(p.offset),
                                            static_cast<std::size_t>(p.bytes));
    }
    static std::uint8_t FactorySetting(int i) { return sim::CalDatabase(i + 1).Setting(); }

    test::TempDir work;
    std::unique_ptr<sim::SimBank> bank;
    test::RecordingView view;
    test::RecordingPrompt prompt;
    test::RecordingSink sink;
    std::unique_ptr<JobControl> job;
    SimBytes image;

private:
    // Sections of a few blocks each, and the identification the configuration expects.
    void ConfigureImage() {
        Config& c = job->config;
        c.checkInfo = "ZOLTCDMA";
        c.mobileName = "Z600";
        c.bootStart = 0;
        c.bootSize = 1000;
        c.bootChksumPos = 0x100;
        c.cpStart = 1000;
        c.cpSize = 3000;
        c.cpChksumPos = 0x600;
        c.dataStart = 4000;
        c.dataSize = 2000;
        image = test::SectionBytes(6000, 3);
        const std::size_t cpBlock = 0x600 + 2;
        std::fill_n(image.begin() + cpBlock, 32, 0);
        std::memcpy(image.data() + cpBlock, "ZOLTCDMA", 8);
        std::memcpy(image.data() + cpBlock + 10, "Z600", 4);
    }
};

TEST(CalJob, BackupFlashAndRestoreLeaveEightPhonesWithTheirOwnCalibration) {
    CalJob run(8);
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_ALL, true), 1);
    ASSERT_EQ(run.RunImage(), 8);

    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        EXPECT_EQ(run.Outcomes(i), std::vector<int>(5, TASK_DONE));
        EXPECT_EQ(run.view.panels[static_cast<std::size_t>(i)].status, " PASS...");
        // The reflash wiped the calibration; the restore brought back every page byte for
        // byte, and the setting.
        EXPECT_TRUE(fs::exists(run.PhoneFolder(i) / "cal-erased"));
        for (const Page& p : PAGES) EXPECT_EQ(run.PageNow(i, p), CalJob::FactoryPage(i, p)) << p.name;
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

TEST(CalJob, RefusedFirstRecordEndsTheRestoreWithBackupFail) {
    sim::CalFaults faults;
    faults.rules.push_back({0, sim::CalFaults::Answer::Refuse, 1});
    CalJob run(2, faults);
    run.job->tasks.Assign({TASK_BACKUP_CAL, TASK_RESTORE_CAL});
    ASSERT_EQ(run.RunImage(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run.Outcomes(i), (std::vector<int>{TASK_DONE, TASK_FAIL}));
        EXPECT_EQ(run.view.panels[static_cast<std::size_t>(i)].status, " Backup fail...");
    }
}

TEST(CalJob, RefusedAndUnansweredLaterRecordsAreSentAgain) {
    sim::CalFaults faults;
    faults.rules.push_back({2, sim::CalFaults::Answer::Refuse, 2});
    faults.rules.push_back({3, sim::CalFaults::Answer::Ignore, 1});
    CalJob run(2, faults);
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_ALL, true), 1);
    ASSERT_EQ(run.RunImage(), 2);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        EXPECT_EQ(run.Outcomes(i), std::vector<int>(5, TASK_DONE));
        for (const Page& p : PAGES) EXPECT_EQ(run.PageNow(i, p), CalJob::FactoryPage(i, p)) << p.name;
        run.Phone(i).Inspect([&](const sim::PhoneCore& p) {
            EXPECT_EQ(p.State().Count(sim::ID_DB_WRITE), PAGES.size() + 3);
            return 0;
        });
    }
}

TEST(CalJob, UnwritableWorkingFolderFailsTheBackupBeforeAnyFlash) {
    CalJob run(2);
    ASSERT_EQ(run.job->BuildTaskList(CHOICE_ALL, true), 1);
    // Nothing can be created below a regular file, not even by root.
    const std::string blocked = run.work.Write("not-a-folder", "x") + "/sub";
    ASSERT_EQ(run.Run(run.work.Write("image.bin", run.image), blocked), 2);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run.Outcomes(i), (std::vector<int>{TASK_FAIL, TASK_WAIT, TASK_WAIT, TASK_WAIT, TASK_WAIT}));
        EXPECT_EQ(run.view.panels[static_cast<std::size_t>(i)].status.rfind("Couldn't create the calibration file", 0), 0u)
            << run.view.panels[static_cast<std::size_t>(i)].status;
        run.Phone(i).Inspect([&](const sim::PhoneCore& p) {
            EXPECT_EQ(p.State().bootLoaderEntries, 0u);
            EXPECT_TRUE(p.Flash().Area(IMAGE_DATA).empty());
            return 0;
        });
        EXPECT_FALSE(fs::exists(run.PhoneFolder(i) / "cal-erased"));
    }
    const auto messages = run.prompt.messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.text.rfind("Couldn't open file: ", 0), 0u) << m.text;
        EXPECT_EQ(m.icon, PromptIcon::None);
    }
}

}  // namespace
}  // namespace zolt
