// The phone's frame receiver: turns the byte stream from the tool into checked frames.
//
// It is the phone's own decoder, separate from the tool's receiver and stricter than it: a raw
// start byte always opens a new frame (a sender escapes every FE inside a frame, so a raw one
// means the previous frame was cut short), an escape carries over from one read to the next,
// and a frame whose checksum does not add up, or whose length could not fit the phone's
// 800-byte buffer, is dropped whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zolt::sim {

// Why a frame was dropped.
enum class FrameDrop {
    BadChecksum,  // all bytes came, but they do not sum to 0
    TooLong,      // the length field names a body the buffer cannot hold
    Cut,          // a new start byte came before the frame was complete
};

const char* FrameDropName(FrameDrop why);

class PhoneFrameDecoder {
public:
    // The longest body a frame may carry: the whole frame (start, length, body, checksum)
    // must fit 800 bytes, as on the tool's side.
    static constexpr std::size_t MAX_BODY = 796;

    // `plain` is the whole frame unescaped, start byte to checksum; `last` is the index, in
    // the chunk given to Feed, of the byte that completed it.
    using FrameFn = std::function<void(std::span<const std::uint8_t> plain, std::size_t last)>;
    // `plain` holds what had been received of the dropped frame, unescaped.
    using DropFn = std::function<void(FrameDrop why, std::span<const std::uint8_t> plain)>;

    // Feeds one chunk as read from the line. Calls onFrame for every complete, checked frame
    // and onDrop for every frame given up, in the order in which they end.
    void Feed(std::span<const std::uint8_t> chunk, const FrameFn& onFrame, const DropFn& onDrop);

    // Bytes seen outside any frame (before a start byte).
    std::uint64_t NoiseBytes() const { return noiseBytes_; }
    bool InFrame() const { return inFrame_; }

private:
    void Start();
    void Take(std::uint8_t byte, std::size_t index, const FrameFn& onFrame, const DropFn& onDrop);

    std::vector<std::uint8_t> frame_;  // unescaped, from the start byte on
    bool inFrame_ = false;
    bool escape_ = false;
    std::size_t expected_ = 0;  // whole frame length once the length field is in
    std::uint64_t noiseBytes_ = 0;
};

}  // namespace zolt::sim
