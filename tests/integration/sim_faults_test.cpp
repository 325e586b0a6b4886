// The tool's link against a simulated phone that plays faults: lost, damaged and noisy
// replies, steered blocks, silence and a vanishing line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "link/flash.h"
#include "sim/message_ids.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneState;
using test::SimBytes;
using test::SimLine;

sim::PhoneOptions InBootLoader(const sim::FaultOptions& faults) {
    sim::PhoneOptions o = test::TestPhoneOptions();
    o.startInBootLoader = true;
    o.faults = faults;
    return o;
}

SimBytes AreaOf(SimLine& line, int type) {
    return line.phone->Inspect([type](const sim::PhoneCore& p) { return p.Flash().Area(type); });
}

// The block numbers of the write requests the phone received, in order.
std::vector<std::uint32_t> WrittenBlocks(SimLine& line) {
    return line.Phone([](const PhoneState& s) {
        std::vector<std::uint32_t> blocks;
        for (const auto& body : s.recent) {
            if (body.size() > 6 && body[0] == 0xB2 && body[6] == 0x01) blocks.push_back(body[2] | (body[3] << 8));
        }
        return blocks;
    });
}

TEST(SimFaultsLink, SectionArrivesIntactOverALossyNoisyDamagingLine) {
    sim::FaultOptions f;
    f.dropRate = 0.1;
    f.corruptRate = 0.01;
    f.noiseRate = 0.3;
    // The tool waits for ever on a lost erase reply and fails the write on a damaged one:
    // take the first seed that lets the erase reply through, as a phone without a line
    // shows.
    for (f.seed = 1;; ++f.seed) {
        sim::PhoneOptions offline = InBootLoader(f);
        offline.wireTime = false;
        test::CoreDriver probe(offline);
        const auto replies = probe.Send(test::EraseRequest(IMAGE_CP));
        if (!replies.empty() && !replies.back().corrupted) break;
    }
    SimLine line(InBootLoader(f));
    const SimBytes section = test::SectionBytes(30 * 350 - 17, 3);

    ASSERT_EQ(line.session.FlashErase(IMAGE_CP), RESULT_OK);
    ASSERT_EQ(line.session.flashBlock.load(), 2u);
    ASSERT_EQ(line.session.FlashWrite(IMAGE_CP, section), RESULT_OK) << line.session.statusText.Get();
    EXPECT_EQ(AreaOf(line, IMAGE_CP), section);
    line.Phone([](const PhoneState& s) {
        EXPECT_GT(s.repliesLost, 0u);  // the faults did play
        EXPECT_GT(s.Count(sim::ID_FLASH), 31u);
    });
}

TEST(SimFaultsLink, LostReplyMakesTheToolSendTheBlockAgainAndThePhoneTakesIt) {
    sim::FaultOptions f;
    f.dropReplyTo = {3};  // the erase is request 1, block 2 request 2, block 3 request 3
    SimLine line(InBootLoader(f));
    const SimBytes section = test::SectionBytes(4 * 350, 5);
    ASSERT_EQ(line.session.FlashErase(IMAGE_DATA), RESULT_OK);
    ASSERT_EQ(line.session.FlashWrite(IMAGE_DATA, section), RESULT_OK);
    EXPECT_EQ(WrittenBlocks(line), (std::vector<std::uint32_t>{2, 3, 3, 4, 5}));
    EXPECT_EQ(AreaOf(line, IMAGE_DATA), section);
}

TEST(SimFaultsLink, PhoneDecidesTheBlockOrderRepeatingAndSkippingAhead) {
    sim::FaultOptions f;
    f.repeatBlock = {3};
    f.skipBlock = {{4, 6}};
    SimLine line(InBootLoader(f));
    const SimBytes section = test::SectionBytes(6 * 350, 6);
    ASSERT_EQ(line.session.FlashErase(IMAGE_CP), RESULT_OK);
    ASSERT_EQ(line.session.FlashWrite(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(WrittenBlocks(line), (std::vector<std::uint32_t>{2, 3, 3, 4, 6, 7}));

    // What the phone skipped stays erased: the tool trusts the phone's steering.
    SimBytes expected = section;
    std::fill(expected.begin() + 2 * 350, expected.begin() + 4 * 350, sim::FlashStore::ERASED);
    EXPECT_EQ(AreaOf(line, IMAGE_CP), expected);
}

TEST(SimFaultsLink, SilentPhoneCostsTheToolAnAttemptPerTimeOutUntilLinkError) {
    sim::FaultOptions f;
    f.silentAfter = 1;  // answers the erase only
    SimLine line(InBootLoader(f));
    line.session.timing.waitReplyLimit = 5ms;
    line.session.timing.flashAttemptLimit = 10;
    ASSERT_EQ(line.session.FlashErase(IMAGE_CP), RESULT_OK);
    EXPECT_EQ(line.session.FlashWrite(IMAGE_CP, test::SectionBytes(700)), RESULT_FAIL);
    EXPECT_EQ(line.session.statusText.Get(), "Link error!");
    EXPECT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.Count(sim::ID_FLASH) == 11; }));
    EXPECT_EQ(WrittenBlocks(line), std::vector<std::uint32_t>(10, 2));
}

TEST(SimFaultsLink, StopEndsAHandshakeWithAPhoneSilentFromTheStart) {
    sim::FaultOptions f;
    f.silentAfter = 0;
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.faults = f;
    SimLine line(options);
    std::atomic<bool> stopped{false};
    std::thread worker([&] {
        try {
            (void)line.session.WaitForFs(FS_RESTORE);
        } catch (const LineStopped&) {
            stopped = true;
        }
    });
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.framesReceived == 3; }));
    std::this_thread::sleep_for(20ms);
    const auto raised = std::chrono::steady_clock::now();
    line.session.stop.Raise();
    worker.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_LT(std::chrono::steady_clock::now() - raised, 100ms);
    EXPECT_TRUE(line.Phone([](const PhoneState& s) { return s.silent && s.repliesQueued == 0; }));
}

TEST(SimFaultsLink, VanishingPhoneClosesItsLineAfterAnsweringTheNthFrame) {
    namespace fs = std::filesystem;
    const fs::path link = fs::temp_directory_path() / ("zolt-sim-vanish-" + std::to_string(getpid()));
    sim::FaultOptions f;
    f.vanishAfter = 1;
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.faults = f;
    SimLine line(options, {.device = "", .link = link.string()}, false);
    line.phone->Start();
    ASSERT_EQ(line.session.OpenLink(link.string(), 115200), LINK_OPENED);

    line.session.BuildRequest({0x00, 0x00, 0x01});
    ASSERT_GT(line.session.SendFrame(), 0);
    EXPECT_EQ(line.session.ReceiveFrame(RECEIVE_POLL), 7);  // the one answer
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.vanished; }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    // The tool's port is dead now: a receive gives up in its time instead of hanging.
    line.session.timing.receiveFrameLimit = 50ms;
    (void)line.session.SendFrame();
    EXPECT_EQ(line.session.ReceiveFrame(RECEIVE_POLL), 0);
}

}  // namespace
}  // namespace zolt
