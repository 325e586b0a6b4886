// The simulated phone's calibration: page reads and database writes, the calibration
// setting, the wipe that comes with erasing the Data area, what its state folder keeps, and
// the odd answers to records that tests ask for.
#include <gtest/gtest.h>

#include <filesystem>

#include "link/flash.h"
#include "sim/cal_handlers.h"
#include "sim/message_ids.h"
#include "support/sim_core_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using test::CoreDriver;
using test::SimBytes;

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
