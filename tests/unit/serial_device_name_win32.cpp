// The names that a Win32 port is opened by.
#include <gtest/gtest.h>

#include "link/serial_port.h"

namespace zolt {
namespace {

TEST(SerialDeviceName, LowPortsKeepTheShortFormAndTheRestTakeTheDeviceNamespace) {
    const struct {
        const char* name;
        const char* device;
    } cases[] = {
        {"COM1", "COM1"},
        {"com2", "COM2"},
        {"COM3", "\\\\.\\COM3"},
        {"COM12", "\\\\.\\COM12"},
        {"Com012", "\\\\.\\COM12"},
        {"COM256", "\\\\.\\COM256"},
        // Not a COM name: used as given.
        {"\\\\.\\COM7", "\\\\.\\COM7"},
        {"COM0", "COM0"},
        {"COM", "COM"},
        {"COM1X", "COM1X"},
        {"LPT1", "LPT1"},
        {"C:\\ports\\phone.bin", "C:\\ports\\phone.bin"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SerialPort::DeviceName(c.name), c.device) << c.name;
}

}  // namespace
}  // namespace zolt
