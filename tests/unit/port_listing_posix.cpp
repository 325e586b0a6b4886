// `zolt ports` from a made-up /dev and /sys: which devices are listed, in which order, and
// what the operator is shown to tell them apart and to name them in `zolt run --port`.
#include <gtest/gtest.h>

#include "cli/port_listing.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

namespace fs = std::filesystem;

struct FakePort {
    const char* tty;
    const char* interfaceDir;  // below sys/devices; the tty's "device" link points here
    const char* usbDir;        // the USB device above it with the ids; empty for none
    const char* ids[5];        // idVendor, idProduct, manufacturer, product, serial
    const char* byId;
    const char* byPath;
};

const FakePort PORTS[] = {
    // A usb-serial adapter: the tty lies one folder below the interface.
    {"ttyUSB10", "pci0/usb1/1-4/1-4:1.0/ttyUSB10", "pci0/usb1/1-4", {"067b", "2303", "Prolific", "USB-Serial", ""},
     "", "pci-0000:00:14.0-usb-0:4:1.0-port0"},
    {"ttyUSB2", "pci0/usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB2", "pci0/usb1/1-1/1-1.2",
     {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"}, "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
     "pci-0000:00:14.0-usb-0:1.2:1.0-port0"},
    // A phone's own ACM port: the interface itself is the tty's device.
    {"ttyACM0", "pci0/usb1/1-3/1-3:1.0", "pci0/usb1/1-3", {"05c6", "9002", "Qualcomm", "CDMA Phone", "0001"},
     "usb-Qualcomm_CDMA_Phone_0001-if00", "pci-0000:00:14.0-usb-0:3:1.0"},
    // An on-board UART: no USB device above it.
    {"ttyS0", "pnp0/00:01", "", {}, "", ""},
};

class FakeMachine {
public:
    FakeMachine() {
        roots.dev = (dir.path() / "dev").string();
        roots.sys = (dir.path() / "sys").string();
        for (const FakePort& p : PORTS) Add(p);
        // The kernel lists a ttyS1 without a UART behind it.
        dir.Write("dev/ttyS1", "");
        dir.Write("sys/class/tty/ttyS1/type", "0\n");
        dir.Write("sys/class/tty/ttyS0/type", "4\n");
    }
    std::string Dev(const std::string& name) const { return roots.dev + "/" + name; }

    test::TempDir dir;
    PortRoots roots;

private:
    void Add(const FakePort& p) {
        dir.Write(std::string("dev/") + p.tty, "");
        const fs::path iface = dir.path() / "sys/devices" / p.interfaceDir;
        fs::create_directories(iface);
        fs::create_directories(dir.path() / "sys/class/tty" / p.tty);
        fs::create_directory_symlink(iface, dir.path() / "sys/class/tty" / p.tty / "device");
        const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
        for (int k = 0; k < 5 && *p.usbDir; ++k) {
            if (*p.ids[k]) dir.Write(std::string("sys/devices/") + p.usbDir + "/" + names[k], std::string(p.ids[k]) + "\n");
        }
        for (auto [folder, name] : {std::pair{"by-id", p.byId}, std::pair{"by-path", p.byPath}}) {
            if (!*name) continue;
            fs::create_directories(dir.path() / "dev/serial" / folder);
            fs::create_symlink(std::string("../../") + p.tty, dir.path() / "dev/serial" / folder / name);
        }
    }
};

TEST(PortListing, ListsEachDeviceOnceInKernelOrderWithItsStableNamesAndUsbIdentity) {
    FakeMachine machine;
    const auto prober = PortProber::Standard(machine.roots);
    EXPECT_EQ(prober->Candidates(), (std::vector<std::string>{machine.Dev("ttyUSB2"), machine.Dev("ttyUSB10"),
                                                               machine.Dev("ttyACM0"), machine.Dev("ttyS0")}));
    for (const FakePort& p : PORTS) {
        SCOPED_TRACE(p.tty);
        const PortIdentity id = prober->Describe(machine.Dev(p.tty)).identity;
        EXPECT_EQ(id.vendorId, p.ids[0] ? p.ids[0] : "");
        EXPECT_EQ(id.productId, p.ids[1] ? p.ids[1] : "");
        EXPECT_EQ(id.serial, p.ids[4] ? p.ids[4] : "");
        EXPECT_EQ(id.byId.size(), *p.byId ? 1u : 0u);
        EXPECT_EQ(id.byPath, *p.byPath ? std::vector<std::string>{machine.Dev("serial/by-path/") + p.byPath}
                                       : std::vector<std::string>{});
        // `zolt run --port` takes the stable names for the device.
        if (*p.byPath) {
            EXPECT_EQ(PortDeviceOf(id.byPath.front()), machine.Dev(p.tty));
        }
    }
    PortEntry row = prober->Describe(machine.Dev("ttyUSB2"));
    const std::string listing = cli::FormatPortList({row});
    EXPECT_NE(listing.find("USB 0403:6001  FTDI  FT232R USB UART  serial A50285BI"), std::string::npos) << listing;
    EXPECT_NE(listing.find("    by-path  " + machine.Dev("serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0")),
              std::string::npos);
    // A port the user may not open is not "Used by others": the operator learns the fix.
    row.state = PORT_USED_BY_OTHERS;
    row.permissionDenied = true;
    row.deviceGroup = "uucp";
    const std::string denied = cli::FormatPortList({row});
    EXPECT_NE(denied.find("No permission"), std::string::npos) << denied;
    EXPECT_NE(denied.find(": permission denied: add yourself to the uucp group (sudo usermod -aG uucp $USER, then "
                          "log in again)"),
              std::string::npos)
        << denied;
}

}  // namespace
}  // namespace zolt
