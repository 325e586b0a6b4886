#include "cli/trace_file.h"

#include "cli/frame_names.h"

namespace zolt::cli {

namespace {

// Wide enough for the usual names, so that the bytes start in one column.
constexpr int NAME_WIDTH = 48;

std::string Head(double seconds, int lineNumber) {
    char head[48];
    std::snprintf(head, sizeof head, "%10.3f  line %-2d  ", seconds, lineNumber);
    return head;
}

}  // namespace

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
    std::string text = Head(seconds, lineNumber);
    text += direction == FrameDirection::Sent ? "sent      " : direction == FrameDirection::Received ? "received  " : "          ";
    const std::string name = FrameName(direction, frame);
    text += name;
    text.append(name.size() < NAME_WIDTH ? NAME_WIDTH - name.size() : 0, ' ');
    text += ' ';
    char hex[4];
    for (std::uint8_t b : frame) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        text += hex;
    }
    return text;
}

std::string TraceFile::FormatMarker(double seconds, int lineNumber, const std::string& text) {
    return Head(seconds, lineNumber) + "== " + text;
}

double TraceFile::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void TraceFile::Write(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

void TraceFile::OnFrame(int lineNumber, FrameDirection direction, std::span<const std::uint8_t> frame) {
    Write(Format(Seconds(), lineNumber, direction, frame));
}

void TraceFile::OnMarker(int lineNumber, const std::string& text) {
    Write(FormatMarker(Seconds(), lineNumber, text));
}

void TraceMarkers::Begin(TracedJob job, const std::vector<int>& lineNumbers) {
    job_ = std::move(job);
    for (int line : lineNumbers) BeginLine(line);
}

void TraceMarkers::BeginLine(int line) {
    if (line < 1 || line > MAX_PORTS) return;
    running_[static_cast<std::size_t>(line)] = true;
    if (trace_ && !job_.tasks.empty()) trace_->OnMarker(line, "task " + job_.tasks.front() + " begins");
}

void TraceMarkers::MarkStopped() {
    for (int line = 1; line <= MAX_PORTS; ++line) {
        if (running_[static_cast<std::size_t>(line)].exchange(false) && trace_) trace_->OnMarker(line, "line ends: stopped");
    }
}

void TraceMarkers::Mark(unsigned message, std::uintptr_t task, int lineNumber) {
    const bool known = task < job_.tasks.size();
    switch (message) {
        case WM_PORT_TASK_DONE: {
            if (!known) return;
            const std::string outcome = job_.outcome ? job_.outcome(lineNumber, static_cast<int>(task)) : "";
            trace_->OnMarker(lineNumber, "task " + job_.tasks[task] + ": " + outcome);
            // A line that failed a task goes no further; otherwise the next task starts now.
            if (outcome != "Fail" && task + 1 < job_.tasks.size()) {
                trace_->OnMarker(lineNumber, "task " + job_.tasks[task + 1] + " begins");
            }
            return;
        }
        case WM_PORT_FAILED: {
            const std::string status = job_.status ? job_.status(lineNumber) : "";
            trace_->OnMarker(lineNumber, "line ends: failed" + (status.empty() ? "" : " (" + status + ")"));
            return;
        }
        case WM_PORT_ALL_DONE: trace_->OnMarker(lineNumber, "line ends: ok"); return;
        default: return;
    }
}

void TraceMarkers::PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (lParam >= 1 && lParam <= MAX_PORTS) {
        const int line = static_cast<int>(lParam);
        if (message == WM_PORT_FAILED || message == WM_PORT_ALL_DONE) running_[static_cast<std::size_t>(line)] = false;
        if (trace_) Mark(message, wParam, line);
    }
    target_.PostLineEvent(message, wParam, lParam);
}

}  // namespace zolt::cli
