// A phone's presence on its line: found by probes that never make up the boot-loader
// handshake, and gone when its port goes away or it stops answering.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/link_session.h"
#include "support/scripted_device.h"
#include "support/scripted_phone.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct PresenceFixture : ::testing::Test {
    LinkSession line;
    test::ScriptedDevice device{line.stop};
    test::ScriptedPhone phone{device, false};
    std::atomic<int> answered{0};  // probes the phone answers before it falls silent; -1: every one

    void SetUp() override {
        line.device = &device;
        line.timing.presenceProbeGap = 10ms;
        line.timing.phoneGoneSilence = 60ms;
        line.timing.portLostLimit = 30ms;
        line.timing.portLostRecheck = 2ms;
        phone.script = [this](const test::Bytes&) -> std::optional<std::vector<test::Bytes>> {
            if (answered < 0) return std::nullopt;
            if (answered == 0) return std::vector<test::Bytes>{};
            --answered;
            return std::nullopt;
        };
    }
};

// A phone in its firmware or in its boot loader is there at the first probe.
TEST_F(PresenceFixture, APhoneInFirmwareOrBootLoaderAnswersAtOnce) {
    for (const bool bootLoader : {false, true}) {
        phone.bootLoader = bootLoader;
        answered = -1;
        EXPECT_EQ(line.WaitForPhone(), Presence::Answers) << bootLoader;
    }
    EXPECT_EQ(phone.requests.size(), 2u);
}

// Nobody there: probes, one per gap and never as far apart as the boot-loader handshake's
// pause, until a phone comes; it is gone once it has not answered for the silence.
TEST_F(PresenceFixture, ProbesComeEveryGapAndASilentPhoneIsGoneAfterTheSilence) {
    answered = 0;
    std::thread arrives([this] {
        std::this_thread::sleep_for(50ms);
        answered = 3;
    });
    EXPECT_EQ(line.WaitForPhone(), Presence::Answers);
    arrives.join();
    const std::size_t before = phone.requests.size();
    const auto start = Clock::now();
    EXPECT_EQ(line.WaitUntilPhoneGone(), Presence::Silent);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, line.timing.phoneGoneSilence);
    // One probe a gap, not a loop of them.
    EXPECT_LE(phone.requests.size() - before, static_cast<std::size_t>(took / line.timing.presenceProbeGap) + 2);
    for (std::size_t k = 1; k < phone.times.size(); ++k) EXPECT_LT(phone.times[k] - phone.times[k - 1], 400ms) << k;
}

// A port that goes away ends both waits at once, whatever the silence.
TEST_F(PresenceFixture, APortThatGoesAwayEndsTheWaits) {
    line.timing.phoneGoneSilence = 10s;
    device.gone = true;
    EXPECT_EQ(line.WaitForPhone(), Presence::PortGone);
    EXPECT_EQ(line.WaitUntilPhoneGone(), Presence::PortGone);
}

TEST_F(PresenceFixture, StopEndsTheWaitForAPhone) {
    answered = 0;
    std::thread stopper([this] {
        std::this_thread::sleep_for(30ms);
        line.stop.Raise();
    });
    EXPECT_THROW((void)line.WaitForPhone(), LineStopped);
    stopper.join();
}

}  // namespace
}  // namespace zolt
