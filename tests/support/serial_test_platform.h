// What the serial-port tests need from the platform they run on: two connected ports, names
// that are not serial ports, and the process's CPU time.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace zolt::test {

// Two serial ports joined like a null-modem cable: what is written to one is read from the
// other. On POSIX a pair of pseudo-terminals joined by a relay thread; on Windows there is
// none (the ports come from the environment), and Create gives null.
class NullModem {
public:
    static std::unique_ptr<NullModem> Create();
    virtual ~NullModem() = default;
    virtual std::string PortA() const = 0;
    virtual std::string PortB() const = 0;
};

// A port name that this platform surely does not have.
std::string AbsentPortName();
// Names of devices that open but are not serial ports (besides plain files).
std::vector<std::string> NonSerialDeviceNames();
// CPU time, user and system, that this process has used so far.
std::chrono::microseconds ProcessCpuTime();

}  // namespace zolt::test
