// Driving a simulated phone's core without a line: frames in at chosen times, replies out.
#pragma once

#include <gtest/gtest.h>

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

    // No wire and no phone time: every reply is due the moment its request is in.
    static sim::PhoneOptions NoWire() {
        sim::PhoneOptions o;
        o.wireTime = false;
        o.replyDelay = o.blockTime = o.eraseTime = o.restartTime = Millis(0);
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
    // The body of each reply.
    static std::vector<SimBytes> Bodies(const std::vector<sim::Outgoing>& replies) {
        std::vector<SimBytes> b;
        for (const auto& r : replies) b.emplace_back(r.plain.begin() + 3, r.plain.end() - 1);
        return b;
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

// A request to a phone, when it comes after the start, the bodies of the replies it brings,
// and, when given, when each of them is due after the start.
struct SimStep {
    SimBytes body;
    std::chrono::milliseconds at{};
    std::vector<SimBytes> replies;
    std::vector<std::chrono::milliseconds> due{};
};
inline void ExpectReplies(CoreDriver& phone, const std::vector<SimStep>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto out = phone.Send(steps[i].body, steps[i].at);
        EXPECT_EQ(CoreDriver::Bodies(out), steps[i].replies) << "step " << i;
        if (steps[i].due.empty()) continue;
        std::vector<std::chrono::milliseconds> due{};
        for (const auto& r : out) {
            due.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(r.notBefore - phone.start));
        }
        EXPECT_EQ(due, steps[i].due) << "step " << i;
    }
}

inline SimBytes Le32Bytes(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// The tool's flash requests and the phone's reply, as bodies.
inline SimBytes EraseRequest(int type, std::uint32_t block = 1) {
    SimBytes b = {0xB2, 0x04};
    const SimBytes n = Le32Bytes(block);
    b.insert(b.end(), n.begin(), n.end());
    b.insert(b.end(), {0x00, static_cast<std::uint8_t>(type), 0, 0, 0, 0});
    return b;
}
inline SimBytes WriteRequest(std::uint32_t block, int type, const SimBytes& data, int sumDelta = 0) {
    std::uint16_t sum = 0;
    for (std::uint8_t d : data) sum = static_cast<std::uint16_t>(sum + d);
    sum = static_cast<std::uint16_t>(sum + sumDelta);
    SimBytes b = {0xB2, 0x04};
    const SimBytes n = Le32Bytes(block);
    b.insert(b.end(), n.begin(), n.end());
    b.insert(b.end(), {0x01, static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(sum),
                       static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(data.size()),
                       static_cast<std::uint8_t>(data.size() >> 8)});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}
inline SimBytes FlashReply(std::uint32_t block, std::uint8_t status) {
    SimBytes b = {0xB2, 0x04};
    const SimBytes n = Le32Bytes(block);
    b.insert(b.end(), n.begin(), n.end());
    b.push_back(status);
    return b;
}
// Section bytes that differ from block to block and from erased flash.
inline SimBytes SectionBytes(std::size_t size, std::uint8_t seed = 1) {
    SimBytes s(size);
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    return s;
}

inline const SimBytes PROBE = {0x00, 0x00, 0x01};
inline const SimBytes BOOT_READY = {0xE0, 0x00};
inline const SimBytes FS_ACCESS = {0xA2, 0x07, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x30};

}  // namespace zolt::test
