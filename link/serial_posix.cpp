// POSIX serial port on termios. The port is opened non-blocking; reads take what the driver
// has queued, WaitReadable sleeps in poll() on the device and the line's stop signal.
#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/termios_speed.h"

namespace zolt {

struct SerialPort::Impl {
    int fd = -1;
    // A read failed as a hung-up or removed device's reads do.
    bool hungUp = false;
};

namespace {

tcflag_t DataBitsFlag(int bits) {
    switch (bits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

SerialError ErrorOfOpen(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return SerialError::AccessDenied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return SerialError::NotFound;
        case ENOTTY:
            return SerialError::NotSerial;
        default:
            return SerialError::Failed;
    }
}

}  // namespace

unsigned TermiosSpeed(int baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
#ifdef B460800
        case 460800: return B460800;
        case 921600: return B921600;
#endif
        default: return B0;
    }
}

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

std::string SerialPort::DeviceName(const std::string& name) { return name; }

bool SerialPort::IsOpen() const { return impl_->fd >= 0; }

std::string SerialPort::LastErrorText() const {
    return lastSystemError_ ? std::strerror(lastSystemError_) : std::string();
}

int SerialPort::Open(const std::string& name, int baudRate, int dataBits, int parity, bool dsrFlow,
                     bool ctsFlow, bool xonXoff) {
    if (IsOpen()) {
        lastError_ = SerialError::AlreadyOpen;
        lastSystemError_ = EBUSY;
        return 0;
    }
    auto fail = [&](SerialError error, int err, int fd) {
        if (fd >= 0) close(fd);
        lastError_ = error;
        lastSystemError_ = err;
        return 0;
    };

    int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(ErrorOfOpen(errno), errno, -1);
    if (!isatty(fd)) return fail(SerialError::NotSerial, ENOTTY, fd);

    // Exclusive use. TIOCEXCL keeps out other programs (but not the super-user); the lock
    // keeps out every program that locks its ports as we do, also when run as root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(SerialError::AccessDenied, errno, fd);
    ioctl(fd, TIOCEXCL);

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return fail(SerialError::NotSerial, errno, fd);
    const auto speed = static_cast<speed_t>(TermiosSpeed(baudRate));
    if (speed == B0) return fail(SerialError::Failed, EINVAL, fd);
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= DataBitsFlag(dataBits) | CREAD | CLOCAL | HUPCL;
    if (parity == SERIAL_PARITY_ODD) tio.c_cflag |= PARENB | PARODD;
    if (parity == SERIAL_PARITY_EVEN) tio.c_cflag |= PARENB;
    // Hardware handshaking on either line means RTS/CTS here; termios has no DSR flow.
    if (dsrFlow || ctsFlow) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (xonXoff) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail(SerialError::Failed, errno, fd);

    // Raise DTR and RTS. A pseudo-terminal has no modem lines and refuses; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);

#ifdef __linux__
    // USB serial adapters hold received bytes for up to 16 ms unless asked not to; every
    // reply would wait that long.
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &ss);
    }
#endif

    impl_->fd = fd;
    impl_->hungUp = false;
    name_ = name;
    lastError_ = SerialError::None;
    lastSystemError_ = 0;
    return 1;
}

int SerialPort::Close() {
    if (!IsOpen()) return 0;
    const int fd = impl_->fd;
    impl_->fd = -1;
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &dtr);
    close(fd);
    return 1;
}

int SerialPort::ReadData(std::uint8_t* buffer, int maxCount) {
    if (!IsOpen() || maxCount <= 0) return 0;
    for (;;) {
        ssize_t n = read(impl_->fd, buffer, static_cast<size_t>(maxCount));
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && errno == EINTR) continue;
        // With nothing queued a terminal read gives 0 or EAGAIN; EIO, ENXIO and ENODEV are
        // what a hung-up or removed device's reads give.
        if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) {
            impl_->hungUp = true;
            lastSystemError_ = errno;
        }
        return 0;
    }
}

WaitResult SerialPort::WaitReadable(Millis limit) {
    if (!IsOpen()) return WaitResult::Failed;
    const Deadline deadline(limit);
    for (;;) {
        if (stopSignal_ && stopSignal_->IsRaised()) return WaitResult::Stopped;
        pollfd p[2] = {{impl_->fd, POLLIN, 0}, {-1, POLLIN, 0}};
        if (stopSignal_) p[1].fd = static_cast<int>(stopSignal_->NativeHandle());
        int r = poll(p, stopSignal_ ? 2 : 1, static_cast<int>(deadline.Left().count()));
        if (r < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Failed;
        }
        if (stopSignal_ && (p[1].revents & POLLIN)) return WaitResult::Stopped;
        // A device that hung up stays readable for ever: only input still queued on it is
        // worth a read.
        if (impl_->hungUp || (p[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            int queued = 0;
            if (!(p[0].revents & POLLIN) || ioctl(impl_->fd, FIONREAD, &queued) != 0 || queued <= 0) {
                return WaitResult::Failed;
            }
            return WaitResult::Ready;
        }
        if (p[0].revents & POLLIN) return WaitResult::Ready;
        if (r == 0 && deadline.Passed()) return WaitResult::TimedOut;
    }
}

int SerialPort::WriteData(const std::uint8_t* bytes, int count) {
    if (!IsOpen()) return 0;
    const Deadline deadline(timing_.writeLimit);
    int done = 0;
    while (done < count) {
        ssize_t n = write(impl_->fd, bytes + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return 0;
        // The driver's queue is full: wait for room, the write limit or a stop.
        pollfd p[2] = {{impl_->fd, POLLOUT, 0}, {-1, POLLIN, 0}};
        if (stopSignal_) p[1].fd = static_cast<int>(stopSignal_->NativeHandle());
        const int timeout = static_cast<int>(deadline.Left().count());
        if (timeout == 0) return 0;
        int r = poll(p, stopSignal_ ? 2 : 1, timeout);
        if (r < 0 && errno != EINTR) return 0;
        if (stopSignal_ && (p[1].revents & POLLIN)) return 0;
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return 0;
    }
    return 1;
}

}  // namespace zolt
