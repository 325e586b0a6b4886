// A line's stop signal: raised by the thread that stops a line, honoured by every wait and
// pause of that line's worker, including a wait for serial input.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/timing.h"

namespace zolt {

// Thrown inside a worker when its line was stopped in the middle of a wait or a pause. It
// unwinds the task in progress and is caught at the worker's entry; it never leaves a thread.
struct LineStopped {};

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Any thread. Wakes every present and future wait on this signal until Clear.
    void Raise();
    // Only while no thread waits on the signal (before a worker starts).
    void Clear();
    bool IsRaised() const { return raised_.load(std::memory_order_acquire); }

    // Sleeps for `duration` (negative: without end) unless the signal is or gets raised.
    // Returns true when it was raised.
    [[nodiscard]] bool WaitFor(Millis duration) const;

    // What the serial port waits on beside its device: on POSIX a descriptor that is readable
    // while the signal is raised, on Win32 the HANDLE of a manual-reset event.
    std::intptr_t NativeHandle() const { return waitHandle_; }

private:
    std::atomic<bool> raised_{false};
    std::intptr_t waitHandle_ = -1;
    std::intptr_t raiseHandle_ = -1;
};

}  // namespace zolt
