// The simulated phone's way into its boot loader, and the boot loader's flash erase, write
// and reset.
#include <gtest/gtest.h>

#include "sim/flash_store.h"
#include "sim/message_ids.h"
#include "support/sim_core_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneMode;
using test::CoreDriver;
using test::SimBytes;
using Bodies = std::vector<SimBytes>;

sim::PhoneOptions BootLoaderOptions() {
    sim::PhoneOptions o = CoreDriver::NoWire();
    o.startInBootLoader = true;
    return o;
}

TEST(SimBootEntry, LoneProbeThenAnotherAfterTheGapIsAnsweredByTheBootLoader) {
    CoreDriver phone;
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::PROBE, 0ms)), Bodies{test::PROBE});
    const auto ready = phone.Send(test::PROBE, 1000ms);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].wire, (SimBytes{0xFE, 0x02, 0x00, 0xE0, 0x00, 0x1E}));
    EXPECT_EQ(phone.core.State().mode, PhoneMode::BootLoader);
    EXPECT_EQ(phone.core.State().bootLoaderEntries, 1u);
    // Every further probe, re-sent while the tool waits, gets the same answer.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::PROBE, 1001ms)), Bodies{test::BOOT_READY});
}

TEST(SimBootEntry, TheFileSystemHandshakeNeverLooksLikeTheBootLoaderOne) {
    CoreDriver phone;
    // A burst of three probes broken off, and a second burst a while later: all echoed.
    for (auto at : {0ms, 100ms, 200ms, 2000ms, 2100ms, 2200ms}) {
        EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::PROBE, at)), Bodies{test::PROBE}) << at.count();
    }
    // The access request in between resets the pattern: a probe long after it is lone.
    phone.Send(test::FS_ACCESS, 2300ms);
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::PROBE, 5000ms)), Bodies{test::PROBE});
    // Too short a pause after a lone probe: still the firmware.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::PROBE, 5400ms)), Bodies{test::PROBE});
    EXPECT_EQ(phone.core.State().mode, PhoneMode::Firmware);
}

TEST(SimBootEntry, ReleaseThenTheBootLoaderHandshakeEntersButASettingWriteDoesNot) {
    // The backup ends with the release and later the boot-loader handshake; the restore ends
    // with the release and later a setting write that must still be answered.
    CoreDriver restore;
    restore.Send({0xCE, 0x00, 0x00}, 0ms);
    EXPECT_EQ(CoreDriver::Bodies(restore.Send({0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05}, 5000ms)),
              (Bodies{{0xA2, 0x07, 0x00, 0x00}}));

    CoreDriver backup;
    backup.Send({0xCE, 0x00, 0x00}, 0ms);
    EXPECT_EQ(CoreDriver::Bodies(backup.Send(test::PROBE, 11000ms)), Bodies{test::PROBE});
    EXPECT_EQ(CoreDriver::Bodies(backup.Send(test::PROBE, 12000ms)), Bodies{test::BOOT_READY});
}

TEST(SimBootEntry, CanBeSwitchedOffOrSkippedByStartingInTheBootLoader) {
    sim::PhoneOptions never = CoreDriver::NoWire();
    never.enterBootOnGap = false;
    CoreDriver firmware(never);
    firmware.Send(test::PROBE, 0ms);
    EXPECT_EQ(CoreDriver::Bodies(firmware.Send(test::PROBE, 5000ms)), Bodies{test::PROBE});

    CoreDriver loader(BootLoaderOptions());
    EXPECT_EQ(CoreDriver::Bodies(loader.Send(test::PROBE)), Bodies{test::BOOT_READY});
    // The boot loader knows nothing of the file system.
    EXPECT_TRUE(loader.Send(test::FS_ACCESS).empty());
    EXPECT_TRUE(loader.Send(test::BOOT_READY).empty());  // the confirm: no reply
}

TEST(SimBootLoader, ErasesThenWritesBlocksInOrderIntoTheArea) {
    CoreDriver phone(BootLoaderOptions());
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::EraseRequest(1))), Bodies{test::FlashReply(1, 0)});
    const SimBytes section = test::SectionBytes(701);
    for (std::uint32_t block = 2; block <= 4; ++block) {
        const std::size_t from = (block - 2) * 350;
        const SimBytes data(section.begin() + static_cast<long>(from),
                            section.begin() + static_cast<long>(std::min<std::size_t>(from + 350, section.size())));
        EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(block, 1, data))),
                  Bodies{test::FlashReply(block, 0)});
    }
    EXPECT_EQ(phone.core.Flash().Area(1), section);
    EXPECT_TRUE(phone.core.Flash().Area(0).empty());

    // A new erase empties the area again.
    phone.Send(test::EraseRequest(1));
    EXPECT_TRUE(phone.core.Flash().Area(1).empty());
}

TEST(SimBootLoader, AsksAgainForABlockThatCameDamaged) {
    CoreDriver phone(BootLoaderOptions());
    phone.Send(test::EraseRequest(6));
    const SimBytes data = test::SectionBytes(350);
    // Wrong sum; length field larger than the data; no data; more than 350 bytes.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 6, data, 1))), Bodies{test::FlashReply(2, 1)});
    SimBytes longer = test::WriteRequest(2, 6, data);
    longer[10] = 0x5F;
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(longer)), Bodies{test::FlashReply(2, 1)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 6, {}))), Bodies{test::FlashReply(2, 1)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 6, test::SectionBytes(351)))),
              Bodies{test::FlashReply(2, 1)});
    // A header cut off after the type, and one cut off in the block number.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(SimBytes{0xB2, 0x04, 0x02, 0x00, 0x00, 0x00, 0x01, 0x06})),
              Bodies{test::FlashReply(2, 1)});
    EXPECT_TRUE(phone.Send(SimBytes{0xB2, 0x04, 0x02, 0x00}).empty());
    EXPECT_TRUE(phone.core.Flash().Area(6).empty());

    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 6, data))), Bodies{test::FlashReply(2, 0)});
    EXPECT_EQ(phone.core.Flash().Area(6), data);
}

TEST(SimBootLoader, KeepsTheBlockOrderWhateverTheToolSends) {
    CoreDriver phone(BootLoaderOptions());
    phone.Send(test::EraseRequest(0));
    const SimBytes a = test::SectionBytes(350, 1), b = test::SectionBytes(350, 2), c = test::SectionBytes(350, 3);
    phone.Send(test::WriteRequest(2, 0, a));
    // Block 4 before 3 (block 3 was lost): the phone names 3. Block 1 is the erase, not data.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(4, 0, c))), Bodies{test::FlashReply(3, 1)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(1, 0, c))), Bodies{test::FlashReply(3, 1)});
    // Block 2 again (its reply was lost): written again and accepted.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 0, b))), Bodies{test::FlashReply(2, 0)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(3, 0, c))), Bodies{test::FlashReply(3, 0)});
    SimBytes expected = b;
    expected.insert(expected.end(), c.begin(), c.end());
    EXPECT_EQ(phone.core.Flash().Area(0), expected);
}

TEST(SimBootLoader, RefusesAreasThatDoNotExistOrWereNotErased) {
    CoreDriver phone(BootLoaderOptions());
    // Naming block 1 with status 1 is what makes the tool report a failed erase.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::EraseRequest(7))), Bodies{test::FlashReply(1, 1)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::EraseRequest(255))), Bodies{test::FlashReply(1, 1)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 1, test::SectionBytes(10)))),
              Bodies{test::FlashReply(1, 1)});
    phone.Send(test::EraseRequest(1));
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 6, test::SectionBytes(10)))),
              Bodies{test::FlashReply(1, 1)});
    // An unknown operation is asked for again.
    SimBytes odd = test::EraseRequest(1, 2);
    odd[6] = 0x07;
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(odd)), Bodies{test::FlashReply(2, 1)});
}

TEST(SimBootLoader, EachStayNeedsTheConfirmBeforeAnEraseAndAnEraseBeforeAWrite) {
    CoreDriver phone(BootLoaderOptions());
    phone.Send(test::EraseRequest(1));
    EXPECT_TRUE(phone.Send({0xDC, 0x00}).empty());
    EXPECT_EQ(phone.core.State().mode, PhoneMode::Firmware);
    phone.Send(test::PROBE, 1000ms);
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::PROBE, 2000ms)), Bodies{test::BOOT_READY});
    // No confirm yet: the erase is refused, as is a write to the area erased last stay.
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::EraseRequest(6), 2001ms)), Bodies{test::FlashReply(1, 1)});
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 1, test::SectionBytes(10)), 2001ms)),
              Bodies{test::FlashReply(1, 1)});
    EXPECT_EQ(phone.core.State().erases, 1u);
    EXPECT_TRUE(phone.Send(test::BOOT_READY, 2002ms).empty());
    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::EraseRequest(6), 2003ms)), Bodies{test::FlashReply(1, 0)});
}

TEST(SimFlashStore, FlashSurvivesARestartAndAGapReadsAsErased) {
    test::TempDir dir;
    const SimBytes a = test::SectionBytes(350, 4), b = test::SectionBytes(20, 5);
    {
        sim::FlashStore flash(dir.path());
        ASSERT_TRUE(flash.Erase(6));
        ASSERT_TRUE(flash.Write(6, 0, a));
        ASSERT_TRUE(flash.Write(6, 700, b));
        EXPECT_FALSE(flash.Write(6, sim::FlashStore::MAX_AREA, b));
    }
    sim::FlashStore again(dir.path());
    SimBytes expected = a;
    expected.resize(700, sim::FlashStore::ERASED);
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(again.Area(6), expected);
    again.Erase(6);
    EXPECT_TRUE(sim::FlashStore(dir.path()).Area(6).empty());
}

}  // namespace
}  // namespace zolt
