#include "cli/event_queue.h"

#include <algorithm>

namespace zolt::cli {

void EventQueue::PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back({message, wParam, lParam});
    }
    changed_.notify_one();
}

void EventQueue::DiscardPending(std::intptr_t lineNumber) {
    std::lock_guard lock(mutex_);
    std::erase_if(events_, [&](const QueuedEvent& e) { return e.lParam == lineNumber; });
}

void EventQueue::Interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    changed_.notify_one();
}

EventQueue::Wake EventQueue::WaitUntil(std::chrono::steady_clock::time_point deadline, QueuedEvent& event) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return interrupted_ || !events_.empty(); });
    if (interrupted_) {
        interrupted_ = false;
        return Wake::Interrupt;
    }
    if (events_.empty()) return Wake::Tick;
    event = events_.front();
    events_.pop_front();
    return Wake::Event;
}

}  // namespace zolt::cli
