#include <windows.h>

#include <mutex>
#include <utility>

#include "cli/interrupt.h"

namespace zolt::cli {

namespace {
std::mutex handlerMutex;
std::function<void()> currentHandler;

// Runs on a thread of its own that the console starts for the event.
BOOL WINAPI ConsoleHandler(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        std::lock_guard lock(handlerMutex);
        if (currentHandler) currentHandler();
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void OnInterrupt(std::function<void()> handler) {
    static std::once_flag installed;
    std::call_once(installed, [] { SetConsoleCtrlHandler(ConsoleHandler, TRUE); });
    std::lock_guard lock(handlerMutex);
    currentHandler = std::move(handler);
}

}  // namespace zolt::cli
