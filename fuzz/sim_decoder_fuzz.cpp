// Fuzzes the simulator's frame decoder with arbitrary bytes cut into arbitrary reads. Every
// frame it delivers fits the phone's buffer, names its own length, has a good checksum, and
// comes back unchanged when its body is encoded by the tool's encoder and decoded again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_input.h"
#include "link/ets_frame.h"
#include "sim/frame_decoder.h"

namespace {

using zolt::EtsFrame;
using zolt::fuzz::Require;
using zolt::sim::FrameDrop;
using zolt::sim::PhoneFrameDecoder;

constexpr std::size_t MAX_FRAME = PhoneFrameDecoder::MAX_BODY + 4;

std::vector<std::vector<std::uint8_t>> DecodeAll(std::span<const std::uint8_t> wire) {
    PhoneFrameDecoder decoder;
    std::vector<std::vector<std::uint8_t>> frames;
    decoder.Feed(
        wire, [&](std::span<const std::uint8_t> plain, std::size_t) { frames.emplace_back(plain.begin(), plain.end()); },
        [](FrameDrop, std::span<const std::uint8_t>) { Require(false); });
    return frames;
}

void CheckFrame(std::span<const std::uint8_t> plain) {
    Require(plain.size() >= 4 && plain.size() <= MAX_FRAME);
    Require(plain[0] == EtsFrame::START);
    const std::size_t length = plain[1] | (plain[2] << 8);
    Require(length + 4 == plain.size());
    Require(zolt::FrameChecksum(plain.data(), static_cast<int>(plain.size()) - 1) == plain.back());

    const auto again = DecodeAll(zolt::EncodeFrame(plain.subspan(3, length)));
    Require(again.size() == 1 && std::equal(plain.begin(), plain.end(), again[0].begin(), again[0].end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zolt::fuzz::Chunks chunks({data, size});
    PhoneFrameDecoder decoder;
    for (auto chunk = chunks.Next(); !chunk.empty(); chunk = chunks.Next()) {
        decoder.Feed(
            chunk,
            [&](std::span<const std::uint8_t> plain, std::size_t last) {
                Require(last < chunk.size());
                CheckFrame(plain);
            },
            [](FrameDrop why, std::span<const std::uint8_t> plain) {
                Require(!plain.empty() && plain.size() <= MAX_FRAME && plain[0] == EtsFrame::START);
                if (why == FrameDrop::TooLong) Require(plain.size() == 3);
            });
    }
    return 0;
}
