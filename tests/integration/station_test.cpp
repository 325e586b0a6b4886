// The built `zolt station` against a simulated station's day: phones come and go on every
// line, some pulled out with their port, some taken off a port that stays.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "history/history_store.h"
#include "sim/phone_options.h"
#include "sim/station_day.h"
#include "support/child_process_posix.h"
#include "support/sim_job_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::Detach;
namespace fs = std::filesystem;

struct StationFixture : ::testing::Test {
    test::TempDir dir;
    std::unique_ptr<sim::StationDay> day;

    void SetUp() override { (void)test::SmallJob::Write(dir.path()); }
    fs::path Link(int line) const { return dir.path() / ("line" + std::to_string(line)); }

    // Plays the day: line L's phones in `lines[L - 1]`; `fault` may spoil some phones.
    void StartDay(const std::vector<std::vector<sim::DayPhone>>& lines, int failingPhone = 0, Millis blockTime = Millis(0)) {
        sim::PhoneOptions options;
        options.stateDir = dir.path() / "phones";
        options.pageReadIds = {test::SIM_PAGE_READ_ID};
        options.replyDelay = Millis(0);
        options.blockTime = blockTime;
        options.eraseTime = Millis(50);
        options.restartTime = Millis(300);
        std::vector<sim::DayLine> plan;
        for (std::size_t k = 0; k < lines.size(); ++k) plan.push_back({Link(static_cast<int>(k) + 1).string(), lines[k]});
        day = std::make_unique<sim::StationDay>(options, plan);
        // Pulled out in the middle of its job.
        day->tailor = [failingPhone](int number, sim::PhoneOptions& own) {
            if (number == failingPhone) own.faults.rules.push_back({sim::FaultAction::Vanish, sim::RequestKind::Erase, 1});
        };
        day->Start();
    }
    std::vector<std::string> Station(std::vector<std::string> words, int lines) {
        std::vector<std::string> args = {ZOLT_CLI_PATH, "station", "--config", (dir.path() / "ZOLT.ini").string(),
                                         "--workdir", dir.path().string(), "--image", (dir.path() / "image.bin").string(),
                                         "--update", "boot", "--report", (dir.path() / "report.json").string()};
        args.insert(args.end(), words.begin(), words.end());
        for (int line = 1; line <= lines; ++line) {
            args.push_back("--port");
            args.push_back(Link(line).string());
        }
        return args;
    }
    bool WaitUntilWorkedOn(Millis limit) {
        for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            const auto records = day->Records();
            if (!records.empty() && records[0].jobs > 0) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    std::vector<HistoryEntry> History() {
        return OpenHistoryForReading((dir.path() / "zolt-history.sqlite").string())->Query({});
    }
};

// A phone is worked on once whatever way it leaves, also when left on its line for 10 s.
TEST_F(StationFixture, EveryPhoneIsDoneOnceAndLeavesOneEntryAndTheCountEndsTheStation) {
    // After a phone falls silent the next comes once the station has seen it go (2 s).
    StartDay({{{200ms, Detach::Vanish, 0ms}, {300ms, Detach::Silent, 10s}, {2600ms, Detach::Vanish, 200ms}},
              {{100ms, Detach::Silent, 0ms}, {2600ms, Detach::Vanish, 1s}, {200ms, Detach::Silent, 0ms}}});
    test::Process station(Station({"--count", "6"}, 2), dir.path() / "out.txt");
    const int status = station.Wait(100s);
    const std::string out = test::ReadFile((dir.path() / "out.txt").string());
    ASSERT_EQ(status, 0) << out;
    // The station ended with the sixth phone: the last ones never hear that their job is over.
    for (const sim::DayPhoneRecord& phone : day->Records()) {
        EXPECT_TRUE(phone.arrived);
        EXPECT_EQ(phone.jobs, 1) << "line " << phone.line << " phone " << phone.phone << "\n" << out;
    }
    const auto entries = History();
    ASSERT_EQ(entries.size(), 6u) << out;
    std::map<int, int> perLine;
    for (const HistoryEntry& entry : entries) {
        EXPECT_EQ(entry.line.outcome, "ok");
        ++perLine[entry.line.line];
    }
    EXPECT_EQ(perLine, (std::map<int, int>{{1, 3}, {2, 3}}));
    const std::string report = test::ReadFile((dir.path() / "report.json").string());
    EXPECT_NE(report.find("\"passed\": 6"), std::string::npos) << report;
    EXPECT_NE(report.find("\"running\": false"), std::string::npos) << report;
}

TEST_F(StationFixture, AFailedPhoneEndsTheStationWithStatusOne) {
    StartDay({{{100ms, Detach::Vanish, 0ms}, {100ms, Detach::Vanish, 0ms}}}, 102);
    test::Process station(Station({"--count", "2"}, 1), dir.path() / "out.txt");
    const int status = station.Wait(60s);
    const std::string out = test::ReadFile((dir.path() / "out.txt").string());
    EXPECT_EQ(status, 1) << out;
    // The count ended the station on the failed phone: its line still tells it, with the reason.
    EXPECT_NE(out.find("line1: failed: take the phone off ("), std::string::npos) << out;
    const auto entries = History();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].line.outcome, "ok");
    EXPECT_EQ(entries[1].line.outcome, "failed");
}

// Each phone of a line gets back its own calibration, never the one its line backed up from
// the phone before.
TEST_F(StationFixture, EveryPhoneWithItsCalibrationGetsBackItsOwn) {
    test::WriteCatalog(dir.path(), test::SIM_PAGES, test::SIM_PAGE_READ_ID);
    StartDay({{{100ms, Detach::Vanish, 0ms}, {100ms, Detach::Vanish, 0ms}}});
    auto args = Station({"--count", "2", "--with-cal"}, 1);
    *std::find(args.begin(), args.end(), "boot") = "all";
    test::Process station(args, dir.path() / "out.txt");
    // A job with the calibration takes about half a minute: the phone's restarts are waited for.
    ASSERT_EQ(station.Wait(110s), 0) << test::ReadFile((dir.path() / "out.txt").string());
    for (const int number : {101, 102}) {
        EXPECT_EQ(test::CalDifferences(number, dir.path() / "phones" / ("phone-" + std::to_string(number))), "")
            << "phone " << number;
    }
    const auto entries = History();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].line.backup.taken && entries[1].line.backup.taken);
    EXPECT_NE(entries[0].line.backup.sha256, entries[1].line.backup.sha256);
}

// The first Ctrl-C lets the phone in the middle of its job finish it; the station then ends
// with 130, taking no other phone. A second one stops at once.
TEST_F(StationFixture, CtrlCLetsAPhoneInTheMiddleOfItsJobFinish) {
    StartDay({{{100ms, Detach::Stay, 0ms}}, {}}, 0, 300ms);
    test::Process station(Station({}, 2), dir.path() / "out.txt");
    ASSERT_TRUE(WaitUntilWorkedOn(20s));
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(30s), 130);
    const std::string out = test::ReadFile((dir.path() / "out.txt").string());
    EXPECT_NE(out.find("line1: passed: take the phone off"), std::string::npos) << out;
    EXPECT_EQ(out.find("line2: passed"), std::string::npos) << out;
    auto entries = History();
    ASSERT_EQ(entries.size(), 1u) << out;
    EXPECT_EQ(entries[0].line.outcome, "ok");
}

}  // namespace
}  // namespace zolt
