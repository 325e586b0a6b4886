// Wire time: the simulated phone answers no earlier than the request could have arrived at
// the line's speed and its earlier work is done, and its frames never overlap on the line.
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
    o.replyDelay = Millis{0};
    o.blockTime = blockTime;
    o.eraseTime = eraseTime;
    return o;
}

TEST(SimWireTime, RepliesWaitForTheRequestsLastByteAndForThePhonesEarlierWork) {
    // Programming a block (50 ms) takes longer than its request's wire time (about 32 ms).
    CoreDriver phone(Wire(50ms, 40ms));
    const auto erase = phone.Send(test::EraseRequest(1));  // 16 bytes
    ASSERT_EQ(erase.size(), 1u);
    EXPECT_EQ(erase[0].notBefore, phone.start + 16 * BYTE + 40ms);
    // Two writes read in one go: the second arrives after the first, and its programming
    // starts only when the first block is done; a probe behind them waits for both.
    SimBytes both = EncodeFrame(test::WriteRequest(2, 1, test::SectionBytes(350)));
    const long first = static_cast<long>(both.size());
    const SimBytes second = EncodeFrame(test::WriteRequest(3, 1, test::SectionBytes(350)));
    both.insert(both.end(), second.begin(), second.end());
    const auto at = phone.start + 1s;
    phone.core.Receive(both, at);
    phone.core.Receive(EncodeFrame(test::PROBE), at + 1ms);
    const auto replies = phone.Take();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].notBefore, at + first * BYTE + 50ms);
    EXPECT_EQ(replies[1].notBefore, at + first * BYTE + 100ms);
    EXPECT_EQ(replies[2].notBefore, at + first * BYTE + 100ms);
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

TEST(SimTransmitter, FramesGoOutWholeInOrderAndAFullOrBrokenLineHoldsNothingUp) {
    const auto t0 = Clock::now();
    Transmitter tx(BYTE, 16);
    std::deque<Outgoing> queue = {Item(t0, 7, 0x01), Item(t0, 7, 0x02), Item(t0 + 5ms, 7, 0x03)};
    Line line;
    auto step = tx.Service(queue, t0 + 7 * BYTE, line.Writer(), line.Done());
    EXPECT_EQ(*step.wakeAt, t0 + 14 * BYTE);  // the second follows the first on the line
    step = tx.Service(queue, t0 + 14 * BYTE, line.Writer(), line.Done());
    EXPECT_EQ(*step.wakeAt, t0 + 5ms);  // the third waits for its own time
    (void)tx.Service(queue, t0 + 5ms + 7 * BYTE, line.Writer(), line.Done());
    EXPECT_EQ(line.writes, (std::vector<SimBytes>{SimBytes(7, 1), SimBytes(7, 2), SimBytes(7, 3)}));

    Transmitter instant(Clock::duration{0});
    queue = {Item(t0, 10), Item(t0, 3)};
    line = Line{};
    line.room = 4;
    EXPECT_TRUE(instant.Service(queue, t0, line.Writer(), line.Done()).waitWritable);
    line.room = 100;
    EXPECT_FALSE(instant.Service(queue, t0, line.Writer(), line.Done()).waitWritable);
    EXPECT_EQ(line.writes.size(), 3u);  // 4 bytes, the other 6, then the second item

    queue.push_back(Item(t0, 5));
    line.broken = true;
    (void)instant.Service(queue, t0, line.Writer(), line.Done());
    ASSERT_EQ(line.done.size(), 3u);
    EXPECT_FALSE(line.done.back().second);
    EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace zolt
