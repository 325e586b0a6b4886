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

// What tells the device behind a port apart from its neighbours, so that an operator can find
// the phone (or the hub's socket) again after the kernel numbered the ports differently. Empty
// fields are unknown: an on-board UART has no USB ids, a pseudo-terminal has nothing at all.
struct PortIdentity {
    std::vector<std::string> byId;    // POSIX: /dev/serial/by-id links to the device
    std::vector<std::string> byPath;  // POSIX: /dev/serial/by-path links (the socket it is in)
    std::string vendorId;             // USB ids in four hex digits, as the device reports them
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string friendlyName;         // Windows: the device manager's name of the port
    std::string hardwareId;           // Windows: the first hardware id (USB\VID_0403&PID_6001)
};

struct PortEntry {
    int portNumber = 0;    // COM number on Windows, 0 where ports have no number
    std::string name;      // "Com%d" on Windows, the device path elsewhere
    PortState state = PORT_FREE;
    int baud = 115200;
    std::string device;    // what the port is opened by: "COM7", "/dev/ttyUSB0"
    PortIdentity identity;
    // POSIX: the user may not open the device at all (its mode and groups refuse it). The
    // state is then PORT_USED_BY_OTHERS, as the open's refusal cannot tell the two apart;
    // front ends that can say more tell the operator how to get the permission.
    bool permissionDenied = false;
    std::string deviceGroup;  // POSIX: the group that may use the device ("dialout", "uucp")
};

// Where the POSIX prober looks: the device folder (its serial/by-id and serial/by-path) and
// sysfs. Tests point them at a tree of their own; the Windows prober asks SetupAPI instead.
struct PortRoots {
    std::string dev = "/dev";
    std::string sys = "/sys";
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

    static std::unique_ptr<PortProber> Standard(const PortRoots& roots = {});
};

// The device that a port name stands for: a by-id or by-path link (any symbolic link) resolved
// to the device it points at; any other name as it is. Never fails: a name that cannot be
// resolved is returned unchanged and fails later, when it is opened.
std::string PortDeviceOf(const std::string& name);

// Tries to open the device at 115200 baud and closes it again.
PortState ProbeByOpening(const std::string& device);

// "Enable"/"Disable" and "No Phone"/"Connected"/"Used by others", as the port list shows them.
const char* PortStateText(PortState state);
const char* PortPhoneText(PortState state);

}  // namespace zolt
