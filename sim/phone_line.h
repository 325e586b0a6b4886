// The phone's end of a serial line: the master side of a new pseudo-terminal whose other side
// the tool opens as its port, or a real serial device wired to the PC running the tool.
//
// A pseudo-terminal is set up to behave like a serial port that stays plugged in: raw from
// the start, and the phone keeps its own descriptor of the port side open, so the tool may
// close and reopen its port without the phone seeing a hang-up. When the last program other
// than the phone closes the port, what the phone sent meanwhile is discarded (a closed port
// receives nothing) and the port's exclusive mode is cleared so the next open succeeds.
#pragma once

#include <string>

namespace zolt::sim {

class PhoneLine {
public:
    // A new pseudo-terminal; `link`, when not empty, becomes a symbolic link to its port (an
    // existing symbolic link there is replaced; any other file is left and refused). Throws
    // SimError.
    static PhoneLine OpenPty(const std::string& link);
    // A real serial device, raw 8N1 at `baud`. Throws SimError.
    static PhoneLine OpenDevice(const std::string& path, int baud);

    PhoneLine() = default;
    PhoneLine(PhoneLine&& other) noexcept;
    PhoneLine& operator=(PhoneLine&& other) noexcept;
    PhoneLine(const PhoneLine&) = delete;
    PhoneLine& operator=(const PhoneLine&) = delete;
    ~PhoneLine();

    bool IsOpen() const { return fd_ >= 0; }
    // The descriptor the phone reads and writes (non-blocking); -1 when closed.
    int Fd() const { return fd_; }
    // A descriptor that becomes readable when programs open or close the port; -1 for none.
    int WatchFd() const { return watch_; }
    // The port the tool opens, and the symbolic link to it (empty when none).
    const std::string& Path() const { return path_; }
    const std::string& Link() const { return link_; }

    // Reads the open and close events that made WatchFd readable. Returns how many other
    // programs have the port open now.
    int TakeWatchEvents();

    // Closes everything and removes the link, as if the phone were unplugged.
    void Close();

private:
    int fd_ = -1;
    int port_ = -1;   // the phone's own descriptor of the port side of a pseudo-terminal
    int watch_ = -1;
    int users_ = 0;   // opens of the port by other programs, less their closes
    std::string path_;
    std::string link_;
};

}  // namespace zolt::sim
