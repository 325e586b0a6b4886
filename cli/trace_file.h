// `zolt run --trace FILE`: every frame of every line, one text line each, written and flushed
// as it goes so that a conversation that ended badly can be read afterwards:
//   12.345  line 3  sent      B2 04  FE 0C 00 B2 04 02 00 00 00 01 01 ...
// (seconds since the trace began, the line, sent / received / timed-out, the message id as
// its first body bytes, then the whole frame unescaped, in hexadecimal).
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "link/frame_trace.h"

namespace zolt::cli {

class TraceFile final : public FrameTrace {
public:
    ~TraceFile() override;
    // Creates or empties the file. Returns false when it cannot be written.
    [[nodiscard]] bool Open(const std::string& path);
    void OnFrame(int lineNumber, FrameDirection direction, std::span<const std::uint8_t> frame) override;

    // One frame as a line of the trace, without its line feed.
    static std::string Format(double seconds, int lineNumber, FrameDirection direction,
                              std::span<const std::uint8_t> frame);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace zolt::cli
