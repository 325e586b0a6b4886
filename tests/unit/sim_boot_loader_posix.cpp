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

// A lone probe and another after the gap is the boot-loader handshake; the file-system
// handshake's bursts, an access request between, a short pause or a switched-off entry are not.
// The backup ends with the release and later the boot-loader handshake; the restore ends with
// the release and later a setting write that must still be answered.
TEST(SimBootEntry, OnlyTheBootLoaderHandshakeEntersTheBootLoader) {
    using test::PROBE;
    const SimBytes release = {0xCE, 0x00, 0x00};
    const SimBytes fsGranted = {0xA2, 0x07, 0x00, 0x00};
    sim::PhoneOptions never = CoreDriver::NoWire();
    never.enterBootOnGap = false;
    struct Case {
        const char* what;
        sim::PhoneOptions options;
        std::vector<test::SimStep> steps;
        PhoneMode mode;
    };
    const std::vector<Case> cases = {
        {"lone probe, then the gap", CoreDriver::NoWire(),
         {{PROBE, 0ms, {PROBE}}, {PROBE, 1000ms, {test::BOOT_READY}}, {PROBE, 1001ms, {test::BOOT_READY}}},
         PhoneMode::BootLoader},
        {"bursts, an access request, a short pause", CoreDriver::NoWire(),
         {{PROBE, 0ms, {PROBE}}, {PROBE, 100ms, {PROBE}}, {PROBE, 200ms, {PROBE}},
          {PROBE, 2000ms, {PROBE}}, {PROBE, 2100ms, {PROBE}}, {PROBE, 2200ms, {PROBE}},
          {test::FS_ACCESS, 2300ms, {fsGranted}}, {PROBE, 5000ms, {PROBE}}, {PROBE, 5400ms, {PROBE}}},
         PhoneMode::Firmware},
        {"release, then the setting write", CoreDriver::NoWire(),
         {{release, 0ms, {}}, {{0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05}, 5000ms, {fsGranted}}},
         PhoneMode::Firmware},
        {"release, then the boot-loader handshake", CoreDriver::NoWire(),
         {{release, 0ms, {}}, {PROBE, 11000ms, {PROBE}}, {PROBE, 12000ms, {test::BOOT_READY}}},
         PhoneMode::BootLoader},
        {"entry switched off", never, {{PROBE, 0ms, {PROBE}}, {PROBE, 5000ms, {PROBE}}}, PhoneMode::Firmware},
        // The boot loader knows nothing of the file system, and takes the confirm silently.
        {"started in the boot loader", BootLoaderOptions(),
         {{PROBE, 0ms, {test::BOOT_READY}}, {test::FS_ACCESS, 0ms, {}}, {test::BOOT_READY, 0ms, {}}},
         PhoneMode::BootLoader},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreDriver phone(c.options);
        test::ExpectReplies(phone, c.steps);
        EXPECT_EQ(phone.core.State().mode, c.mode);
        EXPECT_EQ(phone.core.State().bootLoaderEntries, c.mode == PhoneMode::BootLoader ? 1u : 0u);
    }
    CoreDriver phone;
    (void)phone.Send(PROBE, 0ms);
    EXPECT_EQ(CoreDriver::Wires(phone.Send(PROBE, 1000ms)), (std::vector<SimBytes>{{0xFE, 0x02, 0x00, 0xE0, 0x00, 0x1E}}));
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

// The protocol lets a done erase name block 2 with status 1 ("send block 2"), as some boot
// loaders answer; the blocks then go on as after an accepted erase.
TEST(SimBootLoader, AnErasesAnswerMayAskForBlock2) {
    sim::PhoneOptions o = BootLoaderOptions();
    o.faults.eraseReply = sim::EraseReply::SendBlock2;
    CoreDriver phone(o);
    test::ExpectReplies(phone, {{test::EraseRequest(1), 0ms, {test::FlashReply(2, 1)}},
                                {test::WriteRequest(2, 1, test::SectionBytes(10)), 1ms, {test::FlashReply(2, 0)}}});
    EXPECT_EQ(phone.core.Flash().Area(1), test::SectionBytes(10));
}

TEST(SimBootLoader, AsksAgainForABlockThatCameDamaged) {
    CoreDriver phone(BootLoaderOptions());
    phone.Send(test::EraseRequest(6));
    const SimBytes data = test::SectionBytes(350);
    SimBytes longer = test::WriteRequest(2, 6, data);
    longer[10] = 0x5F;  // a length field larger than the data
    const Bodies again = {test::FlashReply(2, 1)};
    test::ExpectReplies(phone, {
        {test::WriteRequest(2, 6, data, 1), 0ms, again},  // wrong sum
        {longer, 0ms, again},
        {test::WriteRequest(2, 6, {}), 0ms, again},
        {test::WriteRequest(2, 6, test::SectionBytes(351)), 0ms, again},
        // A header cut off after the type, and one cut off in the block number.
        {{0xB2, 0x04, 0x02, 0x00, 0x00, 0x00, 0x01, 0x06}, 0ms, again},
        {{0xB2, 0x04, 0x02, 0x00}, 0ms, {}},
    });
    EXPECT_TRUE(phone.core.Flash().Area(6).empty());

    EXPECT_EQ(CoreDriver::Bodies(phone.Send(test::WriteRequest(2, 6, data))), Bodies{test::FlashReply(2, 0)});
    EXPECT_EQ(phone.core.Flash().Area(6), data);
}

TEST(SimBootLoader, KeepsTheBlockOrderWhateverTheToolSends) {
    CoreDriver phone(BootLoaderOptions());
    phone.Send(test::EraseRequest(0));
    const SimBytes a = test::SectionBytes(350, 1), b = test::SectionBytes(350, 2), c = test::SectionBytes(350, 3);
    test::ExpectReplies(phone, {
        {test::WriteRequest(2, 0, a), 0ms, {test::FlashReply(2, 0)}},
        // Block 4 before 3 (block 3 was lost): the phone names 3. Block 1 is the erase, not data.
        {test::WriteRequest(4, 0, c), 0ms, {test::FlashReply(3, 1)}},
        {test::WriteRequest(1, 0, c), 0ms, {test::FlashReply(3, 1)}},
        // Block 2 again (its reply was lost): written again and accepted.
        {test::WriteRequest(2, 0, b), 0ms, {test::FlashReply(2, 0)}},
        {test::WriteRequest(3, 0, c), 0ms, {test::FlashReply(3, 0)}},
    });
    SimBytes expected = b;
    expected.insert(expected.end(), c.begin(), c.end());
    EXPECT_EQ(phone.core.Flash().Area(0), expected);
}

// Naming block 1 with status 1 is what makes the tool report a failed erase; an unknown
// operation is asked for again.
TEST(SimBootLoader, RefusesAreasThatDoNotExistOrWereNotErased) {
    CoreDriver phone(BootLoaderOptions());
    SimBytes odd = test::EraseRequest(1, 2);
    odd[6] = 0x07;
    const Bodies refused = {test::FlashReply(1, 1)};
    test::ExpectReplies(phone, {
        {test::EraseRequest(7), 0ms, refused},
        {test::EraseRequest(255), 0ms, refused},
        {test::WriteRequest(2, 1, test::SectionBytes(10)), 0ms, refused},
        {test::EraseRequest(1), 0ms, {test::FlashReply(1, 0)}},
        {test::WriteRequest(2, 6, test::SectionBytes(10)), 0ms, refused},
        {odd, 0ms, {test::FlashReply(2, 1)}},
    });
}

// No confirm yet after a reset and a new entry: the erase is refused, as is a write to the
// area erased in the stay before.
TEST(SimBootLoader, EachStayNeedsTheConfirmBeforeAnEraseAndAnEraseBeforeAWrite) {
    CoreDriver phone(BootLoaderOptions());
    test::ExpectReplies(phone, {
        {test::EraseRequest(1), 0ms, {test::FlashReply(1, 0)}},
        {{0xDC, 0x00}, 0ms, {}},
        {test::PROBE, 1000ms, {test::PROBE}},
        {test::PROBE, 2000ms, {test::BOOT_READY}},
        {test::EraseRequest(6), 2001ms, {test::FlashReply(1, 1)}},
        {test::WriteRequest(2, 1, test::SectionBytes(10)), 2001ms, {test::FlashReply(1, 1)}},
        {test::BOOT_READY, 2002ms, {}},
        {test::EraseRequest(6), 2003ms, {test::FlashReply(1, 0)}},
    });
    EXPECT_EQ(phone.core.State().erases, 2u);
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
