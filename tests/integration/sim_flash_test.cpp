// The tool's boot loading and flash programming against a simulated phone over a real
// pseudo-terminal: the section must arrive in the phone's flash byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "link/flash.h"
#include "sim/message_ids.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneMode;
using sim::PhoneState;
using test::SimBytes;
using test::SimLine;
namespace fs = std::filesystem;

SimBytes AreaOf(SimLine& line, int type) {
    return line.phone->Inspect([type](const sim::PhoneCore& p) { return p.Flash().Area(type); });
}

TEST(SimFlash, BootLoadFindsTheBootLoaderBehindTheFirmwareAndItsLeftoverEchoes) {
    SimLine line;
    EXPECT_EQ(line.session.BootLoad(), RESULT_OK);
    EXPECT_EQ(line.session.statusText.Get(), "Boot load success.");
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.Count(sim::ID_BOOT_CONFIRM) == 1; }));
    line.Phone([](const PhoneState& s) {
        EXPECT_EQ(s.mode, PhoneMode::BootLoader);
        EXPECT_EQ(s.bootLoaderEntries, 1u);
    });
}

TEST(SimFlash, SectionWrittenThroughTheToolEqualsTheAreaAndItsFile) {
    const fs::path dir = fs::temp_directory_path() / ("zolt-sim-flashfile-" + std::to_string(getpid()));
    fs::remove_all(dir);
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.stateDir = dir;
    SimLine line(options);

    const SimBytes section = test::SectionBytes(10 * 350 + 1, 9);  // 11 blocks, the last of 1 byte
    ASSERT_EQ(line.session.BootLoad(), RESULT_OK);
    ASSERT_EQ(line.session.FlashErase(IMAGE_CP), RESULT_OK);
    EXPECT_EQ(line.session.flashBlock.load(), 2u);
    ASSERT_EQ(line.session.FlashWrite(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(line.session.statusText.Get(), "Flash writing success.(CP)");
    EXPECT_EQ(line.session.flashBlockCount.load(), 11);

    EXPECT_EQ(AreaOf(line, IMAGE_CP), section);
    std::ifstream file(dir / "flash-1.bin", std::ios::binary);
    EXPECT_EQ(SimBytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()), section);
    fs::remove_all(dir);
}

TEST(SimFlash, BootCpAndDataInOneStayThenResetAndARestoreHandshake) {
    SimLine line;
    const SimBytes boot = test::SectionBytes(700, 1), cp = test::SectionBytes(1000, 2), data = test::SectionBytes(351, 3);
    ASSERT_EQ(line.session.BootLoad(), RESULT_OK);
    for (auto [type, section] : {std::pair{IMAGE_BOOT, &boot}, {IMAGE_CP, &cp}, {IMAGE_DATA, &data}}) {
        ASSERT_EQ(line.session.FlashErase(type), RESULT_OK) << type;
        ASSERT_EQ(line.session.FlashWrite(type, *section), RESULT_OK) << type;
    }
    line.session.ResetPhone();
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.mode == PhoneMode::Firmware; }));
    EXPECT_EQ(AreaOf(line, IMAGE_BOOT), boot);
    EXPECT_EQ(AreaOf(line, IMAGE_CP), cp);
    EXPECT_EQ(AreaOf(line, IMAGE_DATA), data);

    // Back in the firmware, the restore's handshake works as before the flashing.
    EXPECT_EQ(line.session.WaitForFs(FS_RESTORE), RESULT_OK);
    EXPECT_EQ(line.session.statusText.Get(), "Restore wait for success.");
}

TEST(SimFlash, BackupReleaseFollowedByBootLoadReachesTheBootLoader) {
    SimLine line;
    ASSERT_EQ(line.session.WaitForFs(FS_BACKUP), RESULT_OK);
    line.session.FinishFsAccess();
    line.session.Pause(50ms);
    EXPECT_EQ(line.session.BootLoad(), RESULT_OK);
    ASSERT_EQ(line.session.FlashErase(IMAGE_DATA), RESULT_OK);
    EXPECT_EQ(line.session.flashBlock.load(), 2u);
}

TEST(SimFlash, WriteWithoutEraseIsReportedByTheToolAsAnEraseError) {
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.startInBootLoader = true;
    SimLine line(options);
    line.session.flashBlock = 2;
    EXPECT_EQ(line.session.FlashWrite(IMAGE_CP, test::SectionBytes(400)), RESULT_FAIL);
    EXPECT_EQ(line.session.statusText.Get(), "Flash Erase error!");
    EXPECT_TRUE(AreaOf(line, IMAGE_CP).empty());
}

}  // namespace
}  // namespace zolt
