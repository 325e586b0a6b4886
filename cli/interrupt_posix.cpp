#include <pthread.h>
#include <signal.h>

#include <thread>

#include "cli/interrupt.h"

namespace zolt::cli {

void OnInterrupt(std::function<void()> handler) {
    // Block the signals in this thread and so in every thread started later; one watcher
    // takes them with sigwait, where any code may run.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, handler = std::move(handler)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) == 0) handler();
        }
    }).detach();
}

}  // namespace zolt::cli
