// The frame that every message to and from a phone travels in:
//   FE, length L (16-bit little-endian), body of L bytes (message id first), checksum,
// with every byte after the start byte escaped: FE as FD 01, FD as FD 02. The checksum makes
// the length bytes, the body and the checksum itself sum to 0 modulo 256.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zolt {

struct EtsFrame {
    static constexpr std::uint8_t START = 0xFE;
    static constexpr std::uint8_t ESCAPE = 0xFD;
    // Both frame buffers of a line, and the largest frame on the wire.
    static constexpr int BUFFER_SIZE = 800;
    // The frame a receiver makes up when a reply does not come in time: L = 1, id 0x32.
    static constexpr std::uint8_t TIMEOUT_ID = 0x32;
    static constexpr std::uint8_t TIMEOUT_FRAME[5] = {0xFE, 0x01, 0x00, 0x32, 0xCD};
};

// Two's complement of the 8-bit sum of frame[1] .. frame[n-1]; 0 when n < 2.
std::uint8_t FrameChecksum(const std::uint8_t* frame, int n);

// Escapes `count` bytes into `out` (at most `room` bytes). Returns the number of bytes
// written, or -1 when they would not fit (nothing meaningful is left in `out` then).
int EscapeBytes(const std::uint8_t* in, int count, std::uint8_t* out, int room);

// The whole frame of one body as it goes on the wire: start byte, escaped length, body and
// checksum. For the simulator and for tests; a line builds its frames in place.
std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> body);

}  // namespace zolt
