// A serial device for unit tests: each queued chunk is what one read returns, writes are
// recorded, and a responder may queue replies to what was written. Waiting with nothing
// queued sleeps on the line's stop signal, so limits and Stop behave as on a real port.
#pragma once

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

    // Each chunk comes out of exactly one ReadData.
    void Queue(Bytes chunk) {
        std::lock_guard lock(mutex_);
        chunks_.push_back(std::move(chunk));
    }
    // Called with every write (the frame as on the wire); may Queue replies.
    std::function<void(const Bytes&)> onWrite;
    // SendData on a closed port.
    bool closed = false;

    std::vector<Bytes> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    int reads() const { return reads_; }

    int ReadData(std::uint8_t* buffer, int maxCount) override {
        std::lock_guard lock(mutex_);
        ++reads_;
        if (chunks_.empty()) return 0;
        Bytes& front = chunks_.front();
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
        {
            std::lock_guard lock(mutex_);
            if (!chunks_.empty()) return WaitResult::Ready;
        }
        if (stop_.WaitFor(limit)) return WaitResult::Stopped;
        std::lock_guard lock(mutex_);
        return chunks_.empty() ? WaitResult::TimedOut : WaitResult::Ready;
    }

private:
    const StopSignal& stop_;
    mutable std::mutex mutex_;
    std::deque<Bytes> chunks_;
    std::vector<Bytes> writes_;
    int reads_ = 0;
};

}  // namespace zolt::test
