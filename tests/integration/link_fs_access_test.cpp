// The tool's file-system handshake and release against a simulated phone over a real
// pseudo-terminal.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "sim/message_ids.h"
#include "support/sim_line_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneMode;
using sim::PhoneState;
using test::SimLine;

TEST(LinkFsAccess, BackupAndRestoreHandshakesSucceedWithTheirOwnWording) {
    SimLine line;
    EXPECT_EQ(line.session.WaitForFs(FS_BACKUP), RESULT_OK);
    EXPECT_EQ(line.session.statusText.Get(), "Backup wait for success.");
    EXPECT_TRUE(line.Phone([](const PhoneState& s) { return s.fsAccessOpen; }));
    EXPECT_EQ(line.session.WaitForFs(FS_RESTORE), RESULT_OK);
    EXPECT_EQ(line.session.statusText.Get(), "Restore wait for success.");

    // Three probes each time and the access request (again, should its reply have come in the
    // same read as a late echo, which the tool's receiver then loses); the phone never left
    // its firmware.
    EXPECT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.Count(sim::ID_LOOPBACK) == 6; }));
    line.Phone([](const PhoneState& s) {
        EXPECT_GE(s.Count(sim::ID_SIDB_WRITE), 2u);
        EXPECT_EQ(s.mode, PhoneMode::Firmware);
        EXPECT_EQ(s.framesDropped, 0u);
    });
}

TEST(LinkFsAccess, ReleaseReachesThePhoneAsTwoMessagesInOrder) {
    SimLine line;
    ASSERT_EQ(line.session.WaitForFs(FS_BACKUP), RESULT_OK);
    EXPECT_GT(line.session.FinishFsAccess(), 0);
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.Count(sim::ID_RELEASE_SECOND) == 1; }));
    line.Phone([](const PhoneState& s) {
        EXPECT_EQ(s.Count(sim::ID_RELEASE_FIRST), 1u);
        ASSERT_GE(s.recent.size(), 2u);
        EXPECT_EQ(s.recent[s.recent.size() - 2], (std::vector<std::uint8_t>{0xF3, 0x03}));
        EXPECT_EQ(s.recent.back(), (std::vector<std::uint8_t>{0xCE, 0x00, 0x00}));
        EXPECT_FALSE(s.fsAccessOpen);
    });
}

TEST(LinkFsAccess, AnswerOfAnotherLengthToTheProbeMakesTheToolProbeAgain) {
    SimLine line(test::TestPhoneOptions(), {}, false);
    std::atomic<int> probes{0};
    // Answers the first three probes (the tool's opening burst) with a frame of L = 2.
    line.phone->Handlers().On(PhoneMode::Firmware, sim::ID_LOOPBACK,
                              [&](sim::PhoneContext& p, const sim::Request& r) {
                                  const std::vector<std::uint8_t> other = {0x00, 0x00};
                                  if (++probes <= 3) {
                                      p.Reply(other);
                                  } else {
                                      p.Reply(r.body);
                                  }
                                  return true;
                              });
    line.Start();
    EXPECT_EQ(line.session.WaitForFs(FS_BACKUP), RESULT_OK);
    EXPECT_GE(probes.load(), 4);
}

// A phone whose firmware takes probes without a word.
void SilenceProbes(SimLine& line) {
    line.phone->Handlers().On(PhoneMode::Firmware, sim::ID_LOOPBACK,
                              [](sim::PhoneContext&, const sim::Request&) { return true; });
    line.Start();
}

TEST(LinkFsAccess, StopEndsAHandshakeWithASilentPhoneAtOnce) {
    SimLine line(test::TestPhoneOptions(), {}, false);
    SilenceProbes(line);

    std::atomic<bool> stopped{false};
    std::thread worker([&] {
        try {
            (void)line.session.WaitForFs(FS_BACKUP);
        } catch (const LineStopped&) {
            stopped = true;
        }
    });
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.Count(sim::ID_LOOPBACK) == 3; }));
    std::this_thread::sleep_for(20ms);  // well inside a receive now
    const auto raisedAt = std::chrono::steady_clock::now();
    line.session.stop.Raise();
    worker.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_LT(std::chrono::steady_clock::now() - raisedAt, 100ms);
}

TEST(LinkFsAccess, WaitingOnASilentPhoneCostsAlmostNoProcessorTime) {
    SimLine line(test::TestPhoneOptions(), {}, false);
    SilenceProbes(line);
    line.session.timing.receiveFrameLimit = 1000ms;

    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(line.session.ReceiveFrame(RECEIVE_POLL), 0);
    const auto wall = std::chrono::steady_clock::now() - start;
    getrusage(RUSAGE_THREAD, &after);

    auto micros = [](const timeval& t) { return t.tv_sec * 1000000.0 + t.tv_usec; };
    const double cpu = micros(after.ru_utime) - micros(before.ru_utime) + micros(after.ru_stime) -
                       micros(before.ru_stime);
    const double share = cpu / std::chrono::duration<double, std::micro>(wall).count();
    RecordProperty("cpu_share_percent", std::to_string(share * 100));
    std::printf("receive wait of %.0f ms took %.0f us of CPU (%.3f%% of a core)\n",
                std::chrono::duration<double, std::milli>(wall).count(), cpu, share * 100);
    // Not a benchmark: a spinning wait would take the whole core.
    EXPECT_LT(share, 0.25);
}

}  // namespace
}  // namespace zolt
