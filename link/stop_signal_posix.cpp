#include "link/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zolt {

// A self-pipe: raising writes one byte, so poll() on the read end wakes every waiter and
// keeps waking them until Clear drains it.
StopSignal::StopSignal() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("cannot create a stop signal");
    waitHandle_ = fds[0];
    raiseHandle_ = fds[1];
}

StopSignal::~StopSignal() {
    close(static_cast<int>(waitHandle_));
    close(static_cast<int>(raiseHandle_));
}

void StopSignal::Raise() {
    if (raised_.exchange(true, std::memory_order_acq_rel)) return;
    const char one = 1;
    ssize_t ignored = write(static_cast<int>(raiseHandle_), &one, 1);
    (void)ignored;
}

void StopSignal::Clear() {
    char drain[16];
    while (read(static_cast<int>(waitHandle_), drain, sizeof drain) > 0) {
    }
    raised_.store(false, std::memory_order_release);
}

bool StopSignal::WaitFor(Millis duration) const {
    const Deadline deadline(duration);
    for (;;) {
        if (IsRaised()) return true;
        const Millis left = deadline.Left();
        if (left.count() == 0) return false;
        pollfd p{static_cast<int>(waitHandle_), POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno != EINTR) return IsRaised();
    }
}

}  // namespace zolt
