#include <windows.h>

#include <utility>

#include "cli/interrupt.h"

namespace zolt::cli {

namespace {
std::function<void()>& Handler() {
    static std::function<void()> handler;
    return handler;
}

// Runs on a thread of its own that the console starts for the event.
BOOL WINAPI ConsoleHandler(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        if (Handler()) Handler()();
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void OnInterrupt(std::function<void()> handler) {
    Handler() = std::move(handler);
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

}  // namespace zolt::cli
