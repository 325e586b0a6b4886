// A port prober over a made-up machine: devices and what opening each would give.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "job/port_list.h"
#include "link/serial_port.h"

namespace zolt::test {

class FakeProber : public PortProber {
public:
    std::vector<std::string> candidates;
    std::map<std::string, PortState> states;  // missing: absent
    std::vector<std::string> probed;

    std::vector<std::string> Candidates() override { return candidates; }
    PortState Probe(const std::string& device) override {
        probed.push_back(device);
        auto it = states.find(device);
        return it == states.end() ? PORT_ABSENT : it->second;
    }
    PortEntry Describe(const std::string& device) override {
        PortEntry e;
        e.portNumber = ComPortNumber(device);
        e.name = e.portNumber ? "Com" + std::to_string(e.portNumber) : device;
        e.device = device;
        return e;
    }
};

}  // namespace zolt::test
