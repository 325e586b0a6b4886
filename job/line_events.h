// What a line's worker tells its owner. The Win32 frame posts these as window messages, the
// command line queues them, tests record them.
#pragma once

#include <cstdint>

namespace zolt {

inline constexpr unsigned WM_PORT_TASK_DONE = 1124;  // wParam task index, lParam line number
inline constexpr unsigned WM_PORT_FAILED = 1125;     // wParam task index, lParam line number
inline constexpr unsigned WM_PORT_ALL_DONE = 1126;   // wParam 0, lParam line number

class LineEventSink {
public:
    virtual ~LineEventSink() = default;
    // Called on a worker thread. Must not block and must not call back into the line.
    virtual void PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Owner's thread, after a line was stopped: drop that line's events that were posted
    // before the stop but not yet handled, so that nothing of a stopped job shows up later.
    virtual void DiscardPending(std::intptr_t lineNumber) { (void)lineNumber; }
};

}  // namespace zolt
