// A serial device for unit tests: each queued chunk is what one read returns, writes are
// recorded, and a responder may queue replies to what was written. Waiting with nothing
// queued sleeps on the line's stop signal, so limits and Stop behave as on a real port.
#pragma once

#include <atomic>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "link/serial_port.h"
#include "link/stop_signal.h"

namespace zolt::test {

using Bytes = std::vector<std::uint8_t>;

class ScriptedDevice : public SerialDevice {
public:
    explicit ScriptedDevice(const StopSignal& stop) : stop_(stop) {}

    // Each chunk comes out of exactly one ReadData, in the order queued, once it is due: a
    // chunk queued `after` a delay holds back every chunk queued behind it, as a phone that
    // answers in order does.
    void Queue(Bytes chunk, Millis after = Millis(0)) {
        std::lock_guard lock(mutex_);
        chunks_.push_back({std::chrono::steady_clock::now() + after, std::move(chunk)});
    }
    // Called with every write (the frame as on the wire); may Queue replies.
    std::function<void(const Bytes&)> onWrite;
    // SendData on a closed port.
    bool closed = false;
    // A port that has gone away (a USB adapter pulled out): every wait reports the failure.
    std::atomic<bool> gone{false};

    std::vector<Bytes> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    int reads() const { return reads_; }

    int ReadData(std::uint8_t* buffer, int maxCount) override {
        std::lock_guard lock(mutex_);
        ++reads_;
        if (!DueLocked()) return 0;
        Bytes& front = chunks_.front().bytes;
        int n = static_cast<int>(std::min<std::size_t>(front.size(), static_cast<std::size_t>(maxCount)));
        std::copy(front.begin(), front.begin() + n, buffer);
        front.erase(front.begin(), front.begin() + n);
        if (front.empty()) chunks_.pop_front();
        return n;
    }

    int SendData(const std::uint8_t* bytes, int count) override {
        if (closed) return -1;
        Bytes written(bytes, bytes + count);
        {
            std::lock_guard lock(mutex_);
            writes_.push_back(written);
        }
        if (onWrite) onWrite(written);
        return count;
    }

    WaitResult WaitReadable(Millis limit) override {
        if (gone) return WaitResult::Failed;
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            Millis wait = limit;
            {
                std::lock_guard lock(mutex_);
                if (DueLocked()) return WaitResult::Ready;
                const auto now = std::chrono::steady_clock::now();
                if (limit.count() >= 0) wait = std::chrono::ceil<Millis>(until - now);
                if (!chunks_.empty()) {
                    const Millis due = std::chrono::ceil<Millis>(chunks_.front().due - now);
                    if (wait.count() < 0 || due < wait) wait = due;
                }
            }
            if (limit.count() >= 0 && wait.count() <= 0) return WaitResult::TimedOut;
            // A chunk that another thread queues meanwhile is seen within a slice.
            if (wait.count() < 0 || wait > SLICE) wait = SLICE;
            if (stop_.WaitFor(wait)) return WaitResult::Stopped;
            if (limit.count() >= 0 && std::chrono::steady_clock::now() >= until) {
                std::lock_guard lock(mutex_);
                return DueLocked() ? WaitResult::Ready : WaitResult::TimedOut;
            }
        }
    }

private:
    static constexpr Millis SLICE{2};
    struct Chunk {
        std::chrono::steady_clock::time_point due;
        Bytes bytes;
    };
    bool DueLocked() const { return !chunks_.empty() && chunks_.front().due <= std::chrono::steady_clock::now(); }

    const StopSignal& stop_;
    mutable std::mutex mutex_;
    std::deque<Chunk> chunks_;
    std::vector<Bytes> writes_;
    int reads_ = 0;
};

}  // namespace zolt::test
