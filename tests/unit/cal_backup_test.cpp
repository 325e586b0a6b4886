// The calibration backup against a scripted phone: the calibration file byte for byte, the
// page requests and how each reply steers them, the setting read, and every way the backup
// fails instead of leaving a flash to run without a backup.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "cal/backup.h"
#include "cal/restore.h"
#include "support/cal_line_fixture.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::CatalogPage;
using test::IsPageRead;
using test::PageRead;
using test::ScriptedPhone;
using BackupFixture = test::CalLineFixture;

const CatalogPage PAGE_A{"PageA", 0, 2, 0, 3};

TEST(CalibrationFilePath, CarriesTheLineNumberAndNeverDoublesTheSeparator) {
    const std::string name = CalibrationFilePath("", 2);
    EXPECT_EQ(name, "COM-3calibration.srp");
    const std::string joined = CalibrationFilePath("work", 0);
    EXPECT_EQ(joined.substr(joined.size() - 20), "COM-1calibration.srp");
    EXPECT_EQ(CalibrationFilePath(joined.substr(0, joined.size() - 20), 0), joined);
    EXPECT_EQ(joined.size(), std::string("work").size() + 1 + 20);
}

TEST_F(BackupFixture, OnePageFileIsWrittenByteForByteAndHeldForTheRestore) {
    Catalog({PAGE_A});
    phone.pages[{0, 2}] = {0x01, 0x02, 0xAB};
    phone.setting = 0x37;

    ASSERT_EQ(Backup(2), RESULT_OK) << Status();

    const std::string expected =
        "ETS, Id=CP Power, Power=Down\n"
        "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=3, Write Thru=1, Data=0x01 \n"
        "0x02 0xab \n"
        "END\n";
    EXPECT_EQ(File(2), expected);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "COM-3calibration.srp"));
    EXPECT_TRUE(cal.backupHeld);
    EXPECT_EQ(HeldText(), expected);
    EXPECT_EQ(cal.savedSettingByte, 0x37);
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_EQ(Status(), "Wait for boot load...");
    EXPECT_EQ(line.flashBlock, 1u);
    EXPECT_EQ(line.flashBlockCount, 1);

    // The page read, then the setting read (asked again after the silence that follows its
    // first answer), then the release of the file system.
    const std::vector<Bytes> sent = phone.requests;
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[sent.size() - 5], PageRead(PAGE_A));
    EXPECT_EQ(sent[sent.size() - 4], test::CAL_SETTING_READ);
    EXPECT_EQ(sent[sent.size() - 3], test::CAL_SETTING_READ);
    EXPECT_EQ(sent[sent.size() - 2], test::CAL_FS_DONE_1);
    EXPECT_EQ(sent[sent.size() - 1], test::CAL_FS_DONE_2);
}

TEST_F(BackupFixture, DataItemsBreakAfterTheFirstAndThenEverySixteenth) {
    // 1 and 17 bytes leave an empty text line behind the record; 16 and 0 do not.
    Catalog({{"One", 0, 1, 0, 1}, {"Sixteen", 1, 2, 16, 16}, {"Seventeen", 0, 3, 300, 17},
             {"Empty", 1, 4, 0, 0}});
    for (int segment = 1; segment <= 4; ++segment) {
        Bytes data;
        for (int i = 0; i < 17; ++i) data.push_back(static_cast<std::uint8_t>(segment * 16 + i));
        phone.pages[{segment == 2 || segment == 4 ? 1 : 0, segment}] = data;
    }
    std::vector<std::uint32_t> blockAtRequest;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (IsPageRead(body)) blockAtRequest.push_back(line.flashBlock);
        return std::nullopt;
    };

    ASSERT_EQ(Backup(0), RESULT_OK) << Status();

    const std::string expected =
        "ETS, Id=CP Power, Power=Down\n"
        "ETS, Id=CP DB Write, DB id=CP Write, Segment=One, Offset=0, Bytes=1, Write Thru=1, Data=0x10 \n"
        "\n"
        "ETS, Id=CP DB Write, DB id=RF Write, Segment=Sixteen, Offset=16, Bytes=16, Write Thru=1, Data=0x20 \n"
        "0x21 0x22 0x23 0x24 0x25 0x26 0x27 0x28 0x29 0x2a 0x2b 0x2c 0x2d 0x2e 0x2f \n"
        "ETS, Id=CP DB Write, DB id=CP Write, Segment=Seventeen, Offset=300, Bytes=17, Write Thru=1, Data=0x30 \n"
        "0x31 0x32 0x33 0x34 0x35 0x36 0x37 0x38 0x39 0x3a 0x3b 0x3c 0x3d 0x3e 0x3f 0x40 \n"
        "\n"
        "ETS, Id=CP DB Write, DB id=RF Write, Segment=Empty, Offset=0, Bytes=0, Write Thru=1, Data=\n"
        "END\n";
    EXPECT_EQ(File(0), expected);
    EXPECT_EQ(blockAtRequest, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(line.flashBlockCount, 4);
}

TEST_F(BackupFixture, CatalogueWithoutPagesLeavesAnEmptyFileAndStillReadsTheSetting) {
    Catalog({});
    phone.setting = 0x99;
    ASSERT_EQ(Backup(), RESULT_OK);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(File(), "");
    EXPECT_TRUE(cal.backupHeld);
    EXPECT_TRUE(cal.backupText.empty());
    EXPECT_EQ(cal.savedSettingByte, 0x99);
    EXPECT_TRUE(phone.Requests(IsPageRead).empty());
    EXPECT_EQ(phone.requests.back(), test::CAL_FS_DONE_2);
}

// Replies that are not the whole, intact answer to a page request: each is a failed attempt.
struct SpoiledReply {
    const char* what;
    std::function<std::vector<Bytes>(const Bytes& request, const Bytes& data)> reply;
};

Bytes Changed(Bytes bytes, std::size_t at) {
    bytes[at] ^= 0x01;
    return bytes;
}

std::vector<Bytes> One(Bytes frame) { return {std::move(frame)}; }

const std::vector<SpoiledReply> SPOILED_REPLIES = {
    {"another database", [](const Bytes& r, const Bytes& d) { return One(ScriptedPhone::PageReply(Changed(r, 2), d)); }},
    {"another segment", [](const Bytes& r, const Bytes& d) { return One(ScriptedPhone::PageReply(Changed(r, 3), d)); }},
    {"another length", [](const Bytes& r, const Bytes& d) { return One(ScriptedPhone::PageReply(Changed(r, 6), d)); }},
    {"another length, high byte",
     [](const Bytes& r, const Bytes& d) { return One(ScriptedPhone::PageReply(Changed(r, 7), d)); }},
    {"no reply (the time-out frame)", [](const Bytes&, const Bytes&) { return std::vector<Bytes>{}; }},
    // The time-out frame keeps what came behind its five bytes: the whole echo and two bytes.
    {"a reply cut off after two data bytes",
     [](const Bytes& r, const Bytes& d) {
         const Bytes whole = ScriptedPhone::PageReply(r, d);
         return One(Bytes(whole.begin(), whole.begin() + 3 + 8 + 2));
     }},
    {"a whole reply one data byte short",
     [](const Bytes& r, const Bytes& d) { return One(ScriptedPhone::PageReply(r, Bytes(d.begin(), d.end() - 1))); }},
    {"a reply with line noise in its data (wrong checksum)",
     [](const Bytes& r, const Bytes& d) { return One(Changed(ScriptedPhone::PageReply(r, d), 3 + 8 + 1)); }},
};

TEST_F(BackupFixture, SpoiledReplyFailsOnTheFirstPageAndIsAskedAgainOnALaterOne) {
    line.timing.receiveFrameLimit = 10ms;  // every case waits for silence at least once
    const CatalogPage pageB{"PageB", 1, 3, 8, 4};
    Catalog({PAGE_A, pageB});
    phone.pages[{0, 2}] = {0x01, 0x02, 0xAB};
    phone.pages[{1, 3}] = {0xDE, 0xAD, 0xBE, 0xEF};
    const std::string wholeFile =
        "ETS, Id=CP Power, Power=Down\n"
        "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=3, Write Thru=1, Data=0x01 \n"
        "0x02 0xab \n"
        "ETS, Id=CP DB Write, DB id=RF Write, Segment=PageB, Offset=8, Bytes=4, Write Thru=1, Data=0xde \n"
        "0xad 0xbe 0xef \n"
        "END\n";

    for (const SpoiledReply& spoiled : SPOILED_REPLIES) {
        for (const CatalogPage& page : {PAGE_A, pageB}) {
            SCOPED_TRACE(std::string(spoiled.what) + " to " + page.name);
            phone.requests.clear();
            bool spoilt = false;
            phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
                if (body != PageRead(page) || spoilt) return std::nullopt;
                spoilt = true;
                return spoiled.reply(body, phone.pages[{page.db, page.segment}]);
            };
            if (page.name == "PageA") {
                EXPECT_EQ(Backup(), RESULT_FAIL);
                EXPECT_EQ(Status(), " Backup fail...");
                EXPECT_EQ(phone.Requests(IsPageRead).size(), 1u);
                EXPECT_FALSE(cal.backupHeld);
            } else {
                ASSERT_EQ(Backup(), RESULT_OK) << Status();
                EXPECT_EQ(phone.Requests(IsPageRead),
                          (std::vector<Bytes>{PageRead(PAGE_A), PageRead(pageB), PageRead(pageB)}));
                EXPECT_EQ(File(), wholeFile);
            }
        }
    }
}

// A reply counts only when it echoes the whole request: one with another ETS id or offset
// answers some other page (two pages of one segment and size differ by offset alone).
TEST_F(BackupFixture, ReplyThatEchoesAnotherIdOrOffsetIsNotThePages) {
    Catalog({PAGE_A});
    for (const std::size_t at : {0u, 1u, 4u, 5u}) {
        SCOPED_TRACE(at);
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (!IsPageRead(body)) return std::nullopt;
            Bytes other = body;
            other[at] ^= 0x10;
            return std::vector<Bytes>{ScriptedPhone::PageReply(other, Bytes(3, 7))};
        };
        EXPECT_EQ(Backup(), RESULT_FAIL);
        EXPECT_EQ(Status(), " Backup fail...");
    }
}

TEST_F(BackupFixture, LaterPageThatNeverMatchesFailsAfterTheAttemptLimit) {
    Catalog({PAGE_A, {"PageB", 0, 3, 0, 3}});
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (!IsPageRead(body) || body[3] != 3) return std::nullopt;
        Bytes other = body;
        other[3] = 4;
        return std::vector<Bytes>{ScriptedPhone::PageReply(other, {1, 2, 3})};
    };
    ASSERT_EQ(line.timing.calPageAttemptLimit, 100);
    EXPECT_EQ(Backup(), RESULT_FAIL);
    EXPECT_EQ(phone.Requests(IsPageRead).size(), 1u + 100u);
    EXPECT_NE(Status().find("PageB"), std::string::npos) << Status();
    EXPECT_NE(Status().find("100"), std::string::npos) << Status();
    EXPECT_FALSE(cal.backupHeld);
    EXPECT_NE(phone.requests.back(), test::CAL_SETTING_READ);
    // No half backup takes the line's name, and no temporary file stays.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(BackupFixture, StopEndsAPageThatIsAskedForAgainAndAgain) {
    Catalog({PAGE_A, {"PageB", 0, 3, 0, 3}});
    int asked = 0;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (!IsPageRead(body) || body[3] != 3) return std::nullopt;
        if (++asked == 3) line.stop.Raise();
        return std::vector<Bytes>{};
    };
    EXPECT_THROW((void)Backup(), LineStopped);
    EXPECT_EQ(asked, 3);
}

TEST_F(BackupFixture, PageThatCouldNotBeReadOrPlayedBackIsRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        std::uint8_t dbId;
        int bytes;
        const char* status;
    };
    const Case cases[] = {
        // 12 + 789 bytes would overflow the 800-byte receive buffer.
        {"Huge", 0, 789, "Calibration page Huge of 789 bytes is too large for a reply (788 bytes at most)!"},
        // 600 items of five characters make a record longer than the reader's line.
        {"Big", 0, 600, "Calibration page Big cannot be restored: record longer than 3000 bytes!"},
        // Records the restore would skip or send to another page: a database without a name
        // (its values shift by one), a name holding a comma.
        {"Odd", 2, 2, "Calibration page Odd cannot be restored: its record would not write it back!"},
        {"A,B", 1, 2, "Calibration page A,B cannot be restored: its record would not write it back!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cal.backupText = {1, 2, 3};
        cal.backupHeld = true;
        Catalog({{"Small", 0, 1, 0, 4}, {c.name, c.dbId, 2, 0, c.bytes}});
        EXPECT_EQ(RunBackupCal(line, cal, 2, dir.path().string(), prompt), RESULT_FAIL);
        EXPECT_EQ(Status(), c.status);
        // Not even the file-system handshake has begun, and no file was made.
        EXPECT_TRUE(device.writes().empty());
        EXPECT_FALSE(std::filesystem::exists(CalibrationFilePath(dir.path().string(), 2)));
        EXPECT_FALSE(cal.backupHeld);
    }
}

TEST_F(BackupFixture, PageWhoseDataMakeItsRequestTooLongFailsBeforeItsRecordIsWritten) {
    // 500 items fit the reader's line; 500 bytes of FE, each escaped on the wire, do not fit a
    // frame, while 500 bytes of 01 do. The failed backup leaves the good one's file alone.
    std::string good;
    for (const std::uint8_t fill : {0x01, 0xFE}) {
        SCOPED_TRACE(static_cast<int>(fill));
        phone.requests.clear();
        Catalog({PAGE_A, {"PageB", 0, 3, 0, 500}});
        phone.pages[{0, 2}] = {0x01, 0x02, 0xAB};
        phone.pages[{0, 3}] = Bytes(500, fill);
        if (fill == 0xFE) {
            EXPECT_EQ(Backup(), RESULT_FAIL);
            EXPECT_EQ(Status(), "Calibration page PageB cannot be restored: record too long for one request!");
            EXPECT_EQ(File(), good);
            EXPECT_EQ(Sent(test::CAL_SETTING_READ), 0u);
            EXPECT_FALSE(cal.backupHeld);
        } else {
            ASSERT_EQ(Backup(), RESULT_OK) << Status();
            good = File();
            phone.pages.clear();
            ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << Status();
            EXPECT_EQ(phone.pages[(ScriptedPhone::Key{0, 3})], Bytes(500, fill));
        }
    }
}

TEST_F(BackupFixture, BackupRefusesExactlyThePagesWhoseRecordTheRestoreWouldRefuse) {
    // Only the silence after the setting read's first answer waits for the limit.
    line.timing.receiveFrameLimit = 10ms;
    // A page of 570 bytes makes a record a little shorter than the reader's 3000-byte line;
    // each character of the page name makes it one longer.
    std::string name = "P";
    std::string lastHeld;
    std::size_t sent = 0;
    for (;; name += 'x') {
        ASSERT_LT(name.size(), CalMessageCatalog::MSG_STRING_LIMIT);
        Catalog({{name, 0, 2, 0, 570}});
        sent = device.writes().size();
        if (Backup() != RESULT_OK) break;
        lastHeld = HeldText();
        ASSERT_EQ(RestoreCalibration(line, cal), RESULT_OK) << name.size() << ": " << Status();
    }
    EXPECT_EQ(Status(), "Calibration page " + name + " cannot be restored: record longer than 3000 bytes!");
    EXPECT_EQ(device.writes().size(), sent);  // refused before the page was requested
    ASSERT_FALSE(lastHeld.empty()) << "even the shortest name was refused";

    // The file the refused page would have made: one character longer than the last one held.
    std::string refused = lastHeld;
    refused.insert(refused.find("Segment=P") + 9, "x");
    cal.backupText.assign(refused.begin(), refused.end());
    cal.backupHeld = true;
    EXPECT_EQ(RestoreCalibration(line, cal), RESULT_FAIL);
    EXPECT_EQ(Status(), "Record 1 (line 2) refused: longer than 3000 bytes");
}

TEST_F(BackupFixture, PageRequestThatCannotBeSentFailsWithoutATextOfItsOwn) {
    Catalog({PAGE_A, {"PageB", 0, 3, 0, 3}});
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body == PageRead(PAGE_A)) device.closed = true;  // the port goes away
        return std::nullopt;
    };
    EXPECT_EQ(Backup(), RESULT_FAIL);
    EXPECT_EQ(Status(), "Backup  Calbration...... PageA");
    EXPECT_FALSE(cal.backupHeld);
}

TEST_F(BackupFixture, SettingReadTakesOnlyAWholeA1Reply) {
    Catalog({PAGE_A});
    int asked = 0;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body != test::CAL_SETTING_READ) return std::nullopt;
        if (++asked == 1) return std::vector<Bytes>{};  // the first answer goes unseen anyway
        Bytes badSum = EncodeFrame(Bytes{0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, 0x11});
        badSum[badSum.size() - 1] ^= 0x01;
        return std::vector<Bytes>{
            badSum,
            EncodeFrame(Bytes{0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, 0x22, 0x00}),  // L = 8
            EncodeFrame(Bytes{0xA1, 0x08, 0x12, 0x00, 0x03, 0x00, 0x33}),        // another id
            EncodeFrame(Bytes{0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, 0x44}),
        };
    };
    ASSERT_EQ(Backup(), RESULT_OK);
    EXPECT_EQ(cal.savedSettingByte, 0x44);
    EXPECT_EQ(asked, 2);
}

TEST_F(BackupFixture, FileThatCannotBeCreatedFailsTheBackupBeforeAnyPageIsRead) {
    Catalog({PAGE_A});
    // A folder below a regular file cannot exist, whoever runs the test.
    const std::string plainFile = dir.Write("plain", "x");
    cal.backupText = {1, 2, 3};
    cal.backupHeld = true;
    EXPECT_EQ(BackupCalibration(line, cal, 0, plainFile + "/sub", prompt), RESULT_FAIL);
    EXPECT_TRUE(device.writes().empty());
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].icon, PromptIcon::None);
    EXPECT_EQ(prompt.texts()[0].rfind("Couldn't open file: ", 0), 0u) << prompt.texts()[0];
    EXPECT_NE(prompt.texts()[0].find("COM-1calibration.srp"), std::string::npos);
    EXPECT_EQ(Status().rfind("Couldn't create the calibration file", 0), 0u) << Status();
    // The previous backup's text is gone: a restore must not play it over this phone.
    EXPECT_FALSE(cal.backupHeld);
    EXPECT_TRUE(cal.backupText.empty());
}

TEST_F(BackupFixture, RunnerFailsWhenTheFileSystemHandshakeFails) {
    Catalog({PAGE_A});
    device.closed = true;
    EXPECT_EQ(RunBackupCal(line, cal, 0, dir.path().string(), prompt), RESULT_FAIL);
    EXPECT_EQ(Status(), "Timeout on message loopback!");
    EXPECT_FALSE(std::filesystem::exists(path));

    device.closed = false;
    ASSERT_EQ(RunBackupCal(line, cal, 0, dir.path().string(), prompt), RESULT_OK);
    EXPECT_EQ(phone.requests.front(), test::CAL_PROBE);
    EXPECT_TRUE(cal.backupHeld);
}

}  // namespace
}  // namespace zolt
