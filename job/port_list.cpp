#include "job/port_list.h"

#include "link/serial_port.h"

namespace zolt {

const char* PortStateText(PortState state) { return state == PORT_USED_BY_OTHERS ? "Disable" : "Enable"; }

const char* PortPhoneText(PortState state) {
    switch (state) {
        case PORT_CONNECTED: return "Connected";
        case PORT_USED_BY_OTHERS: return "Used by others";
        default: return "No Phone";
    }
}

// Shared by both platforms' probers: try to open, close at once.
PortState ProbeByOpening(const std::string& device) {
    SerialPort probePort;
    if (probePort.Open(device, 115200, 8, SERIAL_PARITY_NONE, false, false, false)) {
        probePort.Close();
        return PORT_FREE;
    }
    return probePort.LastError() == SerialError::AccessDenied ? PORT_USED_BY_OTHERS : PORT_ABSENT;
}

}  // namespace zolt
