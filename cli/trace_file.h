// `zolt run --trace FILE`: every frame of every line, one text line each, and where each
// line's tasks begin and end, written and flushed as it goes so that a conversation that ended
// badly can be read afterwards:
//      3.120  line 3   sent      flash write block 12 type CP (350 bytes)   FE 6A 01 B2 04 0C ...
//      3.161  line 3   received  flash reply block 12 accepted              FE 07 00 B2 04 0C ...
//      3.902  line 3             timed out                                  FE 01 00 32 CD
//      9.415  line 3   == task Update CP: Done
//      9.415  line 3   == task Update Data begins
//     41.007  line 3   == line ends: ok
// (seconds since the trace began, the line, sent / received, what the frame is, then the whole
// frame unescaped, in hexadecimal; a time-out is the receiver's own frame, with no direction).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/run_options.h"
#include "job/line_events.h"
#include "link/frame_trace.h"

namespace zolt::cli {

class TraceFile final : public FrameTrace {
public:
    ~TraceFile() override;
    // Creates or empties the file. Returns false when it cannot be written.
    [[nodiscard]] bool Open(const std::string& path);
    void OnFrame(int lineNumber, FrameDirection direction, std::span<const std::uint8_t> frame) override;
    // A marker on the line's own thread, so that it stands in its place among the line's frames.
    void OnMarker(int lineNumber, const std::string& text);

    // One frame, or one marker, as a line of the trace, without its line feed.
    static std::string Format(double seconds, int lineNumber, FrameDirection direction,
                              std::span<const std::uint8_t> frame);
    static std::string FormatMarker(double seconds, int lineNumber, const std::string& text);

private:
    void Write(const std::string& text);
    double Seconds() const;

    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// What the markers need to know of the job: its tasks in order, and a line's outcome of one
// and its status text. The functions are called on the lines' worker threads.
struct TracedJob {
    std::vector<std::string> tasks;
    std::function<std::string(int lineNumber, int task)> outcome;  // "Done", "Fail"
    std::function<std::string(int lineNumber)> status;
};

// Passes the lines' events on to `target` and, when there is a trace, marks in it each task's
// end and the next one's beginning and each line's end. The events are posted by the worker
// right after a task ends and before it sends the next task's first frame, so the markers are
// written there rather than when the front end takes the events off its queue.
class TraceMarkers final : public LineEventSink {
public:
    TraceMarkers(LineEventSink& target, TraceFile* trace) : target_(target), trace_(trace) {}
    // Before the job starts: what the markers name, and the first task's beginning on each
    // line (1 to 32) that is about to run.
    void Begin(TracedJob job, const std::vector<int>& lineNumbers);
    // A line (1 to 32) about to run the job again, for another phone: its first task's beginning.
    void BeginLine(int lineNumber);
    // After the job was stopped and its workers have ended: every line that had not ended.
    void MarkStopped();

    void PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void DiscardPending(std::intptr_t lineNumber) override { target_.DiscardPending(lineNumber); }

private:
    void Mark(unsigned message, std::uintptr_t task, int lineNumber);

    LineEventSink& target_;
    TraceFile* trace_;
    TracedJob job_;
    // Written by each line's worker for its own line, read after the workers have ended.
    std::array<std::atomic<bool>, MAX_PORTS + 1> running_{};
};

}  // namespace zolt::cli
