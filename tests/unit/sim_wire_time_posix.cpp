// Wire time: the simulated phone answers no earlier than the request could have arrived at
// the line's speed, takes its own time for flash work, and paces its replies out.
#include <gtest/gtest.h>

#include "sim/transmitter.h"
#include "support/sim_core_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::Clock;
using sim::Outgoing;
using sim::Transmitter;
using test::CoreDriver;
using test::SimBytes;

// 10 bits at 115200 baud.
constexpr auto BYTE = std::chrono::nanoseconds(86805);

sim::PhoneOptions Wire(Millis blockTime = Millis{0}, Millis eraseTime = Millis{0}) {
    sim::PhoneOptions o;
    o.startInBootLoader = true;
    o.blockTime = blockTime;
    o.eraseTime = eraseTime;
    return o;
}

TEST(SimWireTime, ReplyWaitsForTheRequestsLastByteAndThePhonesOwnWork) {
    CoreDriver phone(Wire(8ms, 40ms));
    EXPECT_EQ(phone.core.ByteTime(), BYTE);

    auto probe = phone.Send(test::PROBE);  // 7 bytes on the wire
    ASSERT_EQ(probe.size(), 1u);
    EXPECT_EQ(probe[0].notBefore, phone.start + 7 * BYTE);

    const auto erase = phone.Send(test::EraseRequest(1), 100ms);  // 16 bytes
    ASSERT_EQ(erase.size(), 1u);
    EXPECT_EQ(erase[0].notBefore, phone.start + 100ms + 16 * BYTE + 40ms);

    const SimBytes write = EncodeFrame(test::WriteRequest(2, 1, test::SectionBytes(350)));
    phone.core.Receive(write, phone.start + 200ms);
    const auto written = phone.Take();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].notBefore, phone.start + 200ms + static_cast<long>(write.size()) * BYTE + 8ms);
}

TEST(SimWireTime, BytesReadTogetherArriveOneAfterAnotherAndWorkQueuesUp) {
    // Programming a block (50 ms) takes longer than its request's wire time (about 32 ms).
    CoreDriver phone(Wire(50ms));
    phone.Send(test::EraseRequest(1));
    // Two writes read in one go: the second arrives after the first, and its programming
    // starts only when the first block is done.
    SimBytes both = EncodeFrame(test::WriteRequest(2, 1, test::SectionBytes(350)));
    const long first = static_cast<long>(both.size());
    const SimBytes second = EncodeFrame(test::WriteRequest(3, 1, test::SectionBytes(350)));
    both.insert(both.end(), second.begin(), second.end());
    const auto at = phone.start + 1s;
    phone.core.Receive(both, at);
    const auto replies = phone.Take();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].notBefore, at + first * BYTE + 50ms);
    EXPECT_EQ(replies[1].notBefore, at + first * BYTE + 100ms);

    // A probe read while the writes are still arriving queues behind them on the wire, and
    // its echo behind the phone's work.
    phone.core.Receive(EncodeFrame(test::PROBE), at + 1ms);
    EXPECT_EQ(phone.Take()[0].notBefore, at + first * BYTE + 100ms);
    // Idle again: two probes read together are answered as each one's last byte is in.
    SimBytes probes = EncodeFrame(test::PROBE);
    probes.insert(probes.end(), probes.begin(), probes.end());
    phone.core.Receive(probes, at + 1s);
    const auto echoes = phone.Take();
    ASSERT_EQ(echoes.size(), 2u);
    EXPECT_EQ(echoes[0].notBefore, at + 1s + 7 * BYTE);
    EXPECT_EQ(echoes[1].notBefore, at + 1s + 14 * BYTE);
}

TEST(SimWireTime, WithoutWireTimeTheReplyIsDueAtOnce) {
    CoreDriver phone;  // no wire time
    EXPECT_EQ(phone.core.ByteTime(), Clock::duration{0});
    EXPECT_EQ(phone.Send(test::PROBE, 5ms)[0].notBefore, phone.start + 5ms);
}

struct Line {
    std::vector<SimBytes> writes;
    std::vector<std::pair<SimBytes, bool>> done;
    long room = 1 << 20;  // bytes the line takes before it is full
    bool broken = false;
    Transmitter::WriteFn Writer() {
        return [this](const std::uint8_t* b, std::size_t n) -> long {
            if (broken) return -1;
            const std::size_t taken = std::min<std::size_t>(n, static_cast<std::size_t>(room));
            if (taken) writes.emplace_back(b, b + taken);
            room -= static_cast<long>(taken);
            return static_cast<long>(taken);
        };
    }
    Transmitter::DoneFn Done() {
        return [this](const Outgoing& o, bool written) { done.emplace_back(o.wire, written); };
    }
};

Outgoing Item(Clock::time_point at, std::size_t size, std::uint8_t fill = 0x11) {
    Outgoing o;
    o.notBefore = at;
    o.wire.assign(size, fill);
    return o;
}

TEST(SimTransmitter, PacesBytesInGroupsAsTheyWouldLeaveTheLine) {
    const auto t0 = Clock::now();
    Transmitter tx(BYTE, 16);
    std::deque<Outgoing> queue = {Item(t0, 40)};
    Line line;

    // Nothing before the first group is out; then each call writes what is due.
    auto step = tx.Service(queue, t0, line.Writer(), line.Done());
    EXPECT_TRUE(line.writes.empty());
    ASSERT_TRUE(step.wakeAt);
    EXPECT_EQ(*step.wakeAt, t0 + 16 * BYTE);

    step = tx.Service(queue, t0 + 20 * BYTE, line.Writer(), line.Done());
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(line.writes[0].size(), 20u);
    EXPECT_EQ(*step.wakeAt, t0 + 36 * BYTE);

    // The last group is written when due even when smaller than a whole group.
    step = tx.Service(queue, t0 + 36 * BYTE, line.Writer(), line.Done());
    EXPECT_EQ(line.writes.back().size(), 16u);
    EXPECT_EQ(*step.wakeAt, t0 + 40 * BYTE);
    step = tx.Service(queue, t0 + 40 * BYTE, line.Writer(), line.Done());
    EXPECT_EQ(line.writes.back().size(), 4u);
    EXPECT_FALSE(step.wakeAt);
    ASSERT_EQ(line.done.size(), 1u);
    EXPECT_TRUE(tx.Idle());
}

TEST(SimTransmitter, NextFrameStartsWhenThePreviousIsOutAndNotBeforeItsOwnTime) {
    const auto t0 = Clock::now();
    Transmitter tx(BYTE, 16);
    std::deque<Outgoing> queue = {Item(t0, 7, 0x01), Item(t0, 7, 0x02), Item(t0 + 5ms, 7, 0x03)};
    Line line;
    auto step = tx.Service(queue, t0 + 7 * BYTE, line.Writer(), line.Done());
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_EQ(*step.wakeAt, t0 + 14 * BYTE);  // the second follows the first on the line
    step = tx.Service(queue, t0 + 14 * BYTE, line.Writer(), line.Done());
    ASSERT_EQ(line.writes.size(), 2u);
    EXPECT_EQ(line.writes[1], SimBytes(7, 0x02));
    EXPECT_EQ(*step.wakeAt, t0 + 5ms);  // the third waits for its own time
    step = tx.Service(queue, t0 + 5ms + 7 * BYTE, line.Writer(), line.Done());
    EXPECT_EQ(line.writes.size(), 3u);
    EXPECT_FALSE(step.wakeAt);
}

TEST(SimTransmitter, FullLineIsWaitedOnAndABrokenOneGivesTheFrameUp) {
    const auto t0 = Clock::now();
    Transmitter instant(Clock::duration{0});
    std::deque<Outgoing> queue = {Item(t0, 10), Item(t0, 3)};
    Line line;
    line.room = 4;
    auto step = instant.Service(queue, t0, line.Writer(), line.Done());
    EXPECT_TRUE(step.waitWritable);
    EXPECT_FALSE(instant.Idle());
    line.room = 100;
    step = instant.Service(queue, t0, line.Writer(), line.Done());
    EXPECT_FALSE(step.waitWritable);
    ASSERT_EQ(line.writes.size(), 3u);  // 4 bytes, the other 6, then the second item
    EXPECT_EQ(line.writes[1].size(), 6u);

    queue.push_back(Item(t0, 5));
    line.broken = true;
    step = instant.Service(queue, t0, line.Writer(), line.Done());
    ASSERT_EQ(line.done.size(), 3u);
    EXPECT_FALSE(line.done.back().second);
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace zolt
