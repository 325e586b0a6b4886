// The simulated phone's calibration: page reads and database writes, the calibration
// setting, the wipe that comes with erasing the Data area, what its state folder keeps, and
// the odd answers to records that tests ask for.
#include <gtest/gtest.h>

#include <filesystem>

#include "link/flash.h"
#include "sim/cal_database.h"
#include "sim/cal_handlers.h"
#include "sim/message_ids.h"
#include "sim/request_kind.h"
#include "support/sim_core_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::CoreDriver;
using test::SimBytes;
using sim::FaultAction;
using sim::RequestKind;

const SimBytes PAGE_READ = {0x11, 0x00, 1, 4, 0x10, 0x00, 5, 0};  // database 1, segment 4, 16, 5 bytes
const SimBytes SETTING_READ = {0xA1, 0x07, 18, 0, 3, 0, 1, 0, 0, 0};
const SimBytes OPEN = {0x31, 0x01, 0x00, 0x00};
const SimBytes CLOSE = {0x31, 0x01, 0x01, 0x00};

SimBytes DbWrite(std::uint8_t first) { return {0x30, 0x01, 1, 4, 0x11, 0x00, 2, 0, 1, first, 0xEE}; }
SimBytes SettingWrite(std::uint8_t value) { return {0xA2, 0x07, 18, 0, 3, 0, 1, 0, 0, 0, value}; }

std::vector<SimBytes> Answer(CoreDriver& phone, const SimBytes& body) { return CoreDriver::Bodies(phone.Send(body)); }

SimBytes PageData(CoreDriver& phone) {
    const auto replies = Answer(phone, PAGE_READ);
    if (replies.size() != 1 || replies[0].size() != 13) return {};
    EXPECT_EQ(SimBytes(replies[0].begin(), replies[0].begin() + 8), PAGE_READ);
    return SimBytes(replies[0].begin() + 8, replies[0].end());
}

std::uint8_t SettingOf(CoreDriver& phone) {
    const auto replies = Answer(phone, SETTING_READ);
    EXPECT_EQ(replies.size(), 1u);
    if (replies.size() != 1 || replies[0].size() != 7) return 0;
    EXPECT_EQ(SimBytes(replies[0].begin(), replies[0].begin() + 6), SimBytes(SETTING_READ.begin(), SETTING_READ.begin() + 6));
    return replies[0][6];
}

// The tool's file-system handshake: calibration requests are answered only after it.
void OpenFileSystem(CoreDriver& phone) {
    (void)phone.Send(test::PROBE);
    (void)phone.Send(test::FS_ACCESS);
}

void EraseData(CoreDriver& phone, int type = IMAGE_DATA) {
    phone.core.SetMode(sim::PhoneMode::BootLoader);
    (void)phone.Send(test::BOOT_READY);
    (void)phone.Send(test::EraseRequest(type));
    phone.core.SetMode(sim::PhoneMode::Firmware);
}

TEST(SimCalibration, RequestsAreAnsweredOnlyInsideTheFileSystemSession) {
    CoreDriver phone;
    const std::vector<SimBytes> requests = {PAGE_READ, SETTING_READ, DbWrite(1), {0xA2, 0x07, 40, 0, 9, 0, 1, 0, 0, 0, 7}};
    auto answered = [&] {
        std::vector<std::size_t> n;
        for (const SimBytes& r : requests) n.push_back(Answer(phone, r).size());
        return n;
    };
    EXPECT_EQ(answered(), (std::vector<std::size_t>{0, 0, 0, 0}));
    OpenFileSystem(phone);
    EXPECT_EQ(answered(), (std::vector<std::size_t>{1, 1, 1, 1}));
    (void)Answer(phone, {0xF3, 0x03});
    (void)Answer(phone, {0xCE, 0x00, 0x00});
    EXPECT_EQ(answered(), (std::vector<std::size_t>{0, 0, 0, 0}));
    // The restore writes the calibration setting after the release and waits for it.
    EXPECT_EQ(Answer(phone, SettingWrite(0x42)), (std::vector<SimBytes>{{0xA2, 0x07, 0x00, 0x00}}));
}

TEST(SimCalibration, OnlyKnownIdsAreReadAsPagesAndAMismatchedWriteIsRefused) {
    sim::PhoneOptions o = CoreDriver::NoWire();
    o.pageReadIds = {0x1234};
    CoreDriver phone(o);
    OpenFileSystem(phone);
    EXPECT_TRUE(Answer(phone, PAGE_READ).empty());
    EXPECT_EQ(Answer(phone, {0x34, 0x12, 1, 4, 0x10, 0x00, 5, 0}).size(), 1u);
    EXPECT_EQ(phone.core.State().unhandled, 1u);

    // Two bytes announced, one or three carried: refused, and nothing stored.
    const SimBytes before = Answer(phone, {0x34, 0x12, 1, 4, 0x10, 0x00, 5, 0})[0];
    for (const SimBytes& wrong : {SimBytes{0x30, 0x01, 1, 4, 0x11, 0x00, 2, 0, 1, 0xAB},
                                  SimBytes{0x30, 0x01, 1, 4, 0x11, 0x00, 2, 0, 1, 0xAB, 0xCD, 0xEF}}) {
        EXPECT_EQ(Answer(phone, wrong), (std::vector<SimBytes>{{0x9B, 0x08}}));
    }
    EXPECT_EQ(Answer(phone, {0x34, 0x12, 1, 4, 0x10, 0x00, 5, 0})[0], before);
}

TEST(SimCalibration, WritesAreReadBackAndAnsweredWithTheirHeader) {
    CoreDriver phone;
    OpenFileSystem(phone);
    const SimBytes before = PageData(phone);
    // Bytes 17 and 18 of the segment: the page's second and third.
    EXPECT_EQ(Answer(phone, DbWrite(0xAB)), (std::vector<SimBytes>{{0x30, 0x01, 1, 4, 0x11, 0x00, 2, 0}}));
    EXPECT_EQ(PageData(phone), (SimBytes{before[0], 0xAB, 0xEE, before[3], before[4]}));

    EXPECT_EQ(Answer(phone, SettingWrite(0x42)), (std::vector<SimBytes>{{0xA2, 0x07, 0x00, 0x00}}));
    EXPECT_EQ(SettingOf(phone), 0x42);
    // The markers are taken without an answer.
    EXPECT_TRUE(Answer(phone, OPEN).empty());
    EXPECT_TRUE(Answer(phone, CLOSE).empty());
    EXPECT_EQ(phone.core.State().unhandled, 0u);
}

TEST(SimCalibration, OnlyErasingTheDataAreaWipesCalibrationAndSetting) {
    CoreDriver phone;
    OpenFileSystem(phone);
    (void)Answer(phone, SettingWrite(0x42));
    const SimBytes page = PageData(phone);
    EraseData(phone, IMAGE_CP);
    EXPECT_EQ(PageData(phone), page);
    EXPECT_EQ(SettingOf(phone), 0x42);

    EraseData(phone);
    EXPECT_EQ(PageData(phone), SimBytes(5, 0xFF));
    EXPECT_EQ(SettingOf(phone), 0xFF);
    // Written again, as a restore does.
    (void)Answer(phone, DbWrite(0x01));
    EXPECT_EQ(PageData(phone), (SimBytes{0xFF, 0x01, 0xEE, 0xFF, 0xFF}));
}

TEST(SimCalibration, StateFolderKeepsCalibrationOverARestart) {
    test::TempDir dir;
    sim::PhoneOptions options = CoreDriver::NoWire();
    options.stateDir = dir.path();
    SimBytes written;
    {
        CoreDriver phone(options, 3);
        OpenFileSystem(phone);
        (void)Answer(phone, DbWrite(0x5C));
        (void)Answer(phone, SettingWrite(0x17));
        written = PageData(phone);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "cal-1-4.bin"));
    {
        CoreDriver phone(options, 3);
        OpenFileSystem(phone);
        EXPECT_EQ(PageData(phone), written);
        EXPECT_EQ(SettingOf(phone), 0x17);
        EraseData(phone);
    }
    CoreDriver phone(options, 3);
    OpenFileSystem(phone);
    EXPECT_EQ(PageData(phone), SimBytes(5, 0xFF));
    EXPECT_EQ(SettingOf(phone), 0xFF);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "cal-1-4.bin"));
}

sim::PhoneOptions WithRules(std::vector<sim::FaultRule> rules) {
    sim::PhoneOptions o = CoreDriver::NoWire();
    o.faults.rules = std::move(rules);
    return o;
}

// A real phone's firmware takes one request at a time: a slow write holds back every answer
// after it. A rule on `write` plays on every arrival of that record (the same bytes sent
// again), one on `db-write` on one arrival only; a refused record stays refused.
TEST(SimCalibration, SlowWritesHoldBackLaterAnswersAndARefusedRecordStaysRefused) {
    const SimBytes accepted = {0x30, 0x01, 1, 4, 0x11, 0x00, 2, 0};
    const SimBytes sidbAccepted = {0xA2, 0x07, 0x00, 0x00};
    const SimBytes refused = {0x9B, 0x08};
    sim::PhoneOptions writeTime = CoreDriver::NoWire();
    writeTime.writeTime = 300ms;
    struct Case {
        const char* what;
        sim::PhoneOptions options;
        std::vector<test::SimStep> steps;
    };
    const std::vector<Case> cases = {
        {"every write takes 300 ms, the access request does not", writeTime,
         {{DbWrite(1), 0ms, {accepted}, {300ms}},
          {test::PROBE, 10ms, {test::PROBE}, {300ms}},
          {SettingWrite(5), 400ms, {sidbAccepted}, {700ms}},
          {test::FS_ACCESS, 800ms, {sidbAccepted}, {800ms}}}},
        {"record 1 slow every time", WithRules({{FaultAction::Slow, RequestKind::Write, 1}}),
         {{DbWrite(1), 0ms, {accepted}, {1500ms}},
          {test::PROBE, 10ms, {test::PROBE}, {1500ms}},
          {DbWrite(1), 1000ms, {accepted}, {3000ms}},
          {DbWrite(2), 1100ms, {accepted}, {3000ms}}}},
        {"the first record takes 1.5 s, the second is refused every time",
         WithRules({{FaultAction::Slow, RequestKind::DbWrite, 1}, {FaultAction::Refuse, RequestKind::Write, 2}}),
         {{DbWrite(1), 0ms, {accepted}, {1500ms}},
          {DbWrite(1), 1000ms, {accepted}, {1500ms}},
          {DbWrite(2), 1600ms, {refused}, {1600ms}},
          {DbWrite(1), 1700ms, {accepted}, {1700ms}},
          {DbWrite(2), 1800ms, {refused}, {1800ms}},
          {SettingWrite(7), 1900ms, {sidbAccepted}, {1900ms}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreDriver phone(c.options);
        OpenFileSystem(phone);
        test::ExpectReplies(phone, c.steps);
    }
    // The refused record was never stored.
    CoreDriver phone(WithRules({{FaultAction::Refuse, RequestKind::Write, 1}}));
    OpenFileSystem(phone);
    const SimBytes before = PageData(phone);
    (void)Answer(phone, DbWrite(0xAB));
    EXPECT_EQ(PageData(phone), before);
}

// Pages of one database, segment and size that differ only in offset, as a catalogue may
// list them: each read answers from its own offset, and a write changes exactly its bytes,
// the first database write stored with its middle byte wrong once (miswrite).
TEST(SimCalibration, PagesOfOneShapeAreReadAndWrittenAtTheirOwnOffsets) {
    const std::vector<std::uint8_t> offsets = {0, 5, 10};
    const auto read = [](std::uint8_t offset) { return SimBytes{0x11, 0x00, 1, 4, offset, 0, 5, 0}; };
    const auto write = [](std::uint8_t offset, std::uint8_t v) {
        return SimBytes{0x30, 0x01, 1, 4, offset, 0, 5, 0, 1, v, v, v, v, v};
    };
    std::vector<SimBytes> factory;
    for (std::uint8_t o : offsets) factory.push_back(sim::CalDatabase(1).Read(1, 4, o, 5));
    CoreDriver phone(WithRules({{FaultAction::Miswrite, RequestKind::DbWrite, 1}}));
    OpenFileSystem(phone);
    const auto pages = [&] {
        std::vector<SimBytes> now;
        for (std::uint8_t o : offsets) {
            const auto replies = Answer(phone, read(o));
            EXPECT_EQ(replies.size(), 1u);
            if (replies.size() != 1 || replies[0].size() != 13) return std::vector<SimBytes>{};
            EXPECT_EQ(SimBytes(replies[0].begin(), replies[0].begin() + 8), read(o));
            now.emplace_back(replies[0].begin() + 8, replies[0].end());
        }
        return now;
    };
    EXPECT_EQ(pages(), factory);
    EXPECT_NE(factory[0], factory[1]);
    const std::vector<std::pair<SimBytes, std::vector<SimBytes>>> steps = {
        {write(5, 7), {factory[0], {7, 7, 0xF8, 7, 7}, factory[2]}},
        {write(5, 7), {factory[0], SimBytes(5, 7), factory[2]}},
        {write(10, 9), {factory[0], SimBytes(5, 7), SimBytes(5, 9)}},
    };
    for (const auto& [request, after] : steps) {
        EXPECT_EQ(Answer(phone, request), (std::vector<SimBytes>{SimBytes(request.begin(), request.begin() + 8)}));
        EXPECT_EQ(pages(), after);
    }
}

// A backup's page replies doubled or late, or the phone gone silent from page 3 on (a backup
// stopped in the middle), by rules aimed at page reads.
TEST(SimCalibration, RulesOnPageReadsDoubleDelayOrStopTheReplies) {
    struct Case {
        sim::FaultRule rule;
        std::vector<std::size_t> replies;  // to each of four page reads
        std::chrono::milliseconds secondDue;
    };
    const std::vector<Case> cases = {
        {{FaultAction::Duplicate, RequestKind::PageRead, 2}, {1, 2, 1, 1}, 1ms},
        {{FaultAction::Late, RequestKind::PageRead, 2}, {1, 1, 1, 1}, 1201ms},
        {{FaultAction::Silent, RequestKind::PageRead, 3}, {1, 1, 0, 0}, 1ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::FaultActionName(c.rule.action)));
        CoreDriver phone(WithRules({c.rule}));
        OpenFileSystem(phone);
        std::vector<std::size_t> counts;
        for (int i = 0; i < 4; ++i) {
            const auto out = phone.Send(PAGE_READ, std::chrono::milliseconds(i));
            counts.push_back(out.size());
            if (i == 1) {
                EXPECT_EQ(out.at(0).notBefore - phone.start, c.secondDue);
            }
        }
        EXPECT_EQ(counts, c.replies);
    }
}

TEST(SimCalibration, FaultRulesAnswerRecordsByTheirNumberAfterTheOpening) {
    CoreDriver phone;
    sim::CalFaults faults;
    faults.rules = {{1, sim::CalFaults::Answer::Refuse, 2},
                    {2, sim::CalFaults::Answer::Ignore, 1},
                    {3, sim::CalFaults::Answer::Chatter, 1}};
    sim::InstallCalibrationFaults(phone.core.Table(), faults);
    OpenFileSystem(phone);
    const std::vector<SimBytes> accepted = {{0x30, 0x01, 1, 4, 0x11, 0x00, 2, 0}};
    const std::vector<SimBytes> sidbAccepted = {{0xA2, 0x07, 0x00, 0x00}};
    const std::vector<SimBytes> refused = {{0x9B, 0x08}};

    // Before the opening, and the access request at any time, are no records.
    EXPECT_EQ(Answer(phone, DbWrite(1)), accepted);
    EXPECT_EQ(Answer(phone, OPEN), std::vector<SimBytes>{});
    EXPECT_EQ(Answer(phone, test::FS_ACCESS), sidbAccepted);
    EXPECT_EQ(Answer(phone, DbWrite(1)), accepted);       // record 0
    EXPECT_EQ(Answer(phone, SettingWrite(9)), refused);   // record 1, twice
    EXPECT_EQ(Answer(phone, SettingWrite(9)), refused);
    EXPECT_EQ(Answer(phone, SettingWrite(9)), sidbAccepted);
    EXPECT_EQ(Answer(phone, DbWrite(2)), std::vector<SimBytes>{});  // record 2: silence
    EXPECT_EQ(Answer(phone, DbWrite(2)), accepted);
    EXPECT_EQ(Answer(phone, DbWrite(3)), (std::vector<SimBytes>{{0x55, 0x01, 0x00}}));
    EXPECT_EQ(Answer(phone, DbWrite(3)), accepted);
    EXPECT_EQ(SettingOf(phone), 9);

    // A new opening numbers the records afresh and plays the rules again.
    EXPECT_EQ(Answer(phone, CLOSE), std::vector<SimBytes>{});
    EXPECT_EQ(Answer(phone, OPEN), std::vector<SimBytes>{});
    EXPECT_EQ(Answer(phone, DbWrite(1)), accepted);
    EXPECT_EQ(Answer(phone, DbWrite(1)), refused);
}

}  // namespace
}  // namespace zolt
