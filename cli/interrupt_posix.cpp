#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <thread>

#include "cli/interrupt.h"

namespace zolt::cli {

namespace {
std::mutex handlerMutex;
std::function<void()> currentHandler;
}  // namespace

void OnInterrupt(std::function<void()> handler) {
    static std::once_flag watcher;
    std::call_once(watcher, [] {
        // Block the signals in this thread and so in every thread started later; one watcher
        // takes them with sigwait, where any code may run.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread([set] {
            for (;;) {
                int signal = 0;
                if (sigwait(&set, &signal) != 0) continue;
                std::lock_guard lock(handlerMutex);
                if (currentHandler) currentHandler();
            }
        }).detach();
    });
    std::lock_guard lock(handlerMutex);
    currentHandler = std::move(handler);
}

}  // namespace zolt::cli
