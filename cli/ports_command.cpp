#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "cli/port_listing.h"
#include "cli/run_options.h"

namespace zolt::cli {

namespace {
const char* const PORTS_USAGE =
    "usage: zolt ports [--port DEVICE]...\n"
    "Probes the machine's serial ports (and any device named) and lists them with the stable\n"
    "names and USB identity of the device behind each. `zolt run --port` takes any of them.\n";

std::string Pad(std::string text, std::size_t width) {
    text.resize(std::max(text.size() + 1, width), ' ');
    return text;
}
}  // namespace

std::string PermissionAdvice(const std::string& group) {
    const std::string g = group.empty() ? "dialout" : group;
    return "permission denied: add yourself to the " + g + " group (sudo usermod -aG " + g +
           " $USER, then log in again)";
}

std::string FormatPortList(const std::vector<PortEntry>& rows) {
    if (rows.empty()) return "(no serial port found)\n";
    std::string out = Pad("Port", 25) + Pad("State", 9) + Pad("Phone", 16) + Pad("Baud", 8) + "Device\n";
    std::string advice;
    for (const PortEntry& row : rows) {
        const PortIdentity& id = row.identity;
        // The Windows program's words for a port held by another program stay; a port the
        // user may not open at all is a different problem with a different fix.
        const std::string phone = row.permissionDenied ? "No permission" : PortPhoneText(row.state);
        std::string device;
        if (!id.vendorId.empty()) device = "USB " + id.vendorId + ":" + id.productId;
        for (const std::string* part : {&id.manufacturer, &id.product, &id.friendlyName}) {
            if (!part->empty()) device += (device.empty() ? "" : "  ") + *part;
        }
        if (!id.serial.empty()) device += "  serial " + id.serial;
        out += Pad(row.name, 25) + Pad(PortStateText(row.state), 9) + Pad(phone, 16) +
               Pad(std::to_string(row.baud), 8) + device + "\n";
        for (const auto& name : id.byId) out += "    by-id    " + name + "\n";
        for (const auto& name : id.byPath) out += "    by-path  " + name + "\n";
        if (!id.hardwareId.empty()) out += "    hardware " + id.hardwareId + "\n";
        if (row.permissionDenied) advice += row.device + ": " + PermissionAdvice(row.deviceGroup) + "\n";
    }
    return out + (advice.empty() ? "" : "\n" + advice);
}

int PortsCommand(const std::vector<std::string>& args) {
    std::vector<std::string> named;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(PORTS_USAGE, stdout);
            return EXIT_OK;
        }
        if (args[i] == "--port" && i + 1 < args.size()) {
            named.push_back(args[++i]);
            continue;
        }
        std::fprintf(stderr, "zolt ports: unknown or incomplete option %s\n%s", args[i].c_str(), PORTS_USAGE);
        return EXIT_USAGE;
    }
    // Probing needs no job: nothing else (no catalogue, no configuration) is read.
    const auto prober = PortProber::Standard();
    std::vector<std::string> devices = prober->Candidates();
    std::vector<std::string> namedDevices;
    for (const auto& name : named) {
        namedDevices.push_back(PortDeviceOf(name));
        if (std::find(devices.begin(), devices.end(), namedDevices.back()) == devices.end()) {
            devices.push_back(namedDevices.back());
        }
    }
    std::vector<PortEntry> rows;
    for (const auto& device : devices) {
        const PortState state = prober->Probe(device);
        PortEntry row = prober->Describe(device);
        row.state = state;
        if (state == PORT_ABSENT) {
            const auto it = std::find(namedDevices.begin(), namedDevices.end(), device);
            if (it != namedDevices.end()) {
                std::fprintf(stderr, "zolt: port %s does not exist\n", named[it - namedDevices.begin()].c_str());
            }
            continue;
        }
        rows.push_back(row);
    }
    std::fputs(FormatPortList(rows).c_str(), stdout);
    return EXIT_OK;
}

}  // namespace zolt::cli
