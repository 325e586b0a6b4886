#include "cli/trace_file.h"

namespace zolt::cli {

TraceFile::~TraceFile() {
    if (file_) std::fclose(file_);
}

bool TraceFile::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    start_ = std::chrono::steady_clock::now();
    return file_ != nullptr;
}

std::string TraceFile::Format(double seconds, int lineNumber, FrameDirection direction,
                              std::span<const std::uint8_t> frame) {
    const char* what = direction == FrameDirection::Sent       ? "sent     "
                       : direction == FrameDirection::Received ? "received "
                                                               : "timed-out";
    char head[64];
    std::snprintf(head, sizeof head, "%10.3f  line %d  %s", seconds, lineNumber, what);
    std::string text = head;
    char hex[4];
    // The id: the first body bytes, after the start byte and the two length bytes.
    text += " ";
    for (std::size_t i = 3; i < 5; ++i) {
        if (i < frame.size()) {
            std::snprintf(hex, sizeof hex, " %02X", frame[i]);
            text += hex;
        } else {
            text += "   ";
        }
    }
    text += " ";
    for (std::uint8_t b : frame) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        text += hex;
    }
    return text;
}

void TraceFile::OnFrame(int lineNumber, FrameDirection direction, std::span<const std::uint8_t> frame) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::string text = Format(seconds, lineNumber, direction, frame);
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace zolt::cli
