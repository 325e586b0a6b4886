// One serial port: the byte pipe to one phone.
//
// Ports are named by their platform: "COM7" on Windows, a device path such as /dev/ttyUSB0 or
// /dev/pts/7 on POSIX. A port is used by one thread at a time. All operations are
// synchronous; reads never wait, and WaitReadable is the one way to sleep until input comes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/stop_signal.h"
#include "link/timing.h"

namespace zolt {

// Why the last Open failed.
enum class SerialError {
    None,
    AccessDenied,  // another program holds the port (or the operator may not use it)
    NotFound,      // no such port
    NotSerial,     // the name exists but is not a serial device
    Failed,        // the device refused the line settings, or anything else
    AlreadyOpen,   // Open on a port that is open already
};

enum class WaitResult {
    Ready,     // input is queued
    TimedOut,  // nothing came within the limit
    Stopped,   // the attached stop signal was raised
    Failed,    // the device is gone or broken (a hang-up); the caller should not spin on it
};

// Win32 parity codes, which the callers pass (named apart from windows.h's macros).
inline constexpr int SERIAL_PARITY_NONE = 0;
inline constexpr int SERIAL_PARITY_ODD = 1;
inline constexpr int SERIAL_PARITY_EVEN = 2;

// What the phone link needs of a port once it is open. SerialPort is the real one; tests put
// a scripted device in its place.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    virtual int ReadData(std::uint8_t* buffer, int maxCount) = 0;
    virtual int SendData(const std::uint8_t* bytes, int count) = 0;
    virtual WaitResult WaitReadable(Millis limit) = 0;
};

class SerialPort final : public SerialDevice {
public:
    SerialPort();
    ~SerialPort() override;  // closes the port if open
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the port with the given line settings: always one stop bit, DTR and RTS raised
    // unless handshaking on them was asked for, exclusive use. Returns 1 when opened, 0 when
    // not (LastError says why); on an open port returns 0 and leaves it as it is.
    [[nodiscard]] int Open(const std::string& name, int baudRate, int dataBits, int parity,
                           bool dsrFlow, bool ctsFlow, bool xonXoff);
    // Drops DTR and closes. Returns 1, or 0 when the port was not open.
    int Close();
    bool IsOpen() const;

    // Copies at most maxCount queued bytes into buffer without waiting. Returns the count
    // (0 when nothing was queued, the port is closed, or on any error).
    int ReadData(std::uint8_t* buffer, int maxCount) override;
    // Writes all bytes; returns 1 when written, 0 when the port is closed, the write failed,
    // did not complete within the write limit, or the attached stop signal was raised.
    int WriteData(const std::uint8_t* bytes, int count);
    // WriteData without looking at its result: returns count, or -1 when the port is closed.
    int SendData(const std::uint8_t* bytes, int count) override;

    // Sleeps until input is queued, the limit passes (a negative limit never passes), or the
    // attached stop signal is raised.
    WaitResult WaitReadable(Millis limit) override;

    // The stop signal that WaitReadable and WriteData honour; null for none. The signal must
    // outlive the port or be detached first.
    void AttachStopSignal(const StopSignal* stop) { stopSignal_ = stop; }
    // The write limit, and on Win32 the read limit and the poll gap, come from here; the
    // standard values until a line hands over its own.
    void SetTiming(const Timing& timing) { timing_ = timing; }

    SerialError LastError() const { return lastError_; }
    // The platform's own error code (errno, GetLastError) and its text, for traces.
    int LastSystemError() const { return lastSystemError_; }
    std::string LastErrorText() const;
    const std::string& Name() const { return name_; }

    // The name that the platform's open call is given for a port name: on Win32 "COM1" and
    // "COM2" stay as they are and higher numbers take the device-namespace form "\\.\COM12";
    // on POSIX the name itself.
    static std::string DeviceName(const std::string& name);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    const StopSignal* stopSignal_ = nullptr;
    Timing timing_ = Timing::Standard();
    SerialError lastError_ = SerialError::None;
    int lastSystemError_ = 0;
    std::string name_;
};

// "COM7" gives 7; anything that is not "COM" and a number (any case) gives 0.
int ComPortNumber(const std::string& name);

}  // namespace zolt
