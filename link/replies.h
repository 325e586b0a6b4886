// What a received frame says about the request that was sent: the one place where a reply is
// judged, by the request it would answer. A frame counts as the answer only when it could
// belong to no other request the line has sent: intact (whole by its declared length, valid
// checksum) and, wherever the reply echoes its request, echoing this one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "link/ets_frame.h"

namespace zolt {

// A received frame: the unescaped bytes from the start byte on, and how many were received.
struct ReceivedFrame {
    std::span<const std::uint8_t> bytes;
    int count = 0;

    int BodyLength() const;
    // The body (message id on), or empty when the frame is not whole.
    std::span<const std::uint8_t> Body() const;
    // Whole by its declared length and intact by its checksum.
    bool Intact() const;
    // The receiver's own time-out frame, delivered when nothing came within a limit.
    bool TimedOut() const;
};

enum class Verdict {
    Answer,    // the answer to the request
    Refused,   // 9B 08: the phone refused a request
    TimedOut,  // nothing came within the receive limit
    Other,     // chatter, noise, or the answer to some other request
};

// The answer to a database write (30 01): its acceptance, and when the reply is long enough to
// echo the write's database, segment, offset and byte count, that echo must be this write's.
Verdict JudgeDbWrite(std::span<const std::uint8_t> request, const ReceivedFrame& reply);
// The answer to an FFS SIDB write (A2 07). The acceptance names no record.
Verdict JudgeSidbWrite(const ReceivedFrame& reply);
// A page read's reply: intact, echoing the request's 8 bytes (ETS id, database, segment,
// offset, byte count), and holding all the page's data behind them.
bool IsPageReply(std::span<const std::uint8_t> request, const ReceivedFrame& reply);
// The setting read's reply: intact, L = 7, echoing the request's id, type and setting id.
bool IsSettingReadReply(std::span<const std::uint8_t> request, const ReceivedFrame& reply);
// The setting write's acceptance: intact, L = 4, A2 07.
bool IsSettingWriteReply(const ReceivedFrame& reply);

// An answer to the loopback probe, intact: the firmware's echo (00 00 01) or the boot
// loader's E0 00. Either shows that a phone is on the line.
bool IsProbeAnswer(const ReceivedFrame& reply);

// A flash reply (B2 04, block, status), intact. Noise that happens to start B2 04 would
// otherwise move the write to a block it names.
struct FlashAnswer {
    std::uint32_t block;
    std::uint8_t status;
};
std::optional<FlashAnswer> ReadFlashAnswer(const ReceivedFrame& reply);

}  // namespace zolt
