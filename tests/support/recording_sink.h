// A line event sink that records every event and lets a test wait for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "job/line_events.h"

namespace zolt::test {

struct LineEvent {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const LineEvent&) const = default;
};

class RecordingSink : public LineEventSink {
public:
    void PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
        std::lock_guard lock(mutex_);
        events_.push_back({message, wParam, lParam});
        changed_.notify_all();
    }
    std::vector<LineEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Waits until `count` events of `message` have come; false after `limit`.
    bool WaitFor(unsigned message, std::size_t count = 1,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            std::size_t n = 0;
            for (const auto& e : events_) n += e.message == message;
            return n >= count;
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LineEvent> events_;
};

}  // namespace zolt::test
