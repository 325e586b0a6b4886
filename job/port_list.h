// The serial ports that the machine offers, as the operator chooses among them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zolt {

enum PortState : int {
    PORT_FREE = 0,        // exists and could be opened
    PORT_CONNECTED = 1,   // a line of this program has opened it
    PORT_USED_BY_OTHERS = 2,  // opening it was refused: another program holds it
    PORT_ABSENT = 3,      // opening failed for any other reason; never listed
};

struct PortEntry {
    int portNumber = 0;    // COM number on Windows, 0 where ports have no number
    std::string name;      // "Com%d" on Windows, the device path elsewhere
    PortState state = PORT_FREE;
    int baud = 115200;
    std::string device;    // what the port is opened by: "COM7", "/dev/ttyUSB0"
};

// Probe results by device; `listed` once the port has been added to the port list.
struct PortTableEntry {
    bool listed = false;
    PortState state = PORT_FREE;
};

// Where the candidates come from and how one is tried. The standard prober tries COM50 down to
// COM1 on Windows and the machine's serial devices on POSIX; tests use a fake.
class PortProber {
public:
    virtual ~PortProber() = default;
    // Devices to probe, in probing order.
    virtual std::vector<std::string> Candidates() = 0;
    // Opens and closes the device at 115200 baud: free, used by others, or absent.
    virtual PortState Probe(const std::string& device) = 0;
    // The row name and COM number of a device.
    virtual PortEntry Describe(const std::string& device) = 0;

    static std::unique_ptr<PortProber> Standard();
};

// Tries to open the device at 115200 baud and closes it again.
PortState ProbeByOpening(const std::string& device);

// "Enable"/"Disable" and "No Phone"/"Connected"/"Used by others", as the port list shows them.
const char* PortStateText(PortState state);
const char* PortPhoneText(PortState state);

}  // namespace zolt
