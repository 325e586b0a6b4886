// The simulated phone's fault options: which replies they lose, damage or precede with
// noise, how they steer the flash blocks, and that a seed replays them exactly.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/faults.h"
#include "support/sim_core_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::CoreDriver;
using test::SimBytes;
using Bodies = std::vector<SimBytes>;

sim::PhoneOptions WithFaults(const sim::FaultOptions& f, bool bootLoader = false) {
    sim::PhoneOptions o = CoreDriver::NoWire();
    o.faults = f;
    o.startInBootLoader = bootLoader;
    return o;
}

// Everything the phone puts on the line for `count` probes, noise included.
SimBytes LineOutput(const sim::FaultOptions& f, int count, int number = 1) {
    CoreDriver phone(WithFaults(f), number);
    SimBytes all;
    for (int i = 0; i < count; ++i) {
        for (const auto& out : phone.Send(test::PROBE, std::chrono::milliseconds(i))) {
            all.insert(all.end(), out.wire.begin(), out.wire.end());
        }
    }
    return all;
}

TEST(SimFaults, NamedRepliesAreLostAndOthersAnswered) {
    sim::FaultOptions f;
    f.dropReplyTo = {2, 4};
    CoreDriver phone(WithFaults(f));
    std::vector<std::size_t> counts;
    for (int i = 0; i < 5; ++i) counts.push_back(phone.Send(test::PROBE, std::chrono::milliseconds(i)).size());
    EXPECT_EQ(counts, (std::vector<std::size_t>{1, 0, 1, 0, 1}));
    EXPECT_EQ(phone.core.State().repliesLost, 2u);
    EXPECT_EQ(phone.core.State().repliesQueued, 5u);
}

TEST(SimFaults, RatesActOnAboutTheirShareAndNoiseNeverHoldsAStartByte) {
    sim::FaultOptions f;
    f.dropRate = 0.3;
    f.noiseRate = 0.5;
    CoreDriver phone(WithFaults(f));
    int noise = 0, frames = 0;
    for (int i = 0; i < 1000; ++i) {
        for (const auto& out : phone.Send(test::PROBE, std::chrono::milliseconds(i))) {
            if (out.plain.empty()) {
                ++noise;
                EXPECT_GE(out.wire.size(), 1u);
                EXPECT_LE(out.wire.size(), 8u);
                EXPECT_EQ(std::count(out.wire.begin(), out.wire.end(), 0xFE), 0);
            } else {
                ++frames;
                EXPECT_EQ(out.wire, EncodeFrame(test::PROBE));
            }
        }
    }
    EXPECT_NEAR(frames, 700, 60);
    EXPECT_NEAR(noise, 350, 60);  // half of the replies that were sent
}

TEST(SimFaults, CorruptionChangesBytesOnTheWireOnly) {
    sim::FaultOptions all;
    all.corruptRate = 1;
    CoreDriver phone(WithFaults(all));
    const auto out = phone.Send(test::PROBE);
    ASSERT_EQ(out.size(), 1u);
    const SimBytes clean = EncodeFrame(test::PROBE);
    ASSERT_EQ(out[0].wire.size(), clean.size());
    for (std::size_t i = 0; i < clean.size(); ++i) EXPECT_NE(out[0].wire[i], clean[i]) << i;
    EXPECT_TRUE(out[0].corrupted);
    EXPECT_EQ(out[0].plain, test::PlainFrame(test::PROBE));  // the trace shows what was meant
}

TEST(SimFaults, SameSeedReplaysTheFaultsAndAnotherSeedOrPhoneDoesNot) {
    sim::FaultOptions f;
    f.dropRate = 0.2;
    f.corruptRate = 0.05;
    f.noiseRate = 0.2;
    f.seed = 42;
    const SimBytes first = LineOutput(f, 300);
    EXPECT_EQ(LineOutput(f, 300), first);
    EXPECT_NE(LineOutput(f, 300, 2), first);  // the second phone of a bank
    f.seed = 43;
    EXPECT_NE(LineOutput(f, 300), first);

    // A rate left at 0 draws nothing, so it does not shift the others' choices.
    sim::FaultOptions dropOnly;
    dropOnly.dropRate = 0.2;
    dropOnly.seed = 42;
    sim::FaultOptions withZeros = dropOnly;
    withZeros.corruptRate = 0;
    withZeros.noiseRate = 0;
    EXPECT_EQ(LineOutput(dropOnly, 300), LineOutput(withZeros, 300));
}

TEST(SimFaults, SilentAfterNFramesReadsOnButAnswersNothing) {
    sim::FaultOptions f;
    f.silentAfter = 2;
    CoreDriver phone(WithFaults(f));
    EXPECT_EQ(phone.Send(test::PROBE).size(), 1u);
    EXPECT_EQ(phone.Send(test::FS_ACCESS).size(), 1u);
    EXPECT_TRUE(phone.Send(test::PROBE).empty());
    EXPECT_TRUE(phone.Send({0xCE, 0x00, 0x00}).empty());
    EXPECT_TRUE(phone.core.State().silent);
    EXPECT_TRUE(phone.core.State().fsAccessOpen);  // the release was not acted on
    EXPECT_EQ(phone.core.State().framesReceived, 4u);

    sim::FaultOptions mute;
    mute.silentAfter = 0;
    CoreDriver never(WithFaults(mute));
    EXPECT_TRUE(never.Send(test::PROBE).empty());
}

TEST(SimFaults, VanishAfterNFramesAnswersTheNthThenStops) {
    sim::FaultOptions f;
    f.vanishAfter = 2;
    CoreDriver phone(WithFaults(f));
    EXPECT_EQ(phone.Send(test::PROBE).size(), 1u);
    EXPECT_FALSE(phone.core.Vanishing());
    EXPECT_EQ(phone.Send(test::PROBE).size(), 1u);
    EXPECT_TRUE(phone.core.Vanishing());
    EXPECT_TRUE(phone.Send(test::PROBE).empty());

    sim::FaultOptions at0;
    at0.vanishAfter = 0;
    EXPECT_TRUE(CoreDriver(WithFaults(at0)).core.Vanishing());
}

TEST(SimFaults, RepeatAndSkipSteerTheBlocksOnceEach) {
    sim::FaultOptions f;
    f.repeatBlock = {3};
    f.skipBlock = {{4, 6}};
    CoreDriver phone(WithFaults(f, true));
    phone.Send(test::EraseRequest(1));
    auto block = [](std::uint32_t b) { return test::SectionBytes(350, static_cast<std::uint8_t>(b)); };
    auto write = [&](std::uint32_t b) { return CoreDriver::Bodies(phone.Send(test::WriteRequest(b, 1, block(b)))); };

    EXPECT_EQ(write(2), Bodies{test::FlashReply(2, 0)});
    EXPECT_EQ(write(3), Bodies{test::FlashReply(3, 1)});  // asked for again
    EXPECT_EQ(write(3), Bodies{test::FlashReply(3, 0)});
    EXPECT_EQ(write(4), Bodies{test::FlashReply(6, 1)});  // skip to 6
    EXPECT_EQ(write(6), Bodies{test::FlashReply(6, 0)});
    // Block 4 sent later is written like any earlier block; the faults do not play twice.
    EXPECT_EQ(write(4), Bodies{test::FlashReply(4, 0)});
    EXPECT_EQ(write(3), Bodies{test::FlashReply(3, 0)});

    const auto& area = phone.core.Flash().Area(1);
    ASSERT_EQ(area.size(), 5u * 350);
    EXPECT_EQ(SimBytes(area.begin() + 3 * 350, area.begin() + 4 * 350), SimBytes(350, 0xFF));  // block 5
    EXPECT_EQ(SimBytes(area.begin() + 4 * 350, area.end()), block(6));
}

}  // namespace
}  // namespace zolt
