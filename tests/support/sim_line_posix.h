// A tool's line opened on a simulated phone over a real pseudo-terminal, with short timings.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "link/link_session.h"
#include "support/short_timing.h"
#include "sim/sim_phone.h"

namespace zolt::test {

using namespace std::chrono_literals;

// A phone for short timings: it enters its boot loader on a probe gap of 30 ms, well above
// the file-system handshake's 5 ms and below the boot-loader handshake's 60 ms; it takes no
// time of its own, and is back from a reset at once. (A phone dates what it reads by when it
// read it: on a busy machine the tool's first frames after a reset could seem to come while
// a restarting phone is still deaf, which only the tests of the restart itself may risk.)
inline sim::PhoneOptions TestPhoneOptions() {
    sim::PhoneOptions o;
    o.bootGap = Millis(30);
    o.replyDelay = o.blockTime = o.eraseTime = Millis(0);
    o.restartTime = Millis(0);
    return o;
}

// Set ZOLT_SIM_TRACE in the environment to see the phones' traces on standard error.
inline std::shared_ptr<sim::TraceSink> TestTrace() {
    static std::shared_ptr<sim::TraceSink> trace =
        std::getenv("ZOLT_SIM_TRACE") ? std::make_shared<sim::TraceSink>(std::cerr) : nullptr;
    return trace;
}

struct SimLine {
    explicit SimLine(const sim::PhoneOptions& options = TestPhoneOptions(),
                     const sim::LineSetup& line = {}, bool start = true)
        : phone(sim::SimPhone::Create(options, line, 1, TestTrace())) {
        session.timing = ShortTiming();
        if (start) Start();
    }
    // Starts the phone and opens the tool's line on it.
    void Start() {
        phone->Start();
        EXPECT_EQ(session.OpenLink(phone->Path(), 115200), LINK_OPENED);
    }
    // Waits until the phone's state satisfies `condition`.
    bool PhoneReaches(const std::function<bool(const sim::PhoneState&)>& condition,
                      Millis limit = Millis(2000)) {
        return phone->WaitUntil([&](const sim::PhoneCore& p) { return condition(p.State()); }, limit);
    }
    template <class F>
    auto Phone(F&& look) {
        return phone->Inspect([&](const sim::PhoneCore& p) { return look(p.State()); });
    }

    std::unique_ptr<sim::SimPhone> phone;
    LinkSession session;
};

}  // namespace zolt::test
