// The frame format on the wire: what a line sends, byte for byte.
#include <gtest/gtest.h>

#include "link/ets_frame.h"
#include "link/link_session.h"
#include "support/scripted_device.h"

namespace zolt {
namespace {

using test::Bytes;
using test::ScriptedDevice;

struct SendFixture : ::testing::Test {
    LinkSession session;
    ScriptedDevice device{session.stop};
    void SetUp() override { session.device = &device; }

};

TEST(FrameChecksum, MakesLengthBodyAndChecksumSumToZero) {
    const std::uint8_t probe[] = {0xFE, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(FrameChecksum(probe, 6), 0xFC);
    const std::uint8_t timeoutFrame[] = {0xFE, 0x01, 0x00, 0x32};
    EXPECT_EQ(FrameChecksum(timeoutFrame, 4), 0xCD);
    // The start byte never counts, and too short a frame gives 0.
    const std::uint8_t startOnly[] = {0x12};
    EXPECT_EQ(FrameChecksum(startOnly, 1), 0);
    EXPECT_EQ(FrameChecksum(probe, 0), 0);
}

// Each body as a line sends it, and as EncodeFrame makes it.
TEST_F(SendFixture, BodiesGoOutExactlyWithFeAndFdEscapedAfterTheStartByte) {
    struct Case {
        Bytes body;
        Bytes wire;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x01}, {0xFE, 0x03, 0x00, 0x00, 0x00, 0x01, 0xFC}},  // the loopback probe
        // 03 00 FE FD 00 sums to 0x1FE: checksum 02.
        {{0xFE, 0xFD, 0x00}, {0xFE, 0x03, 0x00, 0xFD, 0x01, 0xFD, 0x02, 0x00, 0x02}},
        {{0x01}, {0xFE, 0x01, 0x00, 0x01, 0xFD, 0x01}},  // checksum FE, escaped
        {{0x02}, {0xFE, 0x01, 0x00, 0x02, 0xFD, 0x02}},  // checksum FD, escaped
    };
    for (const Case& c : cases) {
        session.BuildRequest(c.body);
        EXPECT_EQ(session.SendFrame(), static_cast<int>(c.wire.size()));
        EXPECT_EQ(device.writes().back(), c.wire);
        EXPECT_EQ(EncodeFrame(c.body), c.wire);
    }

    // A body of 253 bytes has the length byte FD.
    session.txFrame.fill(0);
    session.txLength = 3 + 0xFD;
    ASSERT_GT(session.SendFrame(), 0);
    Bytes wire = device.writes().back();
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), (Bytes{0xFE, 0xFD, 0x02, 0x00}));
}

TEST_F(SendFixture, SendingTwiceWithoutRebuildingSendsTheSameFrame) {
    session.BuildRequest({0xB2, 0x04, 0xFE, 0x00});
    ASSERT_GT(session.SendFrame(), 0);
    const Bytes first = device.writes().back();
    ASSERT_GT(session.SendFrame(), 0);
    EXPECT_EQ(device.writes().back(), first);
    EXPECT_EQ(session.txLength, 7);
}

TEST_F(SendFixture, RefusesWhatWouldNotFitTheWireBufferAndSendsNothing) {
    // 399 bytes of FE escape to 798: with start, length and checksum that is over 800.
    session.txFrame.fill(0xFE);
    session.txLength = 3 + 399;
    EXPECT_EQ(session.SendFrame(), SEND_REFUSED);
    // A checksum position outside the buffer.
    session.txFrame.fill(0);
    session.txLength = EtsFrame::BUFFER_SIZE;
    EXPECT_EQ(session.SendFrame(), SEND_REFUSED);
    EXPECT_TRUE(device.writes().empty());

    // Any body of 396 bytes fits, even all escapes; the largest plain body, 796 bytes of 00,
    // is 800 bytes on the wire.
    session.txFrame.fill(0xFD);
    session.txLength = 3 + 396;
    EXPECT_GT(session.SendFrame(), 0);
    session.txFrame.fill(0);
    session.txLength = 3 + 796;
    EXPECT_EQ(session.SendFrame(), 800);
}

TEST_F(SendFixture, ClosedPortGivesMinusOne) {
    device.closed = true;
    session.BuildRequest({0x00, 0x00, 0x01});
    EXPECT_EQ(session.SendFrame(), -1);
}

}  // namespace
}  // namespace zolt
