// Receiving frames: reassembly across reads, noise, give-ups and each mode's limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "link/ets_frame.h"
#include "link/frame_receiver.h"
#include "link/link_session.h"
#include "support/scripted_device.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ScriptedDevice;

struct ReceiveFixture : ::testing::Test {
    LinkSession session;
    ScriptedDevice device{session.stop};
    void SetUp() override {
        session.device = &device;
        session.timing.receiveFrameLimit = 40ms;
        session.timing.waitReplyLimit = 20ms;
    }
    Bytes Received() const {
        return Bytes(session.rxFrame.begin(), session.rxFrame.begin() + session.rxCount);
    }
};

const Bytes kEcho = {0xFE, 0x03, 0x00, 0x00, 0x00, 0x01, 0xFC};

TEST_F(ReceiveFixture, FrameSplitOverReadsIsAssembledAsIfReadAtOnce) {
    // Body FE FD 00 escaped; split right between an FD and the byte it escapes.
    const Bytes wire = EncodeFrame(Bytes{0xFE, 0xFD, 0x00});
    const Bytes plain = {0xFE, 0x03, 0x00, 0xFE, 0xFD, 0x00, 0x02};
    for (std::size_t cut = 1; cut < wire.size(); ++cut) {
        device.Queue(Bytes(wire.begin(), wire.begin() + static_cast<long>(cut)));
        device.Queue(Bytes(wire.begin() + static_cast<long>(cut), wire.end()));
        ASSERT_EQ(session.WaitReply(RECEIVE_UNTIL_FRAME), 7) << "cut at " << cut;
        EXPECT_EQ(Received(), plain) << "cut at " << cut;
    }
    // One byte per read.
    for (std::uint8_t b : wire) device.Queue(Bytes{b});
    ASSERT_EQ(session.ReceiveFrame(RECEIVE_UNTIL_FRAME), 7);
    EXPECT_EQ(Received(), plain);
}

// What one poll makes of the reads a port gives: noise before a start byte is dropped, a
// start byte inside a frame is data (a phone that does not escape), a frame that cannot fit
// is given up for the next start byte, and bytes behind the frame go with it.
TEST_F(ReceiveFixture, ReadsBecomeTheFrameTheyHold) {
    Bytes twoEchoes = kEcho;
    twoEchoes.insert(twoEchoes.end(), kEcho.begin(), kEcho.end());
    Bytes noisyEcho = {0x11, 0x22, 0xFD, 0x33};
    noisyEcho.insert(noisyEcho.end(), kEcho.begin(), kEcho.end());
    struct Case {
        const char* what;
        std::vector<Bytes> reads;
        Bytes frame;
    };
    const std::vector<Case> cases = {
        {"whole frame", {kEcho}, kEcho},
        {"noise in front", {noisyEcho}, kEcho},
        {"a read of noise alone", {{0x01, 0x02, 0x03}, kEcho}, kEcho},
        {"raw FE in the body", {{0xFE, 0x02, 0x00, 0xFE}, {0x01, 0xFF}}, {0xFE, 0x02, 0x00, 0xFE, 0x01, 0xFF}},
        {"length 0", {{0xFE, 0x00, 0x00, 0x00}}, {0xFE, 0x00, 0x00, 0x00}},
        {"declares 1000 bytes", {{0xFE, 0xE8, 0x03}, Bytes(500, 0x55), Bytes(500, 0x55), kEcho}, kEcho},
        {"two frames in one read", {twoEchoes}, twoEchoes},
    };
    for (const Case& c : cases) {
        for (const Bytes& read : c.reads) device.Queue(read);
        EXPECT_EQ(session.ReceiveFrame(RECEIVE_POLL), static_cast<int>(c.frame.size())) << c.what;
        EXPECT_EQ(Received(), c.frame) << c.what;
        // The next receive starts empty: nothing of this case is left over.
        EXPECT_EQ(session.ReceiveFrame(RECEIVE_POLL), 0) << c.what;
    }
}

// A stray start byte on the line just before a reply reads the reply's own start and length
// as its length. That length cannot fit, and the reply must still be found.
TEST_F(ReceiveFixture, StrayStartByteBeforeAReplyDoesNotSwallowIt) {
    const Bytes reply = EncodeFrame(Bytes{0xB2, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00});
    for (const Bytes& stray : {Bytes{0xFE}, Bytes{0x31, 0xFE}, Bytes{0xFE, 0xFE}}) {
        Bytes wire = stray;
        wire.insert(wire.end(), reply.begin(), reply.end());
        device.Queue(wire);
        ASSERT_EQ(session.ReceiveFrame(RECEIVE_POLL), static_cast<int>(reply.size()));
        EXPECT_EQ(Received(), reply);
        // The same, split after the stray bytes.
        device.Queue(stray);
        device.Queue(reply);
        ASSERT_EQ(session.ReceiveFrame(RECEIVE_POLL), static_cast<int>(reply.size()));
        EXPECT_EQ(Received(), reply);
    }
}

// Whether a frame is received must not depend on how the port splits it into reads: the
// largest frame that fits (L = 796, 800 bytes) full of escaped bytes, cut at every position.
TEST_F(ReceiveFixture, LargestFrameIsReceivedHoweverItIsSplit) {
    Bytes body(796);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = i % 3 == 0 ? 0xFE : (i % 3 == 1 ? 0xFD : 0x42);
    const Bytes wire = EncodeFrame(body);
    ASSERT_GT(wire.size(), 800u);
    Bytes plain = {0xFE, 0x1C, 0x03};
    plain.insert(plain.end(), body.begin(), body.end());
    plain.push_back(FrameChecksum(plain.data(), 799));
    for (std::size_t cut = 1; cut < wire.size(); ++cut) {
        device.Queue(Bytes(wire.begin(), wire.begin() + static_cast<long>(cut)));
        device.Queue(Bytes(wire.begin() + static_cast<long>(cut), wire.end()));
        ASSERT_EQ(session.ReceiveFrame(RECEIVE_POLL), 800) << "cut at " << cut;
        ASSERT_EQ(Received(), plain) << "cut at " << cut;
    }
    // One byte longer cannot fit, however it comes.
    body.push_back(0x42);
    device.Queue(EncodeFrame(body));
    EXPECT_EQ(session.ReceiveFrame(RECEIVE_POLL), 0);
}

TEST_F(ReceiveFixture, EndlessStreamOfOversizedFramesNeverOverrunsAndGivesUpInTime) {
    for (int i = 0; i < 50; ++i) {
        device.Queue({0xFE, 0xFF, 0xFF});
        device.Queue(Bytes(799, 0xFD));  // all escapes, the worst case for the unescaper
    }
    EXPECT_EQ(session.ReceiveFrame(RECEIVE_POLL), 0);
}

// On silence a poll gives nothing and the time-out modes give the time-out frame, which
// keeps what came before behind its five bytes.
TEST_F(ReceiveFixture, EachModeGivesUpAsItShouldOnASilentPhone) {
    EXPECT_EQ(session.ReceiveFrame(RECEIVE_POLL), 0);

    session.rxFrame.fill(0x77);
    EXPECT_EQ(session.ReceiveFrame(RECEIVE_TIMEOUT_FRAME), 5);
    EXPECT_EQ(Received(), (Bytes{0xFE, 0x01, 0x00, 0x32, 0xCD}));
    EXPECT_EQ(session.WaitReply(RECEIVE_TIMEOUT_FRAME), 5);

    device.Queue({0xFE, 0x10, 0x00, 0xA1, 0xA2, 0xA3});  // incomplete
    EXPECT_EQ(session.WaitReply(RECEIVE_TIMEOUT_FRAME), 5);
    EXPECT_EQ(Received(), (Bytes{0xFE, 0x01, 0x00, 0x32, 0xCD}));
    EXPECT_EQ(session.rxFrame[5], 0xA3);
}

TEST_F(ReceiveFixture, WaitingModesWaitBeyondTheLimitsUntilStopped) {
    // WaitReply in RECEIVE_POLL, and both operations in RECEIVE_UNTIL_FRAME, have no limit:
    // they are still waiting well past the receive limit and end only by Stop.
    for (auto receive : {+[](LinkSession& s) { return s.WaitForAnyFrame(); },
                         +[](LinkSession& s) { return s.WaitReply(RECEIVE_UNTIL_FRAME); },
                         +[](LinkSession& s) { return s.ReceiveFrame(RECEIVE_UNTIL_FRAME); }}) {
        session.stop.Clear();
        std::thread stopper([&] {
            std::this_thread::sleep_for(150ms);
            session.stop.Raise();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_THROW(receive(session), LineStopped);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 140ms);
        stopper.join();
    }
}

TEST_F(ReceiveFixture, StopEndsALimitedWaitAtOnce) {
    session.timing.receiveFrameLimit = 10s;
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        session.stop.Raise();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(session.ReceiveFrame(RECEIVE_POLL), LineStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    stopper.join();
}

// Two lines' receivers fed interleaved pieces of their own frames, split inside escapes:
// neither sees anything of the other's.
TEST(FrameReceiver, TwoReceiversFedInterleavedPiecesShareNothing) {
    const Bytes a = EncodeFrame(Bytes{0xB2, 0xFE, 0xFD, 0x01});
    const Bytes b = EncodeFrame(Bytes{0x30, 0x01, 0xFD, 0xFE, 0x00, 0x07});
    FrameReceiver ra;
    FrameReceiver rb;
    ra.Start();
    rb.Start();
    const Bytes noise = {0x11, 0xFD};
    rb.Feed(noise);
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i < a.size()) ra.Feed(std::span<const std::uint8_t>(&a[i], 1));
        if (i < b.size()) rb.Feed(std::span<const std::uint8_t>(&b[i], 1));
    }
    ASSERT_TRUE(ra.Complete());
    ASSERT_TRUE(rb.Complete());
    EXPECT_EQ(Bytes(ra.frame.begin(), ra.frame.begin() + ra.count),
              (Bytes{0xFE, 0x04, 0x00, 0xB2, 0xFE, 0xFD, 0x01, a.back()}));
    EXPECT_EQ(rb.count, 10);
    EXPECT_EQ(rb.frame[5], 0xFD);
    EXPECT_EQ(rb.frame[6], 0xFE);
}

TEST(UnescapeChunk, CarriesATrailingEscapeIntoTheNextChunk) {
    FrameReceiver session;
    std::uint8_t out[8] = {};
    const std::uint8_t first[] = {0x10, 0xFD};
    EXPECT_EQ(session.UnescapeChunk(out, first, 2), 1);
    EXPECT_EQ(session.escapePending, 1);
    const std::uint8_t second[] = {0x01, 0x20, 0xFD, 0x02};
    EXPECT_EQ(session.UnescapeChunk(out, second, 4), 3);
    EXPECT_EQ(out[0], 0xFE);
    EXPECT_EQ(out[1], 0x20);
    EXPECT_EQ(out[2], 0xFD);
    EXPECT_EQ(session.escapePending, 0);
    // Any byte after FD is complemented, not only 01 and 02.
    const std::uint8_t odd[] = {0xFD, 0x00};
    EXPECT_EQ(session.UnescapeChunk(out, odd, 2), 1);
    EXPECT_EQ(out[0], 0xFF);
}

}  // namespace
}  // namespace zolt
