// Windows: the ports are COM1 to COM50, probed from the top down. What identifies the device
// behind a port comes from SetupAPI's Ports class: its friendly name and first hardware id,
// matched to the COM name through the "PortName" value of the device's registry key.
#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <cstdio>

#include "job/port_list.h"
#include "link/serial_port.h"

namespace zolt {

namespace {

// A REG_SZ or REG_MULTI_SZ property as text (the first string of a multi-string).
std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    char buffer[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 2, nullptr)) {
        return {};
    }
    return buffer;
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& info) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const LONG read = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::string(name) : std::string();
}

// The identity of the port present under `device` ("COM7"); empty when SetupAPI does not know
// it (a virtual port of a driver outside the Ports class, or none at all).
PortIdentity Identify(const std::string& device) {
    PortIdentity id;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return id;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        if (lstrcmpiA(PortNameOf(set, info).c_str(), device.c_str()) != 0) continue;
        id.friendlyName = DeviceProperty(set, info, SPDRP_FRIENDLYNAME);
        id.hardwareId = DeviceProperty(set, info, SPDRP_HARDWAREID);
        id.manufacturer = DeviceProperty(set, info, SPDRP_MFG);
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return id;
}

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
        entry.identity = Identify(device);
        return entry;
    }
};
}  // namespace

std::unique_ptr<PortProber> PortProber::Standard(const PortRoots&) { return std::make_unique<ComPortProber>(); }

// COM names are already what a port is opened by.
std::string PortDeviceOf(const std::string& name) { return name; }

}  // namespace zolt
