// Pseudo-terminals as stand-in serial ports for tests that need a port to open.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace zolt::test {

// The master side stays with the test; `path` is the port a line opens.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            path_ = ptsname(master_);
            // Raw from the start, so nothing the tool writes is echoed back before it opens.
            slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
            termios tio{};
            if (slave_ >= 0 && tcgetattr(slave_, &tio) == 0) {
                cfmakeraw(&tio);
                tcsetattr(slave_, TCSANOW, &tio);
            }
        }
    }
    ~Pty() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return path_; }
    // Closes the phone's side, as a pulled adapter or a closed simulator would: the port
    // hangs up for whoever has it open.
    void Unplug() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
        slave_ = master_ = -1;
    }
    int master() const { return master_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace zolt::test
