#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "support/serial_test_platform.h"

namespace zolt::test {

namespace {

// One pseudo-terminal: the relay works the master; the slave is the port under test.
struct Pty {
    int master = -1;
    int slaveHold = -1;
    std::string slave;

    bool Open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        char name[64];
        if (ptsname_r(master, name, sizeof name) != 0) return false;
        slave = name;
        // Held open for the pair's life, as a cable stays plugged in: without it the master
        // reports a hang-up each time the port under test closes its end.
        slaveHold = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveHold < 0) return false;
        termios tio{};
        if (tcgetattr(slaveHold, &tio) != 0) return false;
        cfmakeraw(&tio);
        return tcsetattr(slaveHold, TCSANOW, &tio) == 0;
    }
    ~Pty() {
        if (slaveHold >= 0) close(slaveHold);
        if (master >= 0) close(master);
    }
};

// Copies bytes between the two masters. Each direction holds at most one chunk in flight and
// reads no more until it is passed on, so a side that is not read fills up and blocks its
// writer as a real port with a full queue would.
class PtyNullModem final : public NullModem {
public:
    bool Start() {
        int fds[2];
        if (!ends_[0].Open() || !ends_[1].Open() || pipe2(fds, O_CLOEXEC) != 0) return false;
        quitRead_ = fds[0];
        quitWrite_ = fds[1];
        relay_ = std::thread([this] { Relay(); });
        return true;
    }
    ~PtyNullModem() override {
        if (relay_.joinable()) {
            const char one = 1;
            ssize_t ignored = write(quitWrite_, &one, 1);
            (void)ignored;
            relay_.join();
        }
        if (quitRead_ >= 0) close(quitRead_);
        if (quitWrite_ >= 0) close(quitWrite_);
    }
    std::string PortA() const override { return ends_[0].slave; }
    std::string PortB() const override { return ends_[1].slave; }

private:
    struct Chunk {
        std::array<std::uint8_t, 4096> bytes{};
        std::size_t start = 0;
        std::size_t end = 0;
        bool empty() const { return start == end; }
    };

    void Relay() {
        std::array<Chunk, 2> fromSide;  // fromSide[i]: read from side i, to be written to the other
        for (;;) {
            pollfd p[3] = {};
            for (int i = 0; i < 2; ++i) {
                p[i].fd = ends_[i].master;
                if (fromSide[i].empty()) p[i].events |= POLLIN;
                if (!fromSide[1 - i].empty()) p[i].events |= POLLOUT;
            }
            p[2] = {quitRead_, POLLIN, 0};
            if (poll(p, 3, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[2].revents) return;
            for (int i = 0; i < 2; ++i) {
                // A hang-up cannot happen while the slaves are held; should it, stop rather
                // than spin on it.
                if (p[i].revents & (POLLHUP | POLLERR | POLLNVAL)) return;
                if (p[i].revents & POLLIN) {
                    Chunk& c = fromSide[i];
                    ssize_t n = read(ends_[i].master, c.bytes.data(), c.bytes.size());
                    if (n > 0) {
                        c.start = 0;
                        c.end = static_cast<std::size_t>(n);
                    }
                }
                if (p[i].revents & POLLOUT) {
                    Chunk& c = fromSide[1 - i];
                    ssize_t n = write(ends_[i].master, c.bytes.data() + c.start, c.end - c.start);
                    if (n > 0) c.start += static_cast<std::size_t>(n);
                }
            }
        }
    }

    std::array<Pty, 2> ends_;
    int quitRead_ = -1;
    int quitWrite_ = -1;
    std::thread relay_;
};

}  // namespace

std::unique_ptr<NullModem> NullModem::Create() {
    auto modem = std::make_unique<PtyNullModem>();
    if (!modem->Start()) return nullptr;
    return modem;
}

std::string AbsentPortName() { return "/dev/zolt-no-such-port"; }

std::vector<std::string> NonSerialDeviceNames() { return {"/dev/null"}; }

std::chrono::microseconds ProcessCpuTime() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) +
           std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::nanoseconds(t.tv_nsec));
}

}  // namespace zolt::test
