// Fuzzes the tool's frame receiver with arbitrary bytes cut into arbitrary reads. It never
// holds more than a frame buffer, and every complete frame with a good checksum is one that
// the tool's own encoder gives back whole: encoding its body and receiving that again on a
// fresh receiver yields the same frame.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_input.h"
#include "link/ets_frame.h"
#include "link/frame_receiver.h"

namespace {

using zolt::EtsFrame;
using zolt::FrameReceiver;
using zolt::fuzz::Require;

void RequireHeld(const FrameReceiver& receiver) {
    Require(receiver.count >= 0 && receiver.count <= EtsFrame::BUFFER_SIZE);
    Require(receiver.count == 0 || receiver.frame[0] == EtsFrame::START);
}

void CheckCompleteFrame(const FrameReceiver& receiver) {
    const int length = receiver.frame[1] | (receiver.frame[2] << 8);
    const int size = length + 4;
    Require(size <= receiver.count);
    const std::uint8_t* plain = receiver.frame.data();
    if (zolt::FrameChecksum(plain, size - 1) != plain[size - 1]) return;

    const auto wire = zolt::EncodeFrame(std::span<const std::uint8_t>(plain + 3, static_cast<std::size_t>(length)));
    FrameReceiver again;
    again.Start();
    again.Feed(wire);
    Require(again.Complete() && again.count == size);
    Require(std::equal(plain, plain + size, again.frame.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zolt::fuzz::Chunks chunks({data, size});
    FrameReceiver receiver;
    FrameReceiver unescaper;  // its escape carry-over only
    receiver.Start();
    unescaper.Start();
    std::vector<std::uint8_t> unescaped;
    for (auto chunk = chunks.Next(); !chunk.empty(); chunk = chunks.Next()) {
        receiver.Feed(chunk);
        RequireHeld(receiver);
        // As a line does after each complete frame: take it and start afresh.
        if (receiver.Complete()) {
            CheckCompleteFrame(receiver);
            receiver.Start();
        }
        unescaped.assign(chunk.size(), 0);
        const int n = unescaper.UnescapeChunk(unescaped.data(), chunk.data(), static_cast<int>(chunk.size()));
        Require(n >= 0 && n <= static_cast<int>(chunk.size()));
    }
    return 0;
}
