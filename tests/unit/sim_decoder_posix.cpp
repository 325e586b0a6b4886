// The phone's frame receiver: reassembly across reads, resynchronisation, and what it drops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/ets_frame.h"
#include "sim/frame_decoder.h"
#include "support/sim_core_posix.h"

namespace zolt {
namespace {

using sim::FrameDrop;
using sim::PhoneFrameDecoder;
using test::PlainFrame;
using test::SimBytes;

struct Collector {
    std::vector<SimBytes> frames;
    std::vector<FrameDrop> drops;
    std::vector<std::size_t> lastIndex;

    void Feed(PhoneFrameDecoder& d, const SimBytes& chunk) {
        d.Feed(
            chunk,
            [&](std::span<const std::uint8_t> f, std::size_t last) {
                frames.emplace_back(f.begin(), f.end());
                lastIndex.push_back(last);
            },
            [&](FrameDrop why, std::span<const std::uint8_t>) { drops.push_back(why); });
    }
};

TEST(SimDecoder, FrameSplitAnywhereIsAssembledAsIfReadAtOnce) {
    // FE and FD in the body are escaped, so some splits fall between FD and its partner.
    const SimBytes body = {0xB2, 0x04, 0xFE, 0xFD, 0x00, 0xFD};
    const SimBytes wire = EncodeFrame(body);
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        PhoneFrameDecoder d;
        Collector c;
        c.Feed(d, SimBytes(wire.begin(), wire.begin() + static_cast<long>(cut)));
        c.Feed(d, SimBytes(wire.begin() + static_cast<long>(cut), wire.end()));
        ASSERT_EQ(c.frames.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(c.frames[0], PlainFrame(body)) << "cut at " << cut;
        EXPECT_TRUE(c.drops.empty());
    }
    PhoneFrameDecoder d;
    Collector c;
    for (std::uint8_t b : wire) c.Feed(d, SimBytes{b});
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], PlainFrame(body));
}

TEST(SimDecoder, SeveralFramesInOneReadAllComeOutWithWhereEachEnded) {
    SimBytes chunk = EncodeFrame(test::PROBE);
    const SimBytes second = EncodeFrame(SimBytes{0xF3, 0x03});
    chunk.insert(chunk.end(), second.begin(), second.end());
    PhoneFrameDecoder d;
    Collector c;
    c.Feed(d, chunk);
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[1], PlainFrame({0xF3, 0x03}));
    EXPECT_EQ(c.lastIndex, (std::vector<std::size_t>{6, chunk.size() - 1}));
}

// Noise is skipped, a raw start byte gives up a cut frame, a bad checksum drops its frame, and
// a length beyond the 800-byte buffer drops at once without waiting for the body (which is
// noise then): each time the next frame still comes.
TEST(SimDecoder, SpoiledFramesAreDroppedAndTheNextStillComes) {
    const SimBytes probe = EncodeFrame(test::PROBE);
    SimBytes badSum = probe;
    badSum.back() ^= 0x10;
    struct Case {
        std::vector<SimBytes> reads;
        std::vector<FrameDrop> drops;
        std::size_t noise;
    };
    const std::vector<Case> cases = {
        {{{0x11, 0xFD, 0x22, 0xFE, 0x03, 0x00, 0x00}, probe}, {FrameDrop::Cut}, 3},
        {{badSum, probe}, {FrameDrop::BadChecksum}, 0},
        {{{0xFE, 0x1D, 0x03}, SimBytes(900, 0x55), probe}, {FrameDrop::TooLong}, 900},  // L = 797
    };
    for (const Case& c : cases) {
        PhoneFrameDecoder d;
        Collector col;
        for (const SimBytes& read : c.reads) {
            col.Feed(d, read);
            // Only the cut frame is still waited for after the first read.
            if (&read == &c.reads[0]) {
                EXPECT_EQ(d.InFrame(), c.drops[0] == FrameDrop::Cut);
            }
        }
        EXPECT_EQ(col.drops, c.drops);
        EXPECT_EQ(d.NoiseBytes(), c.noise);
        ASSERT_EQ(col.frames.size(), 1u);
        EXPECT_EQ(col.frames[0], PlainFrame(test::PROBE));
    }

    // 796 is the largest body taken, and a length of 0 is a frame of its own.
    PhoneFrameDecoder d;
    Collector c;
    c.Feed(d, EncodeFrame(SimBytes(PhoneFrameDecoder::MAX_BODY, 0x00)));
    c.Feed(d, SimBytes{0xFE, 0x00, 0x00, 0x00});
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[0].size(), PhoneFrameDecoder::MAX_BODY + 4);
    EXPECT_EQ(c.frames[1].size(), 4u);
}

}  // namespace
}  // namespace zolt
