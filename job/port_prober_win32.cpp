// Windows: the ports are COM1 to COM50, probed from the top down.
#include <cstdio>

#include "job/port_list.h"
#include "link/serial_port.h"

namespace zolt {

namespace {
class ComPortProber : public PortProber {
public:
    std::vector<std::string> Candidates() override {
        std::vector<std::string> devices;
        for (int n = 50; n >= 1; --n) devices.push_back("COM" + std::to_string(n));
        return devices;
    }
    PortState Probe(const std::string& device) override { return ProbeByOpening(device); }
    PortEntry Describe(const std::string& device) override {
        PortEntry entry;
        entry.portNumber = ComPortNumber(device);
        entry.name = "Com" + std::to_string(entry.portNumber);
        entry.device = device;
        return entry;
    }
};
}  // namespace

std::unique_ptr<PortProber> PortProber::Standard() { return std::make_unique<ComPortProber>(); }

}  // namespace zolt
