// The simulated phone's firmware: which requests it answers, with which bytes, and what it
// remembers.
#include <gtest/gtest.h>

#include "sim/message_ids.h"
#include "support/sim_core_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneMode;
using test::CoreDriver;
using test::SimBytes;

TEST(SimFirmware, FileSystemOpensOnAProbeAndTheAccessRequestAndClosesOnTheWholeRelease) {
    CoreDriver phone;
    // The tool's handshake always probes first: an access request alone is not answered.
    EXPECT_TRUE(phone.Send(test::FS_ACCESS).empty());
    EXPECT_EQ(CoreDriver::Wires(phone.Send(test::PROBE)),
              (std::vector<SimBytes>{{0xFE, 0x03, 0x00, 0x00, 0x00, 0x01, 0xFC}}));
    EXPECT_FALSE(phone.core.State().fsAccessOpen);
    EXPECT_EQ(CoreDriver::Wires(phone.Send(test::FS_ACCESS)),
              (std::vector<SimBytes>{{0xFE, 0x04, 0x00, 0xA2, 0x07, 0x00, 0x00, 0x53}}));
    EXPECT_TRUE(phone.core.State().fsAccessOpen);
    EXPECT_EQ(phone.core.State().settings.at({18, 8}), SimBytes{0x30});

    // Neither half of the release closes it alone, nor the halves apart; neither is answered.
    const SimBytes first = {0xF3, 0x03}, second = {0xCE, 0x00, 0x00};
    for (const auto& steps : std::vector<std::vector<SimBytes>>{{second}, {first, test::PROBE, second}, {first}}) {
        for (const SimBytes& step : steps) (void)phone.Send(step);
        EXPECT_TRUE(phone.core.State().fsAccessOpen) << steps.size();
    }
    EXPECT_TRUE(phone.Send(first).empty());
    EXPECT_TRUE(phone.Send(second).empty());
    EXPECT_FALSE(phone.core.State().fsAccessOpen);

    // A reset closes it too, and the probe must come again after it.
    (void)phone.Send(test::PROBE, 10ms);
    (void)phone.Send(test::FS_ACCESS, 10ms);
    EXPECT_TRUE(phone.Send({0xDC, 0x00}, 10ms).empty());
    EXPECT_FALSE(phone.core.State().fsAccessOpen);
    EXPECT_TRUE(phone.Send(test::FS_ACCESS, 20ms).empty());
    EXPECT_EQ(phone.core.State().resets, 1u);
    EXPECT_EQ(phone.core.State().mode, PhoneMode::Firmware);
}

TEST(SimFirmware, EchoesAnyLoopbackBodyAndStoresSettingWritesAtTheirOffset) {
    CoreDriver phone;
    const SimBytes odd = {0x00, 0x00, 0xFE, 0xFD, 0x07};
    EXPECT_EQ(CoreDriver::Wires(phone.Send(odd)), std::vector<SimBytes>{EncodeFrame(odd)});
    (void)phone.Send(test::FS_ACCESS);
    // Type 40, id 9, len 2, offset 1: bytes AA BB; then offset 0.
    EXPECT_EQ(phone.Send({0xA2, 0x07, 40, 0x00, 9, 0x00, 0x02, 0x00, 0x01, 0x00, 0xAA, 0xBB}).size(), 1u);
    EXPECT_EQ(phone.Send({0xA2, 0x07, 40, 0x00, 9, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11}).size(), 1u);
    EXPECT_EQ(phone.core.State().settings.at({40, 9}), (SimBytes{0x11, 0xAA, 0xBB}));
    // Too short to carry its header: neither stored nor answered.
    EXPECT_TRUE(phone.Send({0xA2, 0x07, 0x12, 0x00}).empty());
    EXPECT_EQ(phone.core.State().settings.size(), 2u);
}

TEST(SimFirmware, AResetMakesThePhoneDeafWhileItRestarts) {
    sim::PhoneOptions o = CoreDriver::NoWire();
    o.restartTime = 1000ms;
    CoreDriver phone(o);
    EXPECT_TRUE(phone.Send({0xDC, 0x00}).empty());
    EXPECT_TRUE(phone.Send({0xDC, 0x00}, 10ms).empty());
    EXPECT_TRUE(phone.Send(test::PROBE, 999ms).empty());
    EXPECT_EQ(phone.Send(test::PROBE, 1000ms).size(), 1u);
    EXPECT_EQ(phone.core.State().resets, 1u);
    EXPECT_EQ(phone.core.State().unheard, 2u);
    EXPECT_EQ(phone.core.State().Count(sim::ID_RESET), 2u);
}

TEST(SimFirmware, UnknownRequestsAreRecordedUnansweredAndBadFramesCountedApart) {
    CoreDriver phone;
    // A flash erase in the firmware, a single byte, and an empty frame.
    EXPECT_TRUE(phone.Send({0xB2, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0}).empty());
    EXPECT_TRUE(phone.Send({0x7E}).empty());
    EXPECT_TRUE(phone.Send({}).empty());
    SimBytes bad = EncodeFrame(test::PROBE);
    bad[5] = 0x02;
    phone.core.Receive(bad, phone.start);
    EXPECT_TRUE(phone.Take().empty());
    EXPECT_EQ(phone.Send(test::PROBE).size(), 1u);
    const auto& s = phone.core.State();
    EXPECT_EQ(s.framesReceived, 4u);
    EXPECT_EQ(s.framesDropped, 1u);
    EXPECT_EQ(s.unhandled, 3u);
    EXPECT_EQ(s.Count(0x007E), 1u);
    EXPECT_EQ(s.recent[1], SimBytes{0x7E});
}

}  // namespace
}  // namespace zolt
