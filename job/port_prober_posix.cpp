// POSIX: the machine's serial devices. USB and ACM adapters under their stable by-id names
// where udev provides them, then the kernel names that no by-id name covers, then on-board
// UARTs that really exist (the kernel lists ttyS0..31 whether or not there is hardware).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "job/port_list.h"
#include "link/serial_port.h"

namespace zolt {

namespace {
namespace fs = std::filesystem;

std::vector<std::string> Sorted(const fs::path& dir, const std::string& prefix) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool UartPresent(const std::string& device) {
    // /sys/class/tty/ttyS3/type is 0 for a port without a UART behind it.
    std::ifstream type("/sys/class/tty/" + fs::path(device).filename().string() + "/type");
    int value = 0;
    return type >> value && value != 0;
}

class DeviceProber : public PortProber {
public:
    std::vector<std::string> Candidates() override {
        std::vector<std::string> devices;
        std::set<std::string> covered;
        std::error_code ec;
        for (const auto& link : Sorted("/dev/serial/by-id", "")) {
            devices.push_back(link);
            covered.insert(fs::canonical(link, ec).string());
        }
        for (const char* prefix : {"ttyUSB", "ttyACM"}) {
            for (const auto& dev : Sorted("/dev", prefix)) {
                if (!covered.count(dev)) devices.push_back(dev);
            }
        }
        for (const auto& dev : Sorted("/dev", "ttyS")) {
            if (UartPresent(dev)) devices.push_back(dev);
        }
        return devices;
    }
    PortState Probe(const std::string& device) override { return ProbeByOpening(device); }
    PortEntry Describe(const std::string& device) override {
        PortEntry entry;
        entry.name = device;
        entry.device = device;
        return entry;
    }
};
}  // namespace

std::unique_ptr<PortProber> PortProber::Standard() { return std::make_unique<DeviceProber>(); }

}  // namespace zolt
