#include <windows.h>

#include "support/serial_test_platform.h"

namespace zolt::test {

std::unique_ptr<NullModem> NullModem::Create() { return nullptr; }

std::string AbsentPortName() { return "COM199"; }

std::vector<std::string> NonSerialDeviceNames() { return {"NUL"}; }

std::chrono::microseconds ProcessCpuTime() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return {};
    auto ticks = [](const FILETIME& t) {
        return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    // FILETIME counts 100 ns.
    return std::chrono::microseconds((ticks(kernel) + ticks(user)) / 10);
}

}  // namespace zolt::test
