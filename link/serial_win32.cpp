// Win32 serial port. The device is opened for overlapped I/O so that every read, write and
// wait for input ends on an event of its own and can be given up: on a time-out, or when the
// line's stop signal (a manual-reset event) is raised.
#include "link/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace zolt {

struct SerialPort::Impl {
    HANDLE device = INVALID_HANDLE_VALUE;
    // A named event that exists while some port object holds this port; see ClaimPort.
    HANDLE claim = nullptr;
    bool open = false;
    // One OVERLAPPED per kind of operation, each with its own manual-reset event, so that a
    // read, a write and a wait never share state.
    OVERLAPPED readIo{};
    OVERLAPPED writeIo{};
    OVERLAPPED waitIo{};
    // A byte that a wait for input read to find out that input had come; ReadData hands it
    // out first.
    bool held = false;
    std::uint8_t heldByte = 0;
    // The driver refused to wait for a comm event (wine on a pseudo-terminal does, each time
    // after starting a thread for it): waits sleep in a one-byte read instead, while open.
    bool noCommEvents = false;
};

namespace {


// Driver queue sizes: several whole frames (at most 800 bytes on the wire) each way.
constexpr DWORD QUEUE_SIZE = 4096;

enum class IoEnd { Done, TimedOut, Stopped, Failed };

DWORD WaitMillis(Millis limit) {
    if (limit.count() < 0) return INFINITE;
    return static_cast<DWORD>(std::min<long long>(limit.count(), INFINITE - 1));
}

// What RunOverlapped waits for: a transfer (ReadFile, WriteFile) or a comm event (WaitCommEvent).
enum class IoKind { Transfer, CommEvent };

// Runs one overlapped operation on `io`: `start` begins it (ReadFile, WriteFile or
// WaitCommEvent), then it is waited for up to `limit`, or until `stop` is set. An operation
// that is given up is cancelled and then drained with a waiting GetOverlappedResult, because
// the driver owns `io` and the buffer until it has completed. `transferred` counts what moved
// even then: a read that completed in the instant before its cancel took hold has its bytes.
template <typename Start>
IoEnd RunOverlapped(HANDLE device, OVERLAPPED& io, IoKind kind, Start start, DWORD& transferred,
                    Millis limit, HANDLE stop) {
    transferred = 0;
    const BOOL started = start();
    if (!started && GetLastError() != ERROR_IO_PENDING) return IoEnd::Failed;
    IoEnd end = IoEnd::Done;
    if (!started) {
        const HANDLE events[2] = {io.hEvent, stop};
        switch (WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, WaitMillis(limit))) {
            case WAIT_OBJECT_0: break;
            case WAIT_OBJECT_0 + 1: end = IoEnd::Stopped; break;
            case WAIT_TIMEOUT: end = IoEnd::TimedOut; break;
            default: end = IoEnd::Failed; break;
        }
        if (end != IoEnd::Done) {
            // Setting the event mask, even to what it was, is the documented way to end a
            // comm-event wait; wine honours only that, not the cancel.
            DWORD mask = 0;
            if (kind == IoKind::CommEvent && GetCommMask(device, &mask)) SetCommMask(device, mask);
            CancelIoEx(device, &io);
        }
    }
    const BOOL completed = GetOverlappedResult(device, &io, &transferred, TRUE);
    if (end != IoEnd::Done) return end;
    return completed ? IoEnd::Done : IoEnd::Failed;
}

SerialError ErrorOfOpen(DWORD code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        // What wine reports for a port that another handle holds; Windows' serial driver
        // says ERROR_ACCESS_DENIED.
        case ERROR_SHARING_VIOLATION:
            return SerialError::AccessDenied;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return SerialError::NotFound;
        default:
            return SerialError::Failed;
    }
}

// Bytes waiting in the driver's input queue; clears any line error on the way. -1 when the
// device does not answer (removed, or not a serial device).
long QueuedBytes(HANDLE device) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(device, &errors, &status)) return -1;
    return static_cast<long>(status.cbInQue);
}

// Windows' serial drivers refuse a second open of a port themselves, but not every system that
// runs this program does (wine lets any number of handles share a COM port), so a port is also
// claimed by a named kernel object, which goes away with the last handle to it, also when its
// process dies. Returns null when the port is claimed already.
HANDLE ClaimPort(const std::string& name) {
    const int number = ComPortNumber(name);
    std::string key = "Local\\ZOLT.port.";
    if (number > 0) {
        key += "COM" + std::to_string(number);
    } else {
        for (char c : name) key += c == '\\' ? '/' : c;  // a backslash would name a namespace
    }
    HANDLE claim = CreateEventA(nullptr, TRUE, FALSE, key.c_str());
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return claim;
}

HANDLE StopEvent(const StopSignal* signal) {
    return signal ? reinterpret_cast<HANDLE>(signal->NativeHandle()) : nullptr;
}

HANDLE NewEvent() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) throw std::runtime_error("cannot create the events of a serial port");
    return event;
}


// How a wait for input slept: until something happened (input, the limit: the caller looks),
// until the stop, or not at all because the driver refuses to wait that way.
enum class Slept { Woke, Stopped, Refused };

Slept SleepOnCommEvent(HANDLE device, OVERLAPPED& io, Millis limit, HANDLE stop) {
    DWORD events = 0;
    DWORD ignored = 0;
    const auto wait = [&] { return WaitCommEvent(device, &events, &io); };
    switch (RunOverlapped(device, io, IoKind::CommEvent, wait, ignored, limit, stop)) {
        case IoEnd::Stopped: return Slept::Stopped;
        case IoEnd::TimedOut: return Slept::Woke;
        case IoEnd::Done:
            // EV_RXCHAR may be one that the driver kept from bytes read since: the queue is
            // what counts. No event at all means the mask was taken away and no more will come.
            if (events != 0) return Slept::Woke;
            [[fallthrough]];
        case IoEnd::Failed:
            // Wine on a pseudo-terminal aborts every such wait that would have to wait (it
            // watches modem lines, which a pty lacks), after starting a thread for it.
            return Slept::Refused;
    }
    return Slept::Refused;
}

// A read of one byte that ends when input comes (the byte is then held for ReadData), at the
// driver's read limit (serialReadLimit) with none, at `limit` or at the stop.
Slept SleepInRead(HANDLE device, OVERLAPPED& io, std::uint8_t& byte, bool& held, Millis limit, HANDLE stop) {
    DWORD got = 0;
    const auto read = [&] { return ReadFile(device, &byte, 1, nullptr, &io); };
    const auto began = std::chrono::steady_clock::now();
    const IoEnd end = RunOverlapped(device, io, IoKind::Transfer, read, got, limit, stop);
    if (got == 1) held = true;
    if (end == IoEnd::Stopped) return Slept::Stopped;
    // A driver that ends such a read at once without a byte cannot wait in it.
    if (end == IoEnd::Failed || (got == 0 && std::chrono::steady_clock::now() - began < Millis(1))) {
        return Slept::Refused;
    }
    return Slept::Woke;
}

Slept Nap(Millis nap, HANDLE stop) {
    if (!stop) {
        Sleep(WaitMillis(nap));
        return Slept::Woke;
    }
    return WaitForSingleObject(stop, WaitMillis(nap)) == WAIT_OBJECT_0 ? Slept::Stopped : Slept::Woke;
}

}  // namespace

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {
    impl_->readIo.hEvent = NewEvent();
    impl_->writeIo.hEvent = NewEvent();
    impl_->waitIo.hEvent = NewEvent();
}

SerialPort::~SerialPort() {
    Close();
    CloseHandle(impl_->readIo.hEvent);
    CloseHandle(impl_->writeIo.hEvent);
    CloseHandle(impl_->waitIo.hEvent);
}

std::string SerialPort::DeviceName(const std::string& name) {
    const int number = ComPortNumber(name);
    if (number <= 0) return name;
    char device[24];
    std::snprintf(device, sizeof device, number <= 2 ? "COM%d" : "\\\\.\\COM%d", number);
    return device;
}

bool SerialPort::IsOpen() const { return impl_->open; }

std::string SerialPort::LastErrorText() const {
    if (lastSystemError_ == 0) return {};
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(lastSystemError_), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
    if (n == 0) return "error " + std::to_string(lastSystemError_);
    return std::string(text, n);
}

int SerialPort::Open(const std::string& name, int baudRate, int dataBits, int parity, bool dsrFlow,
                     bool ctsFlow, bool xonXoff) {
    if (IsOpen()) {
        lastError_ = SerialError::AlreadyOpen;
        lastSystemError_ = ERROR_BUSY;
        return 0;
    }
    HANDLE claim = nullptr;
    auto fail = [&](SerialError error, DWORD code, HANDLE device) {
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
        if (claim) CloseHandle(claim);
        lastError_ = error;
        lastSystemError_ = static_cast<int>(code);
        return 0;
    };

    claim = ClaimPort(name);
    if (!claim) {
        const DWORD code = GetLastError();
        return fail(ErrorOfOpen(code), code, INVALID_HANDLE_VALUE);
    }
    HANDLE device = CreateFileA(DeviceName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return fail(ErrorOfOpen(code), code, device);
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // Only a communications device has a control block: a file or another device that
    // opened under this name stops here.
    if (!GetCommState(device, &dcb)) return fail(SerialError::NotSerial, GetLastError(), device);
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxDsrFlow = dsrFlow;
    dcb.fDtrControl = dsrFlow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = ctsFlow;
    dcb.fRtsControl = ctsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    // A previous program may have left these on, and each would damage a binary stream:
    // null bytes discarded, bytes replaced on parity errors, input dropped while DSR is low,
    // every transfer refused after a line error until it is cleared.
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(device, &dcb)) return fail(SerialError::Failed, GetLastError(), device);

    // Reads ask only for bytes already queued, so they complete at once; the read constant
    // only bounds a driver that holds a read anyway. A write that the driver has not finished
    // within the write limit ends there.
    const Millis readLimit = timing_.serialReadLimit;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = WaitMillis(readLimit);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant =
        timing_.writeLimit.count() < 0 ? 0 : WaitMillis(timing_.writeLimit);
    SetCommMask(device, EV_RXCHAR);
    SetupComm(device, QUEUE_SIZE, QUEUE_SIZE);
    SetCommTimeouts(device, &timeouts);

    impl_->device = device;
    impl_->claim = claim;
    impl_->open = true;
    name_ = name;
    lastError_ = SerialError::None;
    lastSystemError_ = 0;
    return 1;
}

int SerialPort::Close() {
    if (!IsOpen()) return 0;
    impl_->open = false;
    SetCommMask(impl_->device, 0);
    EscapeCommFunction(impl_->device, CLRDTR);
    CloseHandle(impl_->device);
    CloseHandle(impl_->claim);
    impl_->device = INVALID_HANDLE_VALUE;
    impl_->claim = nullptr;
    impl_->held = false;
    impl_->noCommEvents = false;
    return 1;
}

int SerialPort::ReadData(std::uint8_t* buffer, int maxCount) {
    if (!IsOpen() || maxCount <= 0) return 0;
    int count = 0;
    if (impl_->held) {
        impl_->held = false;
        buffer[count++] = impl_->heldByte;
    }
    const long queued = QueuedBytes(impl_->device);
    if (queued <= 0 || count == maxCount) return count;
    const DWORD wanted = static_cast<DWORD>(std::min<long>(queued, maxCount - count));
    OVERLAPPED& io = impl_->readIo;
    DWORD got = 0;
    const auto read = [&] { return ReadFile(impl_->device, buffer + count, wanted, nullptr, &io); };
    const Millis limit = timing_.serialReadLimit;
    const IoEnd end = RunOverlapped(impl_->device, io, IoKind::Transfer, read, got, limit, nullptr);
    if (end != IoEnd::Done) QueuedBytes(impl_->device);
    return count + static_cast<int>(got);
}

WaitResult SerialPort::WaitReadable(Millis limit) {
    if (!IsOpen()) return WaitResult::Failed;
    const HANDLE stop = StopEvent(stopSignal_);
    const Deadline deadline(limit);
    // How this wait sleeps: on comm events; where the driver refuses those (for as long as the
    // port is open), in a read of one byte that ends when input comes; where that fails too,
    // by looking at the queue every serialPollGap. A driver that cannot wait in a read is
    // asked again at the next wait, so that a passing refusal does not make the port poll for
    // the rest of its life.
    bool readWaits = true;
    for (;;) {
        if (stopSignal_ && stopSignal_->IsRaised()) return WaitResult::Stopped;
        // Bytes that came before the wait began raise no new event: look at the queue first.
        // A device that no longer answers here is gone.
        if (impl_->held) return WaitResult::Ready;
        const long queued = QueuedBytes(impl_->device);
        if (queued < 0) return WaitResult::Failed;
        if (queued > 0) return WaitResult::Ready;
        const Millis left = deadline.Left();
        if (left.count() == 0) return WaitResult::TimedOut;
        Slept slept;
        if (!impl_->noCommEvents) {
            slept = SleepOnCommEvent(impl_->device, impl_->waitIo, left, stop);
            if (slept == Slept::Refused) impl_->noCommEvents = true;
        } else if (readWaits) {
            slept = SleepInRead(impl_->device, impl_->readIo, impl_->heldByte, impl_->held, left, stop);
            if (slept == Slept::Refused) readWaits = false;
        } else {
            slept = Nap(deadline.LeftAtMost(timing_.serialPollGap), stop);
        }
        if (slept == Slept::Stopped) return WaitResult::Stopped;
    }
}

int SerialPort::WriteData(const std::uint8_t* bytes, int count) {
    if (!IsOpen()) return 0;
    if (stopSignal_ && stopSignal_->IsRaised()) return 0;
    if (count <= 0) return 1;
    const HANDLE stop = StopEvent(stopSignal_);
    OVERLAPPED& io = impl_->writeIo;
    DWORD written = 0;
    const auto write = [&] {
        return WriteFile(impl_->device, bytes, static_cast<DWORD>(count), nullptr, &io);
    };
    const IoEnd end =
        RunOverlapped(impl_->device, io, IoKind::Transfer, write, written, timing_.writeLimit, stop);
    // The driver's write time-out ends a write successfully but short: that is a failure here.
    if (end == IoEnd::Done && written == static_cast<DWORD>(count)) return 1;
    QueuedBytes(impl_->device);
    return 0;
}

}  // namespace zolt
