// The calibration text reader: which records a text holds, what each parses to, the exact
// request bytes it becomes, and the refusal of records that do not fit the line's buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cal/srp_reader.h"
#include "link/link_session.h"
#include "support/scripted_device.h"

namespace zolt {
namespace {

using test::Bytes;

constexpr std::string_view ONE_PAGE_BACKUP =
    "ETS, Id=CP Power, Power=Down\n"
    "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=3, Write Thru=1, "
    "Data=0x01 \n"
    "0x02 0xab \n"
    "END\n";

constexpr std::string_view RF_WRITE_RECORD =
    "ETS, Id=CP DB Write, DB id=RF Write, Segment=PageA, Offset=16, Bytes=2, Write Thru=1, "
    "Data=0x0a \n"
    "0xff \n";

constexpr std::string_view SIDB_RECORD =
    "ETS, Id=CP FFS SIDB WRITE, Type=18, id=3, len=1, offset=0, Data=0x01 0x02 0x03 \n";

// A backup file of the given page names, each page with the given data bytes.
std::string BackupText(const std::vector<std::string>& pages, int dataBytes = 3) {
    std::string text = "ETS, Id=CP Power, Power=Down\n";
    for (const std::string& page : pages) {
        text += "ETS, Id=CP DB Write, DB id=CP Write, Segment=" + page +
                ", Offset=0, Bytes=" + std::to_string(dataBytes) + ", Write Thru=1, Data=";
        for (int j = 0; j < dataBytes; ++j) {
            text += "0x5a ";
            if (j % 16 == 0) text += "\n";
        }
        text += "\n";
    }
    return text + "END\n";
}

struct ReaderFixture : ::testing::Test {
    CalMessageCatalog catalog;
    SrpReader reader;
    std::string text;  // kept alive while the reader looks at it
    SrpReader::Frame frame{};
    int txLength = -1;

    void SetUp() override {
        catalog.LoadFromText("[A]\nMsgstring=PageA\nSegment=2\n[B]\nMsgstring=PageB\nSegment=7\n");
    }
    int Split(std::string_view t) {
        text = std::string(t);
        return reader.SplitRecords(text);
    }
    std::vector<std::string> Records() {
        std::vector<std::string> records;
        for (int r = 0; r < reader.recordCount; ++r) {
            const SrpRecord& rec = reader.recordTable[static_cast<std::size_t>(r)];
            records.push_back(text.substr(rec.start, rec.end - rec.start));
        }
        return records;
    }
    // Splits `t` and reads its first record.
    SrpReader::Parsed ReadFirst(std::string_view t) {
        Split(t);
        return reader.ReadRecord(0, catalog);
    }
    Bytes Data(int n) const { return Bytes(reader.recordData.begin(), reader.recordData.begin() + n); }
    Bytes Body() const { return Bytes(frame.begin() + 3, frame.begin() + txLength); }
    bool FrameCleared() const {
        return std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0; });
    }
};

// id 0x0130, database, segment (from the catalogue), offset, bytes, write through, data; or
// id 0x07A2, type, id, len, offset, data.
TEST_F(ReaderFixture, RecordsBecomeTheirExactRequests) {
    struct Case {
        std::string text;
        SrpRecordKind kind;
        Bytes body;
    };
    const std::vector<Case> cases = {
        {std::string(ONE_PAGE_BACKUP), SRP_DB_WRITE,
         {0x30, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03, 0x00, 0x01, 0x01, 0x02, 0xAB}},
        {"xx\n" + std::string(RF_WRITE_RECORD), SRP_DB_WRITE,
         {0x30, 0x01, 0x01, 0x02, 0x10, 0x00, 0x02, 0x00, 0x01, 0x0A, 0xFF}},
        {"xx\n" + std::string(SIDB_RECORD), SRP_SIDB_WRITE,
         {0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Split(c.text), 1);
        const SrpReader::Parsed parsed = reader.ReadRecord(0, catalog);
        EXPECT_EQ(parsed.kind, c.kind);
        EXPECT_EQ(parsed.refusal, SrpRefusal::None);
        ASSERT_EQ(reader.BuildRecordRequest(parsed.kind, parsed.dataCount, frame, txLength), SrpRefusal::None);
        EXPECT_EQ(txLength, static_cast<int>(c.body.size()) + 3);
        EXPECT_EQ(Body(), c.body);
    }
    EXPECT_EQ(SidbStatusLine(reader.message), "Script CP FFS SIDB WRITEType=18 id=3 len=1 offset=0");

    // The request built into a line's frame goes on the wire as its encoded frame.
    LinkSession session;
    test::ScriptedDevice device{session.stop};
    session.device = &device;
    const SrpReader::Parsed parsed = ReadFirst(cases[1].text);
    ASSERT_EQ(reader.BuildRecordRequest(parsed.kind, parsed.dataCount, session.txFrame, session.txLength),
              SrpRefusal::None);
    ASSERT_GT(session.SendFrame(), 0);
    EXPECT_EQ(device.writes().back(), EncodeFrame(cases[1].body));
}

TEST_F(ReaderFixture, FindsRecordsBetweenMarksAndSkipsFirstLineEndLineAndComments) {
    EXPECT_EQ(Split(BackupText({"PageA", "PageB"})), 2);
    EXPECT_EQ(Records()[0].substr(0, 20), "ETS, Id=CP DB Write,");

    // A record stops before the line feed in front of the next mark; "//" to the next "ETS"
    // belongs to no record.
    Split("ETS, one\nETS, two\n// a comment\nnot a record\nETS, three\n");
    EXPECT_EQ(Records(), (std::vector<std::string>{"ETS, two", "ETS, three\n"}));

    // A script whose first record stands at position 0 loses that record.
    Split(std::string(SIDB_RECORD) + std::string(SIDB_RECORD));
    EXPECT_EQ(reader.recordCount, 1);
    EXPECT_EQ(reader.recordTable[0].start, SIDB_RECORD.size());

    for (std::string_view tiny : {"", "E", "ETS", "xETS"}) {
        EXPECT_EQ(Split(tiny), 0) << tiny;
    }
    EXPECT_EQ(Split("xxxETS"), 1);  // a mark at the very end opens a record of its own
    EXPECT_EQ(Records(), (std::vector<std::string>{"ETS"}));
}

TEST_F(ReaderFixture, RecordsWithoutAKnownKindOrAClosingCommaAreNotWrites) {
    const std::vector<std::string> notWrites = {
        // The Write Thru value is not closed by a comma.
        "xx\nETS, Id=CP DB Write, DB id=RF Write, Segment=PageA, Offset=16, Bytes=2, "
        "Write Thru=1 Data=0x0a \n",
        "xx\nETS, Id=CP Power, Power=Down, a=1, b=2, c=3, d=4, e=5,\n",
        "xx\nETS, Id=cp db write, DB id=RF Write, Segment=PageA, Offset=16, Bytes=2, "
        "Write Thru=1, Data=0x0a \n",
        "xx\nETS, Id=CP FFS SIDB Write, Type=18, id=3, len=1, offset=0, Data=0x01 \n",
        // Later values cannot make up a kind name once an unknown first value is taken.
        "xx\nETS, Id=Other, DB id=CP DB Write, a=1, b=2, c=3, d=4, e=5, f=6,\n",
    };
    for (const std::string& t : notWrites) {
        EXPECT_EQ(ReadFirst(t).kind, SRP_NONE) << t;
    }
    // The values taken before the record fell short stay in the message.
    reader.message = {};
    ReadFirst(notWrites[0]);
    EXPECT_EQ(reader.message.bytes, 2);
    EXPECT_EQ(reader.message.offset, 16);
}

TEST_F(ReaderFixture, KeysAreNotLookedAtAndUnknownNamesParseToTheirMarkers) {
    const SrpReader::Parsed parsed =
        ReadFirst("xx\nETS, K=CP DB Write, L=Other DB, M=NoSuchPage, N=abc, O=-1, P=300,\n");
    EXPECT_EQ(parsed.kind, SRP_DB_WRITE);
    EXPECT_EQ(reader.message.dbId, 0xFF);
    EXPECT_EQ(reader.message.segment, 0);
    EXPECT_EQ(reader.message.offset, 0);
    EXPECT_EQ(reader.message.bytes, 0xFFFF);
    EXPECT_EQ(reader.message.writeThru, 300 & 0xFF);
    EXPECT_EQ(parsed.dataCount, 0);
}

TEST_F(ReaderFixture, LastRecordKeepsItsLastCharactersWithoutATrailingLine) {
    // Text ending in one line feed right after the last item, or with no line feed at all.
    for (std::string_view end : {"0xab\n", "0xab"}) {
        const SrpReader::Parsed parsed =
            ReadFirst(std::string("xx\nETS, Id=CP DB Write, DB id=CP Write, Segment=PageB, "
                                  "Offset=0, Bytes=2, Write Thru=1, Data=0x01 ") +
                      std::string(end));
        ASSERT_EQ(parsed.dataCount, 2) << end;
        EXPECT_EQ(Data(2), (Bytes{0x01, 0xAB}));
        EXPECT_EQ(parsed.refusal, SrpRefusal::None);
    }
    // An SIDB write without data whose closing comma is the text's second-last character.
    EXPECT_EQ(ReadFirst("xx\nETS, Id=CP FFS SIDB WRITE, Type=18, id=3, len=1, offset=0,\n").kind,
              SRP_SIDB_WRITE);
}

TEST_F(ReaderFixture, DataItemsFollowDataAnywhereAndAreReadAsCReadsThem) {
    struct Case {
        std::string data;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"Data=0x010x02\n 0x03", {0x01, 0x02, 0x03}},  // no separators needed
        {"Data=0xAB 0xcD", {0xAB, 0xCD}},              // upper-case digits mean the same
        {"Data=0X12 0x34", {0x34}},                    // "0X" is no item
        {"Data=", {}},
        {"Data=0x01 Data=0x02", {0x01, 0x02, 0x02}},   // each "Data=" takes what follows it
        // Malformed items are read, not refused: the digits there are, none giving 0.
        {"Data=0x1 0x02", {0x01, 0x02}},
        {"Data=0x01 0xag", {0x01, 0x0A}},
        {"Data=0xg1 0x02", {0x00, 0x02}},
        {"Data=0x01 0xab// comment", {0x01, 0x0A}},  // the record ends before the 'b'
    };
    for (const Case& c : cases) {
        const SrpReader::Parsed parsed =
            ReadFirst("xx\nETS, Id=CP FFS SIDB WRITE, a=1, b=2, c=3, d=0x77, " + c.data + " \n");
        EXPECT_EQ(parsed.kind, SRP_SIDB_WRITE) << c.data;
        ASSERT_EQ(parsed.dataCount, static_cast<int>(c.bytes.size())) << c.data;
        EXPECT_EQ(Data(parsed.dataCount), c.bytes) << c.data;
        EXPECT_EQ(parsed.refusal, SrpRefusal::None);
        EXPECT_EQ(reader.BuildRecordRequest(parsed.kind, parsed.dataCount, frame, txLength),
                  SrpRefusal::None);
    }
}

TEST(HexPairToByte, ReadsTheDigitsThereAreAsAHexadecimalLiteral) {
    struct Case {
        char first;
        char second;
        std::uint8_t byte;
    };
    for (const Case& c : std::vector<Case>{
             {'0', '0', 0x00}, {'f', 'f', 0xFF}, {'a', '0', 0xA0}, {'0', 'a', 0x0A},
             {'A', 'b', 0xAB}, {'F', 'F', 0xFF},
             // One digit is a byte of its own, "0x1 " meaning 1; no digit is 0.
             {'1', ' ', 0x01}, {'9', 'g', 0x09}, {'c', '\n', 0x0C}, {'1', '\0', 0x01},
             {' ', '1', 0x00}, {'g', 'a', 0x00}, {'\xff', '\0', 0x00}}) {
        EXPECT_EQ(HexPairToByte(c.first, c.second), c.byte) << c.first << c.second;
    }
}

TEST(CountEtsMarks, CountsEveryWholeMarkLessTwoAndNeverGoesBelowZero) {
    const std::string threePages = BackupText({"PageA", "PageB", "PageC"});
    auto count = [](std::string_view t) {
        return SrpReader::CountEtsMarks(reinterpret_cast<const std::uint8_t*>(t.data()), t.size());
    };
    EXPECT_EQ(count(threePages), 2);
    EXPECT_EQ(count("ETSETSETSETS"), 2);
    EXPECT_EQ(count("ETSETSETSET"), 1);  // the last mark is cut
    EXPECT_EQ(count("ETS"), 0);
    EXPECT_EQ(count(""), 0);
    EXPECT_EQ(SrpReader::CountEtsMarks(nullptr, 10), 0);
}

// `count` data items of `item` in a record line short enough to hold them: each "Data="
// takes in every item behind it, so the second half is counted twice.
std::string DataItems(int count, std::string_view item) {
    auto repeat = [&](int n) {
        std::string items;
        for (int j = 0; j < n; ++j) items += item;
        return items;
    };
    return "Data=" + repeat(count % 2) + "Data=" + repeat(count / 2);
}

std::string DbRecord(std::string_view data) {
    return "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=1, Write Thru=1, " +
           std::string(data) + " \n";
}

TEST_F(ReaderFixture, RecordsThatDoNotFitAreRefusedWithTheirNumber) {
    auto build = [&](int recordIndex) {
        const SrpReader::Parsed parsed = reader.ReadRecord(recordIndex, catalog);
        EXPECT_EQ(parsed.kind, SRP_DB_WRITE);
        return reader.BuildRecordRequest(parsed.kind, parsed.dataCount, frame, txLength);
    };

    // 787 data bytes make the largest database write that fits a frame (txLength 799).
    Split("xx\n" + DbRecord(DataItems(100, "0x00")) + DbRecord(DataItems(787, "0x00")) +
          DbRecord(DataItems(788, "0x00")) + DbRecord(DataItems(787, "0xfe")) +
          DbRecord(DataItems(801, "0x00")));
    EXPECT_EQ(build(0), SrpRefusal::None);
    EXPECT_EQ(build(1), SrpRefusal::None);
    EXPECT_EQ(txLength, 799);
    EXPECT_EQ(build(2), SrpRefusal::RequestTooLong);
    EXPECT_TRUE(FrameCleared());
    EXPECT_EQ(build(3), SrpRefusal::RequestTooLong);  // fits unescaped, not escaped
    EXPECT_EQ(txLength, 0);
    EXPECT_EQ(reader.RefusalText(SrpRefusal::RequestTooLong, 3),
              "Record 4 (line 5) refused: too long for one request");
    EXPECT_EQ(build(4), SrpRefusal::TooManyDataBytes);
    EXPECT_EQ(reader.ReadRecord(4, catalog).dataCount, 801);
    EXPECT_TRUE(FrameCleared());

    // A line of exactly 3000 bytes is read whole; one byte more is refused, kind and all.
    std::string data = "Data=";
    for (int j = 0; j < 580; ++j) data += "0x00 ";
    std::string exact = DbRecord(data);
    exact.insert(exact.find("Data="), std::string(3000 - exact.size(), ' '));
    ASSERT_EQ(exact.size(), 3000u);
    Split("xx\n" + exact + "\n" + exact + " ");
    EXPECT_EQ(reader.CopyRecord(0), 3000);
    EXPECT_EQ(build(0), SrpRefusal::None);
    EXPECT_EQ(build(1), SrpRefusal::LineTooLong);
    EXPECT_EQ(reader.RefusalText(SrpRefusal::LineTooLong, 1),
              "Record 2 (line 4) refused: longer than 3000 bytes");

    // A record with no kind builds nothing.
    EXPECT_EQ(reader.BuildRecordRequest(SRP_NONE, 0, frame, txLength), SrpRefusal::NoRequest);
    EXPECT_EQ(txLength, 0);
}

TEST_F(ReaderFixture, RecordsBeyondTheThousandthAreRefusedWhateverTheirKind) {
    std::string t = "xx\n";
    for (int r = 0; r < 1001; ++r) t += "ETS, Id=CP Power, n=" + std::to_string(r) + ",\n";
    EXPECT_EQ(Split(t), 1001);
    EXPECT_EQ(reader.recordCount, SrpReader::MAX_RECORDS);
    EXPECT_EQ(reader.ReadRecord(999, catalog).refusal, SrpRefusal::None);
    const SrpReader::Parsed last = reader.ReadRecord(1000, catalog);
    EXPECT_EQ(last.refusal, SrpRefusal::TooManyRecords);
    EXPECT_EQ(reader.RefusalText(last.refusal, 1000),
              "Record 1001 (line 1002) refused: more than 1000 records");
    EXPECT_EQ(reader.ReadRecord(1001, catalog).refusal, SrpRefusal::None);  // past the text
}

TEST_F(ReaderFixture, CheckFindsTheFirstRecordTheRunCouldNotSend) {
    const std::string longDb = DbRecord(DataItems(801, "0x00"));
    const std::string longSidb = "ETS, Id=CP FFS SIDB WRITE, a=1, b=2, c=3, d=4, " + DataItems(801, "0x00") + " \n";
    std::string thousandAndOne = "xx\n";
    for (int r = 0; r < 1001; ++r) thousandAndOne += "ETS, Id=CP Power,\n";
    struct Case {
        std::string text;
        SrpRun run;
        SrpReader::Check check;
    };
    const std::vector<Case> cases = {
        {"xx\n" + std::string(RF_WRITE_RECORD) + std::string(SIDB_RECORD), SrpRun::Restore, {2, SrpRefusal::None}},
        {"xx\n" + std::string(RF_WRITE_RECORD) + longDb + longSidb, SrpRun::Restore, {1, SrpRefusal::TooManyDataBytes}},
        // A script skips database writes, whatever they hold.
        {"xx\n" + std::string(RF_WRITE_RECORD) + longDb + longSidb, SrpRun::Script, {2, SrpRefusal::TooManyDataBytes}},
        {"xx\n" + std::string(RF_WRITE_RECORD) + longDb, SrpRun::Script, {2, SrpRefusal::None}},
        // Records that are no write are never refused, except beyond the table.
        {"xx\nETS, Id=CP Power,\n", SrpRun::Restore, {1, SrpRefusal::None}},
        {thousandAndOne, SrpRun::Script, {1000, SrpRefusal::TooManyRecords}},
    };
    for (const Case& c : cases) {
        Split(c.text);
        reader.message = {};
        reader.message.writeThru = 7;
        const SrpReader::Check check = reader.CheckRecords(c.run, catalog);
        EXPECT_EQ(check.index, c.check.index) << c.text.substr(0, 80);
        EXPECT_EQ(check.refusal, c.check.refusal) << c.text.substr(0, 80);
        EXPECT_EQ(reader.message.writeThru, 7);  // the run starts from the values it had
    }
}

// Every record of `t` parses and builds within its limits; used on texts of any content.
void ReadEverything(std::string_view t) {
    static const CalMessageCatalog catalog = [] {
        CalMessageCatalog c;
        c.LoadFromText("[A]\nMsgstring=PageA\nSegment=2\n");
        return c;
    }();
    SrpReader reader;
    SrpReader::Frame frame{};
    const int found = reader.SplitRecords(t);
    ASSERT_GE(found, reader.recordCount);
    // Every record before the first refused one builds.
    const SrpReader::Check check = reader.CheckRecords(SrpRun::Restore, catalog);
    ASSERT_LE(check.index, found);
    ASSERT_EQ(check.refusal == SrpRefusal::None, check.index == found);
    (void)SrpReader::CountEtsMarks(reinterpret_cast<const std::uint8_t*>(t.data()), t.size());
    for (int r = 0; r < found; ++r) {
        const SrpReader::Parsed parsed = reader.ReadRecord(r, catalog);
        for (SrpRecordKind kind : {SRP_DB_WRITE, SRP_SIDB_WRITE}) {
            int txLength = -1;
            const SrpRefusal refusal = reader.BuildRecordRequest(kind, parsed.dataCount, frame, txLength);
            if (refusal == SrpRefusal::None) {
                ASSERT_LT(txLength, EtsFrame::BUFFER_SIZE);
                ASSERT_EQ(txLength, (kind == SRP_DB_WRITE ? 12 : 13) + parsed.dataCount);
            } else {
                ASSERT_EQ(txLength, 0);
            }
        }
        (void)reader.RefusalText(SrpRefusal::LineTooLong, r);
        (void)SidbStatusLine(reader.message);
    }
}

TEST(SrpReaderRobustness, TextsOfAnyContentParseWithinTheirLimits) {
    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    ReadEverything(allBytes);
    ReadEverything("ETS" + allBytes + "ETS" + allBytes + "//" + allBytes);

    std::mt19937 random(12345);
    const std::string alphabet = "ETS/=,Data0x1fF \n";
    for (int round = 0; round < 300; ++round) {
        std::string t(random() % 4000, '\0');
        const bool biased = round % 2 == 0;
        for (char& c : t) {
            c = biased ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
        }
        ReadEverything(t);
    }

    // A mebibyte of records and of one-record worst cases.
    std::string big;
    while (big.size() < (1u << 20)) big += std::string(SIDB_RECORD) + std::string(RF_WRITE_RECORD);
    ReadEverything(big);
    ReadEverything("xxxETS, Id=" + std::string(1u << 20, '='));
    ReadEverything("xxxETS, Id=x" + std::string(1u << 20, ','));
    std::string data = "xxxETS, Id=CP DB Write, a=1, b=2, c=3, d=4, e=5,";
    while (data.size() < (1u << 20)) data += "Data=0x00";
    ReadEverything(data);
}

}  // namespace
}  // namespace zolt
