// Assembles one received frame from the raw bytes a port delivers, in whatever pieces the
// reads split them into: bytes before a start byte are noise, escapes are undone across
// reads, and a frame whose declared length cannot fit the buffer is given up as soon as its
// length is in, the search for a start byte going on right after its own start byte. A 0xFE
// inside a frame is data. Each line has its own receiver; two receivers share nothing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "link/ets_frame.h"

namespace zolt {

class FrameReceiver {
public:
    using Buffer = std::array<std::uint8_t, EtsFrame::BUFFER_SIZE>;

private:
    // The frame is a heap block of its own: a write past its end then meets AddressSanitizer
    // instead of landing unseen in the receiver's state or a neighbouring buffer.
    std::unique_ptr<Buffer> frameBlock_ = std::make_unique<Buffer>();

public:
    FrameReceiver() = default;
    FrameReceiver(const FrameReceiver&) = delete;
    FrameReceiver& operator=(const FrameReceiver&) = delete;

    // Forgets any partial frame and clears the buffer: the next frame starts from scratch.
    void Start();
    // Takes the next raw bytes from the port. Bytes behind a complete frame are kept behind
    // it as far as the buffer goes; they are not looked at.
    void Feed(std::span<const std::uint8_t> raw);
    // A whole frame (start byte, length, body, checksum) is in `frame`.
    bool Complete() const { return complete_; }
    // Puts the time-out frame FE 01 00 32 CD at the front of the buffer, keeping whatever
    // was received behind its five bytes, and makes `count` 5.
    void DeliverTimeoutFrame();

    // Undoes escaping of `count` raw bytes into `destination` (room for `count` needed),
    // carrying a trailing FD over to the next call in escapePending. Returns the byte count.
    int UnescapeChunk(std::uint8_t* destination, const std::uint8_t* source, int count);

    Buffer& frame = *frameBlock_;  // from the start byte on, unescaped
    int count = 0;          // bytes held in `frame`
    int escapePending = 0;  // the last raw byte was FD: complement the next one

private:
    void Take(std::uint8_t raw);

    bool inFrame_ = false;
    bool complete_ = false;
    int expected_ = -1;  // body length once the length bytes are in
    // The raw bytes after the start byte until the length is known (at most two escaped
    // bytes), searched again for a start byte when the length turns out impossible.
    std::array<std::uint8_t, 4> head_{};
    int headCount_ = 0;
};

}  // namespace zolt
