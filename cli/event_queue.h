// The command line's event loop: workers post their events here, and the main thread takes
// them off in order, sleeping until one comes, an interrupt arrives or a tick is due.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "job/line_events.h"

namespace zolt::cli {

struct QueuedEvent {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

class EventQueue : public LineEventSink {
public:
    void PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void DiscardPending(std::intptr_t lineNumber) override;
    // Any thread, also a signal-watching one.
    void Interrupt();

    enum class Wake { Event, Interrupt, Tick };
    // Waits until an event is queued (returned in `event`), an interrupt was raised (reported
    // once), or `deadline` passes.
    Wake WaitUntil(std::chrono::steady_clock::time_point deadline, QueuedEvent& event);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedEvent> events_;
    bool interrupted_ = false;
};

}  // namespace zolt::cli
