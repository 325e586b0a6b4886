// Driving a simulated phone's core without a line: frames in at chosen times, replies out.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "link/ets_frame.h"
#include "sim/phone_core.h"

namespace zolt::test {

using SimBytes = std::vector<std::uint8_t>;

// The unescaped frame of a body: FE, length, body, checksum.
inline SimBytes PlainFrame(const SimBytes& body) {
    SimBytes f = {EtsFrame::START, static_cast<std::uint8_t>(body.size() & 0xFF),
                  static_cast<std::uint8_t>(body.size() >> 8)};
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(FrameChecksum(f.data(), static_cast<int>(f.size())));
    return f;
}

struct CoreDriver {
    explicit CoreDriver(sim::PhoneOptions options = NoWire(), int number = 1)
        : core(options, number, nullptr) {}

    static sim::PhoneOptions NoWire() {
        sim::PhoneOptions o;
        o.wireTime = false;
        return o;
    }

    // Sends the body's frame `at` after the start; returns the replies it queued.
    std::vector<sim::Outgoing> Send(const SimBytes& body, std::chrono::milliseconds at = {}) {
        const SimBytes wire = EncodeFrame(body);
        core.Receive(wire, start + at);
        return Take();
    }
    std::vector<sim::Outgoing> Take() {
        std::vector<sim::Outgoing> out(core.Output().begin(), core.Output().end());
        core.Output().clear();
        return out;
    }
    // The wire bytes of each reply.
    static std::vector<SimBytes> Wires(const std::vector<sim::Outgoing>& replies) {
        std::vector<SimBytes> w;
        for (const auto& r : replies) w.push_back(r.wire);
        return w;
    }

    sim::PhoneCore core;
    sim::TimePoint start = sim::Clock::now();
};

inline const SimBytes PROBE = {0x00, 0x00, 0x01};
inline const SimBytes FS_ACCESS = {0xA2, 0x07, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x30};

}  // namespace zolt::test
