#include "sim/phone_line.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "link/termios_speed.h"
#include "sim/sim_error.h"

namespace zolt::sim {

namespace {

std::string SystemText(const std::string& what) { return what + ": " + std::strerror(errno); }

void MakeRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    tcsetattr(fd, TCSANOW, &tio);
}

void MakeLink(const std::string& link, const std::string& target) {
    struct stat st{};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) throw SimError(link + " exists and is not a symbolic link");
        if (unlink(link.c_str()) != 0) throw SimError(SystemText("cannot replace " + link));
    }
    if (symlink(target.c_str(), link.c_str()) != 0) throw SimError(SystemText("cannot create " + link));
}

void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    // Only our own link: another phone may have taken the name since.
    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

}  // namespace

PhoneLine PhoneLine::OpenPty(const std::string& link) {
    PhoneLine line;
    line.fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd_ < 0) throw SimError(SystemText("cannot open a pseudo-terminal"));
    char name[128];
    if (grantpt(line.fd_) != 0 || unlockpt(line.fd_) != 0 || ptsname_r(line.fd_, name, sizeof name) != 0) {
        throw SimError(SystemText("cannot set up a pseudo-terminal"));
    }
    line.path_ = name;
    line.port_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.port_ < 0) throw SimError(SystemText("cannot open " + line.path_));
    // Raw before the tool opens it: nothing the phone sends may be echoed or translated.
    MakeRaw(line.port_, B115200);

    // Watched after the phone's own open, so that only other programs are counted.
    line.watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (line.watch_ >= 0 && inotify_add_watch(line.watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        close(line.watch_);
        line.watch_ = -1;
    }
    if (!link.empty()) {
        MakeLink(link, line.path_);
        line.link_ = link;
    }
    return line;
}

PhoneLine PhoneLine::OpenDevice(const std::string& path, int baud) {
    const auto speed = static_cast<speed_t>(TermiosSpeed(baud));
    if (speed == B0) throw SimError("unsupported baud rate " + std::to_string(baud));
    PhoneLine line;
    line.fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd_ < 0) throw SimError(SystemText("cannot open " + path));
    if (!isatty(line.fd_)) throw SimError(path + " is not a serial device");
    MakeRaw(line.fd_, speed);
    line.path_ = path;
    return line;
}

PhoneLine::PhoneLine(PhoneLine&& other) noexcept { *this = std::move(other); }

PhoneLine& PhoneLine::operator=(PhoneLine&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        port_ = std::exchange(other.port_, -1);
        watch_ = std::exchange(other.watch_, -1);
        users_ = std::exchange(other.users_, 0);
        path_ = std::move(other.path_);
        link_ = std::move(other.link_);
        other.path_.clear();
        other.link_.clear();
    }
    return *this;
}

PhoneLine::~PhoneLine() { Close(); }

int PhoneLine::TakeWatchEvents() {
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = read(watch_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_OPEN) ++users_;
            if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && users_ > 0) {
                --users_;
                closed = true;
            }
        }
    }
    // Judged on all events queued so far, not one by one: a program that closed and another
    // that opened since must not lose the replies the phone has sent to the second. Every
    // open is queued before that program can send anything, and the phone reads these events
    // before it reads the line.
    if (closed && users_ == 0 && port_ >= 0) {
        tcflush(port_, TCIFLUSH);
        ioctl(port_, TIOCNXCL);
    }
    return users_;
}

void PhoneLine::Close() {
    if (!link_.empty()) RemoveLink(link_, path_);
    link_.clear();
    if (watch_ >= 0) close(watch_);
    if (port_ >= 0) close(port_);
    if (fd_ >= 0) close(fd_);
    watch_ = port_ = fd_ = -1;
    users_ = 0;
}

}  // namespace zolt::sim
