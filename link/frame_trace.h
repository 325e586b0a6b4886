// Where a line reports every frame it sends and receives, for reading a failed phone's
// conversation afterwards. A line without a trace pays one pointer test per frame.
#pragma once

#include <cstdint>
#include <span>

namespace zolt {

enum class FrameDirection { Sent, Received, TimedOut };

class FrameTrace {
public:
    virtual ~FrameTrace() = default;
    // Called on the line's worker thread with the frame unescaped, from its start byte on
    // (for TimedOut: the time-out frame the receiver made up). Lines call it at once from
    // their own threads.
    virtual void OnFrame(int lineNumber, FrameDirection direction, std::span<const std::uint8_t> frame) = 0;
};

}  // namespace zolt
