// Restore and script runs against a scripted phone: what goes on the wire in which order,
// how acceptances, refusals and chatter steer the records, the setting write, and the runs
// that must fail rather than leave a phone half written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "cal/backup.h"
#include "cal/phone_reads.h"
#include "cal/restore.h"
#include "support/cal_line_fixture.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::CatalogPage;
using test::PageRead;
using test::ScriptedPhone;
using test::IsDbWrite;
using test::IsSidbWrite;

const CatalogPage PAGE_A{"PageA", 0, 2, 0, 3};
const CatalogPage PAGE_B{"PageB", 1, 5, 16, 2};
const CatalogPage PAGE_C{"PageC", 0, 7, 4, 17};

// A backup file of the three pages above, as the backup writes it.
constexpr const char* THREE_PAGES =
    "ETS, Id=CP Power, Power=Down\n"
    "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=3, Write Thru=1, Data=0x01 \n"
    "0x02 0xab \n"
    "ETS, Id=CP DB Write, DB id=RF Write, Segment=PageB, Offset=16, Bytes=2, Write Thru=1, Data=0x0a \n"
    "0xff \n"
    "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageC, Offset=4, Bytes=17, Write Thru=1, Data=0x00 \n"
    "0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0a 0x0b 0x0c 0x0d 0x0e 0x0f 0x10 \n"
    "\n"
    "END\n";

const Bytes WRITE_A = {0x30, 0x01, 0, 2, 0, 0, 3, 0, 1, 0x01, 0x02, 0xAB};
const Bytes WRITE_B = {0x30, 0x01, 1, 5, 16, 0, 2, 0, 1, 0x0A, 0xFF};
Bytes WriteC() {
    Bytes body = {0x30, 0x01, 0, 7, 4, 0, 17, 0, 1};
    for (int i = 0; i <= 16; ++i) body.push_back(static_cast<std::uint8_t>(i));
    return body;
}

std::string SidbRecord(int type, int id, int len, int offset, const std::string& data) {
    std::ostringstream r;
    r << "ETS, Id=CP FFS SIDB WRITE, Type=" << type << ", id=" << id << ", len=" << len
      << ", offset=" << offset << ", Data=" << data << "\n";
    return r.str();
}

// One line of the text per page record: 1 + 1 + 1 + 3 with the first line's "ETS".
const std::string SCRIPT =
    "ETS, Id=CP Power, Power=Down\n"
    "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=1, Write Thru=1, Data=0x01 \n" +
    SidbRecord(18, 3, 1, 0, "0x07 ") + SidbRecord(40, 9, 2, 6, "0x0a 0x0b ") + "END\n";

bool IsRecord(const Bytes& body) { return IsDbWrite(body) || IsSidbWrite(body); }

struct RestoreFixture : test::CalLineFixture {
    RestoreFixture() { Catalog({PAGE_A, PAGE_B, PAGE_C}); }
    // Gives the phone the catalogue's three pages (escapes among them) and a setting, and
    // backs them up into the work folder.
    int BackUpThreePages() {
        phone.pages[{0, 2}] = {0xFE, 0xFD, 0x00};
        phone.pages[{1, 5}] = ScriptedPhone::PatternPage({1, 5}, 2);
        phone.pages[{0, 7}] = ScriptedPhone::PatternPage({0, 7}, 17);
        phone.setting = 0x21;
        return RunBackupCal(line, cal, 0, dir.path().string(), prompt);
    }
    int Script(const std::string& text) {
        return RunScriptFile(line, cal, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    std::vector<Bytes> Records() const { return phone.Requests(IsRecord); }
    // Every request but the probes, in order.
    std::vector<Bytes> Sequence() const {
        return phone.Requests([](const Bytes& body) { return body != test::CAL_PROBE; });
    }
    // Answers record requests by `answer` (given how often this request has been sent,
    // from 1); nothing means the phone's own answer.
    void AnswerRecords(std::function<std::optional<Bytes>(const Bytes& body, int send)> answer) {
        phone.script = [this, answer](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (!IsRecord(body)) return std::nullopt;
            if (auto reply = answer(body, ++sends_[body])) return std::vector<Bytes>{EncodeFrame(*reply)};
            return std::nullopt;
        };
    }

private:
    std::map<Bytes, int> sends_;
};

const Bytes REFUSED = {0x9B, 0x08};
const Bytes CHATTER = {0x55, 0x01, 0x00};

TEST_F(RestoreFixture, ThreePagesAreWrittenInFileOrderThenClosedThenTheSettingWritten) {
    Hold(THREE_PAGES, 0x5A);
    std::vector<std::int32_t> totals;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsDbWrite(body)) totals.push_back(line.flashBlockCount);
        return std::nullopt;
    };
    ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();

    // Each page is read back before the records are closed, and the setting in a file-system
    // session of its own after it is written.
    const std::vector<Bytes> expected = {
        test::CAL_FS_ACCESS, test::CAL_OPEN, WRITE_A, WRITE_B, WriteC(),
        PageRead(PAGE_A), PageRead(PAGE_B), PageRead(PAGE_C),
        test::CAL_CLOSE, test::CAL_FS_DONE_1, test::CAL_FS_DONE_2,
        test::SettingWrite(0x5A), test::CAL_FS_ACCESS, test::CAL_SETTING_READ,
        test::CAL_FS_DONE_1, test::CAL_FS_DONE_2};
    EXPECT_EQ(Sequence(), expected);
    EXPECT_EQ(Status(), " PASS...");
    EXPECT_EQ(totals, (std::vector<std::int32_t>{3, 3, 3}));
    EXPECT_EQ(line.flashBlock, 4u);  // the pages read back of the three written
    EXPECT_EQ(phone.setting, 0x5A);
    // The status of each accepted write names its catalogue page.
    const auto& s = recorder.statuses;
    EXPECT_NE(std::find(s.begin(), s.end(), "Restore Calbration..... PageA"), s.end());
    EXPECT_NE(std::find(s.begin(), s.end(), "Restore Calbration..... PageB"), s.end());
    // A restore consumes the text.
    EXPECT_FALSE(cal.backupHeld);
    EXPECT_TRUE(cal.backupText.empty());
}

// A restore that failed after the reflash leaves the calibration only in the files the backup
// wrote: they give the phone back every page, and the setting saved with them.
TEST_F(RestoreFixture, BackupFilesGiveAWipedPhoneItsCalibrationBackAfterAFailedRestore) {
    ASSERT_EQ(BackUpThreePages(), RESULT_OK) << Status();
    const auto before = phone.pages;
    EXPECT_EQ(test::ReadFile(SettingFilePath(path)), SettingFileText(33, test::ReadFile(path)));
    AnswerRecords([](const Bytes&, int) { return Bytes{0x9B, 0x08}; });
    phone.pages.clear();
    phone.setting = 0;
    ASSERT_EQ(RunRestoreCal(line, cal), RESULT_FAIL);
    phone.script = nullptr;

    phone.pages.clear();
    phone.setting = 0;
    CalState saved;
    saved.catalog = cal.catalog;
    std::string why;
    ASSERT_TRUE(LoadSavedBackup(saved, path, why)) << why;
    line.flashBlockCount = 9;
    ASSERT_EQ(RunRestoreCal(line, saved), RESULT_OK) << Status();
    EXPECT_EQ(phone.pages, before);
    EXPECT_EQ(phone.setting, 33);
    EXPECT_EQ(line.flashBlockCount, 0);
    const std::string reason = Load(dir.File("nothing.srp"));
    EXPECT_NE(reason.find("was not found"), std::string::npos) << reason;
    EXPECT_EQ(SettingFilePath("a/COM-3calibration.srp"), "a/COM-3calibration.setting");
}

// A phone that did not hear the probes (still restarting after a reflash) is probed again
// after a silent receive limit, in the file-system handshake and in the opening's own echo
// wait, instead of being waited for without end.
TEST_F(RestoreFixture, UnheardProbesAreSentAgainAfterASilentReceiveLimit) {
    for (int deafProbes : {3, 5}) {  // the file-system handshake's three; then the opening's two
        SCOPED_TRACE(deafProbes);
        phone.requests.clear();
        int probes = 0;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (body == test::CAL_PROBE && ++probes <= deafProbes) return std::vector<Bytes>{};
            return std::nullopt;
        };
        Hold(THREE_PAGES);
        ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();
        EXPECT_GT(probes, deafProbes);
    }
}

TEST_F(RestoreFixture, SidbWriteInARestoreTextShowsATotalOf209) {
    Hold(std::string("ETS, Id=CP Power, Power=Down\n") + SidbRecord(18, 3, 1, 0, "0x07 ") + "END\n");
    std::int32_t total = -1;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body.size() == 11 && body[10] == 0x07) total = line.flashBlockCount;
        return std::nullopt;
    };
    ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();
    EXPECT_EQ(total, 209);
}

TEST_F(RestoreFixture, RefusedOrUnansweredRecordsAreSentAgainUpToTheAttemptLimit) {
    // Silence costs a receive limit per attempt.
    line.timing.receiveFrameLimit = 5ms;
    ASSERT_EQ(line.timing.calRecordResendLimit, 100);
    enum class Answer { Refuse, Silence };
    struct Case {
        const char* what;
        Bytes record;
        Answer answer;
        int times;  // the first `times` sends of the record get the answer
        int result;
        std::size_t sends;  // of the record
        std::string status;
    };
    const std::vector<Case> cases = {
        {"first record refused", WRITE_A, Answer::Refuse, 1, RESULT_FAIL, 1, " Backup fail..."},
        {"first record unanswered", WRITE_A, Answer::Silence, 2, RESULT_OK, 3, " PASS..."},
        {"later record refused", WRITE_B, Answer::Refuse, 2, RESULT_OK, 3, " PASS..."},
        {"later record unanswered", WRITE_B, Answer::Silence, 1, RESULT_OK, 2, " PASS..."},
        {"first record never answered", WRITE_A, Answer::Silence, 1000, RESULT_FAIL, 100,
         "Record 1 was not accepted; sent 100 times!"},
        {"later record always refused", WRITE_B, Answer::Refuse, 1000, RESULT_FAIL, 100,
         "Record 2 was not accepted; sent 100 times!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        phone.requests.clear();
        Hold(THREE_PAGES);
        int sends = 0;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (body != c.record || ++sends > c.times) return std::nullopt;
            if (c.answer == Answer::Silence) return std::vector<Bytes>{};
            return std::vector<Bytes>{EncodeFrame(REFUSED)};
        };
        EXPECT_EQ(RestoreCalibration(line, cal), c.result);
        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(Sent(c.record), c.sends);
        if (c.result == RESULT_OK) {
            EXPECT_EQ(phone.Requests(IsDbWrite).size(), 3 + c.sends - 1);
        } else {
            // Nothing after the record that failed, and the text is kept.
            EXPECT_EQ(phone.AfterAccess().back(), c.record);
            EXPECT_TRUE(cal.backupHeld);
        }
    }
}

TEST_F(RestoreFixture, AnswerToAnEarlierSendIsNotTakenForTheNextRecordsAcceptance) {
    // A record's acceptance comes twice: late, after the record was sent again, with the
    // answer to the second send; or delivered twice by the line. The next record's first send
    // is lost on the line: only its own acceptance may let the run go on, or the phone would
    // be left without it and the run would pass.
    struct Case {
        const char* what;
        bool script;
        bool late;  // else the first send's acceptance comes twice
        Bytes first, next, acceptance;
    };
    const Bytes setting = {0xA2, 0x07, 18, 0, 3, 0, 1, 0, 0, 0, 0x07};
    const Bytes sidb = {0xA2, 0x07, 40, 0, 9, 0, 2, 0, 6, 0, 0x0A, 0x0B};
    line.timing.calRecordGap = 20ms;  // what is read and dropped after an acceptance comes in this pause
    const Bytes dbAcceptance = {0x30, 0x01, 0x00};
    const Bytes sidbAcceptance = {0xA2, 0x07, 0x00, 0x00};
    for (const Case& c : {Case{"restore, late", false, true, WRITE_A, WRITE_B, dbAcceptance},
                          Case{"script, late", true, true, setting, sidb, sidbAcceptance},
                          Case{"restore, twice", false, false, WRITE_A, WRITE_B, dbAcceptance},
                          Case{"script, twice", true, false, setting, sidb, sidbAcceptance}}) {
        SCOPED_TRACE(c.what);
        phone.requests.clear();
        std::map<Bytes, int> sends;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            const int n = ++sends[body];
            if (body == c.first && n == (c.late ? 2 : 1)) return std::vector<Bytes>(2, EncodeFrame(c.acceptance));
            if ((body == c.first || body == c.next) && n == 1) return std::vector<Bytes>{};
            return std::nullopt;
        };
        Hold(THREE_PAGES);
        ASSERT_EQ(c.script ? Script(SCRIPT) : RestoreCalibration(line, cal), RESULT_OK) << Status();
        EXPECT_EQ(Sent(c.next), 2u);
    }
}

TEST_F(RestoreFixture, FiftiethUnrecognisedReplyOverTheWholeRestoreResendsTheRecordThenSent) {
    Hold(THREE_PAGES);
    int sendsOfB = 0;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (!IsDbWrite(body)) return std::nullopt;
        phone.pages[{body[2], body[3]}] = Bytes(body.begin() + 9, body.end());
        std::vector<Bytes> replies;
        // The second echo of the opening probes is the first reply record A reads; with 48
        // more, 49 unrecognised replies come before A is accepted.
        if (body == WRITE_A) replies.assign(48, EncodeFrame(CHATTER));
        // The counter goes on over the acceptance: one more, and B goes again before its
        // acceptance is even read.
        if (body == WRITE_B && ++sendsOfB == 1) replies.push_back(EncodeFrame(CHATTER));
        replies.push_back(EncodeFrame(Bytes{0x30, 0x01, 0x00}));
        return replies;
    };
    ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();
    EXPECT_EQ(phone.Requests(IsDbWrite), (std::vector<Bytes>{WRITE_A, WRITE_B, WRITE_B, WriteC()}));
}

TEST_F(RestoreFixture, UnrecognisedRepliesToAnSidbWriteAreOnlyPassedOver) {
    const std::string text = "ETS, Id=CP Power, Power=Down\n" + SidbRecord(40, 9, 1, 0, "0x01 ") + "END\n";
    phone.script = [](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (!IsSidbWrite(body)) return std::nullopt;
        std::vector<Bytes> replies(60, EncodeFrame(CHATTER));
        replies.push_back(EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00}));
        return replies;
    };
    ASSERT_EQ(Script(text), RESULT_OK) << Status();
    EXPECT_EQ(Records().size(), 1u);
}

TEST_F(RestoreFixture, ScriptSendsOnlyItsSidbWrites) {
    Hold(THREE_PAGES);
    std::vector<std::int32_t> totals;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsRecord(body)) totals.push_back(line.flashBlockCount);
        return std::nullopt;
    };
    ASSERT_EQ(Script(SCRIPT), RESULT_OK) << Status();

    const std::vector<Bytes> expected = {
        test::CAL_OPEN,
        {0xA2, 0x07, 18, 0, 3, 0, 1, 0, 0, 0, 0x07},
        {0xA2, 0x07, 40, 0, 9, 0, 2, 0, 6, 0, 0x0A, 0x0B},
        test::CAL_SETTING_READ,  // the setting record, read back
        test::CAL_CLOSE,
        test::CAL_FS_DONE_1,
        test::CAL_FS_DONE_2,
    };
    EXPECT_EQ(phone.AfterAccess(), expected);
    // Four "ETS" marks in the text, less 2.
    EXPECT_EQ(totals, (std::vector<std::int32_t>{2, 2}));
    EXPECT_EQ(line.flashBlock, 3u);
    // The status of the first write is up when the second goes out.
    ASSERT_GE(recorder.statuses.size(), 3u);
    const auto& s = recorder.statuses;
    EXPECT_NE(std::find(s.begin(), s.end(), "Script CP FFS SIDB WRITEType=18 id=3 len=1 offset=0"), s.end());
    // A script releases any backup text that was held.
    EXPECT_FALSE(cal.backupHeld);
}

TEST_F(RestoreFixture, RequestThatCannotBeSentFailsWithoutATextOfItsOwn) {
    const Bytes sidbWrite = {0xA2, 0x07, 40, 0, 9, 0, 2, 0, 6, 0, 0x0A, 0x0B};
    struct Case {
        const char* what;
        bool script;
        Bytes request;
        bool textKept;
    };
    const std::vector<Case> cases = {
        {"restore opening", false, test::CAL_OPEN, true},
        {"restore record", false, WRITE_B, false},
        {"restore closing", false, test::CAL_CLOSE, true},
        {"script record", true, sidbWrite, false},
        {"script closing", true, test::CAL_CLOSE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        recorder.statuses.clear();
        recorder.fails = [&](const Bytes& body) { return body == c.request; };
        Hold(THREE_PAGES);
        EXPECT_EQ(c.script ? Script(SCRIPT) : RestoreCalibration(line, cal), RESULT_FAIL);
        // The status line is what it was when the request was to go out: for the script's
        // closing, " PASS..." as the tool always showed it.
        ASSERT_FALSE(recorder.statuses.empty());
        EXPECT_EQ(Status(), recorder.statuses.back());
        if (c.script && c.request == test::CAL_CLOSE) {
            EXPECT_EQ(Status(), " PASS...");
        }
        EXPECT_EQ(cal.backupHeld, c.textKept);
    }
}

TEST_F(RestoreFixture, RestoreWithoutAHeldBackupFailsBeforeSendingAnything) {
    line.flashBlockCount = 7;
    EXPECT_EQ(RunRestoreCal(line, cal), RESULT_FAIL);
    EXPECT_TRUE(device.writes().empty());
    EXPECT_NE(Status().find("No calibration backup"), std::string::npos) << Status();
    EXPECT_EQ(line.flashBlockCount, 0);

    // A backup of no pages is held all the same, and its restore writes the setting back.
    Hold("", 0x66);
    ASSERT_EQ(RunRestoreCal(line, cal), RESULT_OK) << Status();
    EXPECT_EQ(Sequence(), (std::vector<Bytes>{test::CAL_FS_ACCESS, test::CAL_OPEN, test::CAL_CLOSE,
                                              test::CAL_FS_DONE_1, test::CAL_FS_DONE_2, test::SettingWrite(0x66),
                                              test::CAL_FS_ACCESS, test::CAL_SETTING_READ, test::CAL_FS_DONE_1,
                                              test::CAL_FS_DONE_2}));
}

TEST_F(RestoreFixture, TextWithARecordThatCannotBeSentIsRefusedBeforeAnythingIsSent) {
    auto items = [](int count, const char* item) {
        std::string data;
        for (int i = 0; i < count; ++i) data += item;
        return data;
    };
    auto withSecond = [](const std::string& record) {
        std::string text = THREE_PAGES;
        return text.insert(text.find("ETS, Id=CP DB Write, DB id=RF"), record);
    };
    std::string thousandAndOne = "ETS, Id=CP Power, Power=Down\n";
    for (int i = 0; i < 1001; ++i) thousandAndOne += SidbRecord(40, i, 1, 0, "0x01 ");
    struct Case {
        const char* what;
        bool script;
        std::string text;
        std::string status;
    };
    const std::vector<Case> cases = {
        {"a record line over 3000 bytes", false, withSecond(SidbRecord(40, 9, 801, 0, items(801, "0x01 "))),
         "Record 2 (line 4) refused: longer than 3000 bytes"},
        {"400 escaped bytes", false, withSecond(SidbRecord(40, 9, 400, 0, items(400, "0xfe "))),
         "Record 2 (line 4) refused: too long for one request"},
        {"1001 records", true, thousandAndOne + "END\n", "Record 1001 (line 1002) refused: more than 1000 records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Hold(c.text);
        EXPECT_EQ(c.script ? Script(c.text) : RestoreCalibration(line, cal), RESULT_FAIL);
        EXPECT_EQ(Status(), c.status);
        EXPECT_TRUE(device.writes().empty());
        EXPECT_TRUE(cal.backupHeld);
    }

    // A script sends no database writes, so it does not refuse one that it could not send.
    const std::string longDbWrite = "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=801, "
                                    "Write Thru=1, Data=" + items(801, "0x01 ") + "\n";
    ASSERT_EQ(Script(SCRIPT + longDbWrite + "END\n"), RESULT_OK) << Status();
    EXPECT_EQ(Records().size(), 2u);
}

TEST_F(RestoreFixture, ProbeThatCannotBeSentFailsAndKeepsTheText) {
    Hold(THREE_PAGES);
    device.closed = true;
    EXPECT_EQ(RestoreCalibration(line, cal), RESULT_FAIL);
    EXPECT_EQ(Status(), "Timeout on message loopback!");
    EXPECT_TRUE(cal.backupHeld);
}

TEST_F(RestoreFixture, ShortFrameInsteadOfTheEchoBringsAnotherProbe) {
    Hold("");
    int probesAfterAccess = 0;
    bool granted = false;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body == test::CAL_FS_ACCESS || body == test::CAL_OPEN) granted = body == test::CAL_FS_ACCESS;
        if (!granted || body != test::CAL_PROBE) return std::nullopt;
        // The first opening probe meets a phone still busy, the second is lost.
        ++probesAfterAccess;
        if (probesAfterAccess == 1) return std::vector<Bytes>{EncodeFrame(Bytes{0x77})};
        if (probesAfterAccess == 2) return std::vector<Bytes>{};
        return std::nullopt;
    };
    ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();
    EXPECT_EQ(probesAfterAccess, 3);
}

TEST_F(RestoreFixture, SettingWriteIsSentAgainUntilAWholeAcceptanceComes) {
    Hold("", 0x42);
    int writes = 0;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body != test::SettingWrite(0x42)) return std::nullopt;
        if (++writes == 1) return std::vector<Bytes>{};  // lost
        phone.setting = 0x42;
        Bytes badSum = EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00});
        badSum.back() ^= 0x10;
        return std::vector<Bytes>{badSum, EncodeFrame(Bytes{0xA2, 0x07, 0x00}), EncodeFrame(Bytes{0xA2, 0x07, 0x01, 0x00})};
    };
    ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();
    EXPECT_EQ(writes, 2);
}

// Runs `run` and stops the line if it has not ended within `limit`: a wait without end shows
// as a stopped run (-1) instead of a test that never ends.
int Guarded(LinkSession& line, const std::function<int()>& run, Millis limit = 3s) {
    std::atomic<bool> ended{false};
    std::thread watchdog([&] {
        const Deadline deadline(limit);
        while (!ended && !deadline.Passed()) std::this_thread::sleep_for(5ms);
        if (!ended) line.stop.Raise();
    });
    int result = -1;
    try {
        result = run();
    } catch (const LineStopped&) {
    }
    ended = true;
    watchdog.join();
    line.stop.Clear();
    return result;
}

// A slow phone answers every send of a record in order, those after a time-out included: the
// answer owed to the first record's second send must not pass for the acceptance of the
// second record, which the phone refuses every time.
TEST_F(RestoreFixture, AnswerOwedToASlowPhonesEarlierSendIsNotTheNextRecordsAcceptance) {
    line.timing.calRecordResendLimit = 4;
    struct Case {
        const char* what;
        Bytes slow;
        Bytes refused;
        const char* status;
    };
    const Case cases[] = {
        {"restore", WRITE_A, WRITE_B, "Record 2 was not accepted; sent 4 times!"},
        {"script", {0xA2, 0x07, 18, 0, 3, 0, 1, 0, 0, 0, 0x07}, {0xA2, 0x07, 40, 0, 9, 0, 2, 0, 6, 0, 0x0A, 0x0B},
         "Record 3 was not accepted; sent 4 times!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        phone.requests.clear();
        phone.answerTime = [&](const Bytes& body) { return body == c.slow ? 90ms : 0ms; };
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (body == c.refused) return std::vector<Bytes>{EncodeFrame(REFUSED)};
            return std::nullopt;
        };
        Hold(THREE_PAGES);
        EXPECT_EQ(c.what == std::string("script") ? Script(SCRIPT) : RestoreCalibration(line, cal), RESULT_FAIL);
        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(Sent(c.slow), 2u);
    }
}

// What the phone stored wrong is written again until it reads back right; a page or a setting
// that never does fails the restore instead of passing it.
TEST_F(RestoreFixture, RestorePassesOnlyWhatReadsBack) {
    struct Case {
        const char* what;
        int spoilB;  // writes of page B that the phone stores wrong
        bool keepsSetting;
        int result;
        int rewritten;
        const char* status;
    };
    const Case cases[] = {
        {"all stored", 0, false, RESULT_OK, 0, " PASS..."},
        {"page B stored wrong once", 1, false, RESULT_OK, 1, " PASS..."},
        {"page B never stored", 99, false, RESULT_FAIL, 1,
         " Restore fail... page PageB reads back different after 4 writes!"},
        {"setting never stored", 0, true, RESULT_FAIL, 0,
         " Restore fail... the setting reads back 0, not 90, after 4 writes!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        phone.requests.clear();
        phone.pages.clear();
        phone.setting = 0;
        Hold(THREE_PAGES, 0x5A);
        int spoiled = 0;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (body == WRITE_B && spoiled < c.spoilB) {
                ++spoiled;
                phone.pages[{1, 5}] = {0x0A, 0xFE};
                return std::vector<Bytes>{EncodeFrame(Bytes{0x30, 0x01, 0x00})};
            }
            if (c.keepsSetting && body == test::SettingWrite(0x5A)) {
                return std::vector<Bytes>{EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00})};
            }
            return std::nullopt;
        };
        EXPECT_EQ(RestoreCalibration(line, cal), c.result);
        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(cal.pagesRewritten, c.rewritten);
        EXPECT_EQ(Sent(WRITE_B), static_cast<std::size_t>(std::min(c.spoilB, 3) + 1));
    }
}

// Two pages of one segment and size differ only by offset: the first page's reply, delivered
// twice by the line (at once, or late), is not the second page's data.
TEST_F(RestoreFixture, DoubledPageReplyIsNotTheNextPagesData) {
    Catalog({{"P1", 0, 2, 0, 4}, {"P2", 0, 2, 4, 4}});
    phone.pagesAt[{0, 2, 0}] = {1, 2, 3, 4};
    phone.pagesAt[{0, 2, 4}] = {5, 6, 7, 8};
    for (const Millis late : {0ms, 20ms}) {
        SCOPED_TRACE(late.count());
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (body.size() != 8 || body[4] != 0) return std::nullopt;
            const Bytes reply = ScriptedPhone::PageReply(body, {1, 2, 3, 4});
            device.Queue(reply);
            device.Queue(reply, late);
            return std::vector<Bytes>{};
        };
        ASSERT_EQ(RunBackupCal(line, cal, 0, dir.path().string(), prompt), RESULT_OK) << Status();
        const std::string text(cal.backupText.begin(), cal.backupText.end());
        EXPECT_NE(text.find("Segment=P2, Offset=4, Bytes=4, Write Thru=1, Data=0x05 \n0x06 0x07 0x08 \n"),
                  std::string::npos)
            << text;
    }
}

// Waits for the phone end from where they began: chatter that goes on and on does not make a
// record's wait for its acceptance, lost on the line, last for ever.
TEST_F(RestoreFixture, ChatterDoesNotLengthenTheWaitForARecordsAcceptance) {
    const std::string text = "ETS, Id=CP Power, Power=Down\n" + SidbRecord(40, 9, 1, 0, "0x01 ") + "END\n";
    std::atomic<bool> done{false};
    std::thread chatter([&] {
        while (!done) {
            device.Queue(EncodeFrame(CHATTER));
            std::this_thread::sleep_for(10ms);
        }
    });
    int sends = 0;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsSidbWrite(body) && ++sends == 1) return std::vector<Bytes>{};  // its acceptance is lost
        return std::nullopt;
    };
    EXPECT_EQ(Guarded(line, [&] { return Script(text); }), RESULT_OK) << Status();
    done = true;
    chatter.join();
    EXPECT_EQ(sends, 2);
}

// With a phone wait, every wait for a phone that would otherwise wait until it answers ends,
// saying what it waited for.
TEST_F(RestoreFixture, PhoneWaitEndsEveryWaitForThePhone) {
    line.timing.phoneWait = 100ms;
    line.timing.bootProbeGap = 10ms;
    struct Case {
        const char* waitingFor;
        std::function<bool(const Bytes&)> unanswered;
        std::function<int()> run;
    };
    const auto all = [](const Bytes&) { return true; };
    const Case cases[] = {
        {"boot loader", all, [&] { return line.BootLoad(); }},
        {"file-system access", all, [&] { return line.WaitForFs(FS_BACKUP); }},
        {"file-system access", all, [&] { return RestoreCalibration(line, cal); }},
        {"setting read", all, [&] { return ReadCalSetting(line, false) ? RESULT_OK : RESULT_FAIL; }},
        {"setting write", [](const Bytes& b) { return b == test::SettingWrite(0x5A); },
         [&] { return RestoreCalibration(line, cal); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waitingFor);
        Hold("");
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (c.unanswered(body)) return std::vector<Bytes>{};
            return std::nullopt;
        };
        EXPECT_EQ(Guarded(line, c.run), RESULT_FAIL);
        EXPECT_EQ(Status(), "No answer from the phone in 0.1 s (" + std::string(c.waitingFor) + ")!");
    }
}

}  // namespace
}  // namespace zolt
