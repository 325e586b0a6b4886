// The simulated phone's firmware: which requests it answers, with which bytes, and what it
// remembers; and the handler table that later message families plug into.
#include <gtest/gtest.h>

#include "sim/message_ids.h"
#include "support/sim_core_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneMode;
using test::CoreDriver;
using test::SimBytes;

TEST(SimFirmware, AnswersTheProbeWithItsEchoAndTheAccessRequestWithA207) {
    CoreDriver phone;
    EXPECT_EQ(CoreDriver::Wires(phone.Send(test::PROBE)),
              (std::vector<SimBytes>{{0xFE, 0x03, 0x00, 0x00, 0x00, 0x01, 0xFC}}));
    EXPECT_FALSE(phone.core.State().fsAccessOpen);

    EXPECT_EQ(CoreDriver::Wires(phone.Send(test::FS_ACCESS)),
              (std::vector<SimBytes>{{0xFE, 0x04, 0x00, 0xA2, 0x07, 0x00, 0x00, 0x53}}));
    EXPECT_TRUE(phone.core.State().fsAccessOpen);
    const auto& settings = phone.core.State().settings;
    ASSERT_EQ(settings.count({18, 8}), 1u);
    EXPECT_EQ(settings.at({18, 8}), SimBytes{0x30});
}

TEST(SimFirmware, EchoesAnyLoopbackBodyAsItCame) {
    CoreDriver phone;
    const SimBytes odd = {0x00, 0x00, 0xFE, 0xFD, 0x07};
    const auto replies = phone.Send(odd);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].wire, EncodeFrame(odd));
}

TEST(SimFirmware, SettingWritesLandAtTheirOffsetAndAreEachAnswered) {
    CoreDriver phone;
    // Type 18, id 3, len 2, offset 1: bytes AA BB.
    ASSERT_EQ(phone.Send({0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x02, 0x00, 0x01, 0x00, 0xAA, 0xBB}).size(), 1u);
    ASSERT_EQ(phone.Send({0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11}).size(), 1u);
    EXPECT_EQ(phone.core.State().settings.at({18, 3}), (SimBytes{0x11, 0xAA, 0xBB}));
    EXPECT_FALSE(phone.core.State().fsAccessOpen);  // another setting than the access one

    // Too short to carry its header: taken, but neither stored nor answered.
    EXPECT_TRUE(phone.Send({0xA2, 0x07, 0x12, 0x00}).empty());
    EXPECT_EQ(phone.core.State().settings.size(), 1u);
}

TEST(SimFirmware, ReleaseAndResetAreRecordedButNeverAnswered) {
    CoreDriver phone;
    phone.Send(test::FS_ACCESS);
    EXPECT_TRUE(phone.Send({0xF3, 0x03}).empty());
    EXPECT_TRUE(phone.core.State().fsAccessOpen);  // the first message alone does not close it
    EXPECT_TRUE(phone.Send({0xCE, 0x00, 0x00}).empty());
    EXPECT_FALSE(phone.core.State().fsAccessOpen);
    EXPECT_EQ(phone.core.State().Count(sim::ID_RELEASE_FIRST), 1u);
    EXPECT_EQ(phone.core.State().Count(sim::ID_RELEASE_SECOND), 1u);

    phone.Send(test::FS_ACCESS);
    EXPECT_TRUE(phone.Send({0xDC, 0x00}).empty());
    EXPECT_EQ(phone.core.State().resets, 1u);
    EXPECT_FALSE(phone.core.State().fsAccessOpen);
    EXPECT_EQ(phone.core.State().mode, PhoneMode::Firmware);
}

TEST(SimFirmware, RequestsItDoesNotKnowAreRecordedAndLeftUnanswered) {
    CoreDriver phone;
    // A flash erase in the firmware, a single byte, and an empty frame.
    EXPECT_TRUE(phone.Send({0xB2, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0}).empty());
    EXPECT_TRUE(phone.Send({0x7E}).empty());
    EXPECT_TRUE(phone.Send({}).empty());
    const auto& s = phone.core.State();
    EXPECT_EQ(s.framesReceived, 3u);
    EXPECT_EQ(s.unhandled, 3u);
    EXPECT_EQ(s.Count(0x007E), 1u);
    ASSERT_EQ(s.recent.size(), 3u);
    EXPECT_EQ(s.recent[1], SimBytes{0x7E});
}

TEST(SimFirmware, BadFramesAreCountedAndDoNotDisturbTheNext) {
    CoreDriver phone;
    SimBytes bad = EncodeFrame(test::PROBE);
    bad[5] = 0x02;
    phone.core.Receive(bad, phone.start);
    EXPECT_TRUE(phone.Take().empty());
    EXPECT_EQ(phone.core.State().framesDropped, 1u);
    EXPECT_EQ(phone.Send(test::PROBE).size(), 1u);
    EXPECT_EQ(phone.core.State().framesReceived, 1u);
}

TEST(SimMessageTable, ALaterHandlerReplacesTheStandardOneAndCatchAllsTakeTheRest) {
    CoreDriver phone;
    int probes = 0;
    phone.core.Table().On(PhoneMode::Firmware, sim::ID_LOOPBACK,
                          [&](sim::PhoneContext& p, const sim::Request& r) {
                              // Answers with a frame of another length the first time only.
                              const SimBytes other = {0x00, 0x00};
                              if (++probes == 1) {
                                  p.Reply(other);
                              } else {
                                  p.Reply(r.body);
                              }
                              return true;
                          });
    std::vector<std::uint16_t> others;
    phone.core.Table().Otherwise(PhoneMode::Firmware, [&](sim::PhoneContext& p, const sim::Request& r) {
        others.push_back(r.id);
        if (r.id != 0x0011) return false;
        const SimBytes page = {0x11, 0x00, 0x42};
        p.Reply(page);
        return true;
    });

    EXPECT_EQ(phone.Send(test::PROBE)[0].plain.size(), 6u);
    EXPECT_EQ(phone.Send(test::PROBE)[0].plain.size(), 7u);
    EXPECT_EQ(phone.Send({0x11, 0x00, 0x01}).size(), 1u);
    EXPECT_TRUE(phone.Send({0x12, 0x00}).empty());
    // Handlers with a fixed id never reach the catch-alls.
    phone.Send({0xF3, 0x03});
    EXPECT_EQ(others, (std::vector<std::uint16_t>{0x0011, 0x0012}));
    EXPECT_EQ(phone.core.State().unhandled, 1u);
}

}  // namespace
}  // namespace zolt
