// POSIX: the machine's serial devices by their kernel names: USB and ACM adapters, anything
// else that udev gave a stable name, then on-board UARTs that really exist (the kernel lists
// ttyS0..31 whether or not there is hardware). What identifies each device comes from the
// udev links under /dev/serial and from sysfs, read as plain files: no libudev.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include "job/port_list.h"
#include "link/serial_port.h"

namespace zolt {

namespace {
namespace fs = std::filesystem;

// ttyUSB2 before ttyUSB10: the kernel's numbers, not the characters, give the order.
bool KernelOrder(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
        const std::string number = s.substr(digits);
        return std::make_pair(s.substr(0, digits), number.empty() || number.size() > 9 ? -1 : std::stoi(number));
    };
    return split(a) < split(b);
}

std::vector<std::string> Listed(const fs::path& dir, const std::string& prefix) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end(), KernelOrder);
    return found;
}

std::string Canonical(const fs::path& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? std::string() : real.string();
}

// A sysfs attribute without its line feed; empty when absent.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
    return value;
}

class DeviceProber : public PortProber {
public:
    explicit DeviceProber(PortRoots roots) : roots_(std::move(roots)) {}

    std::vector<std::string> Candidates() override {
        std::vector<std::string> devices;
        std::set<std::string> seen;
        auto add = [&](const std::string& device) {
            if (seen.insert(Canonical(device)).second) devices.push_back(device);
        };
        for (const char* prefix : {"ttyUSB", "ttyACM"}) {
            for (const auto& dev : Listed(roots_.dev, prefix)) add(dev);
        }
        // Adapters of other drivers (ttyAMA, rfcomm, ...) that udev recognised as serial.
        for (const auto& link : Listed(fs::path(roots_.dev) / "serial" / "by-id", "")) {
            const std::string target = Canonical(link);
            if (!target.empty()) add(target);
        }
        for (const auto& dev : Listed(roots_.dev, "ttyS")) {
            if (UartPresent(dev)) add(dev);
        }
        return devices;
    }

    PortState Probe(const std::string& device) override { return ProbeByOpening(device); }

    PortEntry Describe(const std::string& device) override {
        PortEntry entry;
        entry.name = device;
        entry.device = device;
        entry.identity = Identify(device);
        // Only a refusal by mode and group is the user's to fix; a port held by another
        // program opens fine for access().
        entry.permissionDenied = access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
        struct stat node {};
        if (stat(device.c_str(), &node) == 0) {
            if (const group* owner = getgrgid(node.st_gid)) entry.deviceGroup = owner->gr_name;
        }
        return entry;
    }

private:
    fs::path TtyFolder(const std::string& device) const {
        return fs::path(roots_.sys) / "class" / "tty" / fs::path(device).filename();
    }

    bool UartPresent(const std::string& device) const {
        // The type of a port without a UART behind it is 0.
        std::ifstream type(TtyFolder(device) / "type");
        int value = 0;
        return type >> value && value != 0;
    }

    PortIdentity Identify(const std::string& device) const {
        PortIdentity id;
        const std::string real = Canonical(device);
        for (auto [folder, names] : {std::pair{"by-id", &id.byId}, std::pair{"by-path", &id.byPath}}) {
            for (const auto& link : Listed(fs::path(roots_.dev) / "serial" / folder, "")) {
                if (!real.empty() && Canonical(link) == real) names->push_back(link);
            }
        }
        // The tty's device is the USB interface (or a port below it); the ids are on the USB
        // device above. Walk up, but never out of sysfs.
        const std::string sysRoot = Canonical(roots_.sys);
        std::string at = Canonical(TtyFolder(device) / "device");
        for (int depth = 0; !at.empty() && depth < 4 && at.size() > sysRoot.size(); ++depth) {
            if (fs::exists(fs::path(at) / "idVendor")) {
                id.vendorId = Attribute(fs::path(at) / "idVendor");
                id.productId = Attribute(fs::path(at) / "idProduct");
                id.manufacturer = Attribute(fs::path(at) / "manufacturer");
                id.product = Attribute(fs::path(at) / "product");
                id.serial = Attribute(fs::path(at) / "serial");
                break;
            }
            at = fs::path(at).parent_path().string();
        }
        return id;
    }

    PortRoots roots_;
};
}  // namespace

std::unique_ptr<PortProber> PortProber::Standard(const PortRoots& roots) {
    return std::make_unique<DeviceProber>(roots);
}

std::string PortDeviceOf(const std::string& name) {
    std::error_code ec;
    if (!fs::is_symlink(name, ec)) return name;
    const std::string real = Canonical(name);
    return real.empty() ? name : real;
}

}  // namespace zolt
