#include "link/stop_signal.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>

namespace zolt {

namespace {

HANDLE EventOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// WaitForSingleObject takes 32-bit milliseconds and INFINITE is one of them; longer waits are
// made of several slices.
constexpr DWORD LONGEST_SLICE = 0x7FFFFFFF;

}  // namespace

// A manual-reset event: once set it wakes every waiter, the serial port's included, and
// stays set until Clear.
StopSignal::StopSignal() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) throw std::runtime_error("cannot create a stop signal");
    waitHandle_ = reinterpret_cast<std::intptr_t>(event);
}

StopSignal::~StopSignal() { CloseHandle(EventOf(waitHandle_)); }

void StopSignal::Raise() {
    raised_.store(true, std::memory_order_release);
    SetEvent(EventOf(waitHandle_));
}

void StopSignal::Clear() {
    ResetEvent(EventOf(waitHandle_));
    raised_.store(false, std::memory_order_release);
}

bool StopSignal::WaitFor(Millis duration) const {
    const Deadline deadline(duration);
    for (;;) {
        if (IsRaised()) return true;
        DWORD slice = INFINITE;
        if (!deadline.Endless()) {
            const auto left = deadline.Left().count();
            if (left <= 0) return false;
            slice = left > LONGEST_SLICE ? LONGEST_SLICE : static_cast<DWORD>(left);
        }
        switch (WaitForSingleObject(EventOf(waitHandle_), slice)) {
            case WAIT_OBJECT_0: return true;
            case WAIT_TIMEOUT: break;
            default: return IsRaised();
        }
    }
}

}  // namespace zolt
