// The simulated phone's fault options: which replies they lose, damage or precede with
// noise, how they steer the flash blocks, and that a seed replays them exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>

#include "sim/faults.h"
#include "sim/request_kind.h"
#include "support/sim_core_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::CoreDriver;
using test::SimBytes;
using Bodies = std::vector<SimBytes>;

sim::PhoneOptions WithFaults(const sim::FaultOptions& f, bool bootLoader = false) {
    sim::PhoneOptions o = CoreDriver::NoWire();
    o.faults = f;
    o.startInBootLoader = bootLoader;
    return o;
}

// Everything the phone puts on the line for `count` probes, noise included.
SimBytes LineOutput(const sim::FaultOptions& f, int count, int number = 1) {
    CoreDriver phone(WithFaults(f), number);
    SimBytes all;
    for (int i = 0; i < count; ++i) {
        for (const auto& out : phone.Send(test::PROBE, std::chrono::milliseconds(i))) {
            all.insert(all.end(), out.wire.begin(), out.wire.end());
        }
    }
    return all;
}

// Faults counted in frames: named replies lost, silence after N, vanishing after N.
TEST(SimFaults, CountedFaultsActFromTheirFrameOn) {
    const auto replies = [](const sim::FaultOptions& f) {
        CoreDriver phone(WithFaults(f));
        std::vector<std::size_t> counts;
        for (int i = 0; i < 4; ++i) counts.push_back(phone.Send(test::PROBE, std::chrono::milliseconds(i)).size());
        return std::pair(counts, phone.core.Vanishing());
    };
    sim::FaultOptions named, silent, mute, vanish;
    named.dropReplyTo = {2, 4};
    silent.silentAfter = 2;
    mute.silentAfter = 0;
    vanish.vanishAfter = 2;
    using Counts = std::vector<std::size_t>;
    EXPECT_EQ(replies(named), std::pair(Counts{1, 0, 1, 0}, false));
    EXPECT_EQ(replies(silent), std::pair(Counts{1, 1, 0, 0}, false));
    EXPECT_EQ(replies(mute), std::pair(Counts{0, 0, 0, 0}, false));
    EXPECT_EQ(replies(vanish), std::pair(Counts{1, 1, 0, 0}, true));
}

TEST(SimFaults, RatesActOnAboutTheirShareAndNoiseHoldsStartBytesUnlessAskedNot) {
    for (bool startBytes : {true, false}) {
        sim::FaultOptions f;
        f.dropRate = 0.3;
        f.noiseRate = 0.5;
        f.duplicateRate = 0.1;
        f.noiseStartBytes = startBytes;
        CoreDriver phone(WithFaults(f));
        int noise = 0, frames = 0, startsInNoise = 0;
        for (int i = 0; i < 1000; ++i) {
            for (const auto& out : phone.Send(test::PROBE, std::chrono::milliseconds(i))) {
                if (out.plain.empty()) {
                    ++noise;
                    EXPECT_TRUE(out.wire.size() >= 1 && out.wire.size() <= 8);
                    startsInNoise += static_cast<int>(std::count(out.wire.begin(), out.wire.end(), 0xFE));
                } else {
                    ++frames;
                    EXPECT_EQ(out.wire, EncodeFrame(test::PROBE));
                }
            }
        }
        EXPECT_NEAR(frames, 770, 70) << startBytes;  // 700 sent, a tenth of them twice
        EXPECT_NEAR(noise, 350, 60) << startBytes;   // half of the replies that were sent
        EXPECT_EQ(startsInNoise > 0, startBytes);
    }
}

// What a rule does to the second probe, seen in the replies to three probes.
struct RuleCase {
    sim::FaultAction action;
    std::vector<std::size_t> replies;  // to each probe
};

TEST(SimFaults, ARuleActsOnTheNthRequestOfItsKindOnly) {
    const SimBytes echo = EncodeFrame(test::PROBE);
    const std::vector<RuleCase> cases = {
        {sim::FaultAction::Lose, {1, 0, 1}},      {sim::FaultAction::Short, {1, 1, 1}},
        {sim::FaultAction::Cut, {1, 1, 1}},       {sim::FaultAction::Late, {1, 1, 1}},
        {sim::FaultAction::Duplicate, {1, 2, 1}}, {sim::FaultAction::Corrupt, {1, 1, 1}},
        {sim::FaultAction::Silent, {1, 0, 0}},    {sim::FaultAction::Vanish, {1, 0, 0}},
    };
    for (const RuleCase& c : cases) {
        const auto name = sim::FaultActionName(c.action);
        sim::FaultOptions f;
        f.rules = {{c.action, sim::RequestKind::Probe, 2}};
        f.lateBy = 700ms;
        CoreDriver phone(WithFaults(f));
        std::vector<std::size_t> counts;
        std::vector<sim::Outgoing> second;
        for (int i = 0; i < 3; ++i) {
            auto out = phone.Send(test::PROBE, std::chrono::milliseconds(i));
            counts.push_back(out.size());
            if (i == 1) second = out;
        }
        EXPECT_EQ(counts, c.replies) << name;
        EXPECT_EQ(phone.core.Vanishing(), c.action == sim::FaultAction::Vanish) << name;
        if (second.empty()) continue;
        const sim::Outgoing& r = second[0];
        EXPECT_EQ(r.notBefore - phone.start, c.action == sim::FaultAction::Late ? 701ms : 1ms) << name;
        if (c.action == sim::FaultAction::Short) {
            EXPECT_EQ(r.wire, EncodeFrame(SimBytes{0x00, 0x00}));
        }
        if (c.action == sim::FaultAction::Cut) {
            EXPECT_EQ(r.wire, SimBytes(echo.begin(), echo.begin() + 3));
        }
        if (c.action == sim::FaultAction::Corrupt) {
            ASSERT_EQ(r.wire.size(), echo.size());
            EXPECT_EQ(std::inner_product(r.wire.begin(), r.wire.end(), echo.begin(), 0, std::plus<>(),
                                         std::not_equal_to<>()),
                      1);
        }
        if (c.action == sim::FaultAction::Duplicate) {
            EXPECT_EQ(second[1].wire, r.wire);
        }
    }
}

// Which requests of a whole job a rule aimed at each kind reaches: a backup's session, then
// a boot-loader stay.
TEST(SimFaults, RulesTellTheJobsRequestsApartByKind) {
    const SimBytes pageRead = {0x11, 0x00, 1, 4, 0, 0, 2, 0};
    const std::vector<std::pair<SimBytes, std::chrono::milliseconds>> job = {
        {test::PROBE, 0ms},
        {test::FS_ACCESS, 1ms},
        {pageRead, 2ms},
        {{0xA1, 0x07, 18, 0, 3, 0, 1, 0, 0, 0}, 3ms},
        {{0xA2, 0x07, 18, 0, 3, 0, 1, 0, 0, 0, 5}, 4ms},
        {{0xA2, 0x07, 40, 0, 9, 0, 1, 0, 0, 0, 5}, 5ms},
        {{0x30, 0x01, 1, 4, 0, 0, 1, 0, 1, 9}, 6ms},
        {test::PROBE, 1000ms},
        {test::PROBE, 2000ms},
        {test::EraseRequest(1), 2001ms},  // refused before the confirm, but an erase all the same
        {test::WriteRequest(2, 1, test::SectionBytes(10)), 2002ms},
    };
    // The boot-loader handshake's first probe is echoed by the firmware like any other.
    const std::vector<std::pair<sim::RequestKind, std::vector<std::size_t>>> hits = {
        {sim::RequestKind::Probe, {0, 7}},     {sim::RequestKind::Access, {1}},
        {sim::RequestKind::PageRead, {2}},     {sim::RequestKind::SettingRead, {3}},
        {sim::RequestKind::SettingWrite, {4}}, {sim::RequestKind::SidbWrite, {5}},
        {sim::RequestKind::DbWrite, {6}},      {sim::RequestKind::Write, {4, 5, 6}},
        {sim::RequestKind::BootProbe, {8}},
        {sim::RequestKind::Erase, {9}},        {sim::RequestKind::Block, {10}},
    };
    for (const auto& [kind, indexes] : hits) {
        sim::FaultOptions f;
        f.rules = {{sim::FaultAction::Lose, kind, 0}};
        CoreDriver phone(WithFaults(f));
        std::vector<std::size_t> unanswered;
        for (std::size_t i = 0; i < job.size(); ++i) {
            if (phone.Send(job[i].first, job[i].second).empty()) unanswered.push_back(i);
        }
        EXPECT_EQ(unanswered, indexes) << sim::RequestKindName(kind);
    }
}

// Chatter: a frame that answers nothing every period while the firmware runs, queued among
// the replies by its time; or only while a write waits for its answer; never from the boot
// loader.
TEST(SimFaults, ChatterComesEveryPeriodAmongTheReplies) {
    const SimBytes chatter(std::begin(sim::CHATTER_BODY), std::end(sim::CHATTER_BODY));
    const SimBytes accepted = {0xA2, 0x07, 0x00, 0x00};
    const SimBytes write = {0xA2, 0x07, 40, 0, 9, 0, 1, 0, 0, 0, 7};
    sim::FaultOptions always;
    always.chatterEvery = 100ms;
    always.rules = {{sim::FaultAction::Slow, sim::RequestKind::Probe, 1}};
    always.slowBy = 250ms;
    sim::FaultOptions writing;
    writing.chatterEvery = 100ms;
    writing.chatterWhileWriting = true;
    struct Case {
        const char* what;
        sim::PhoneOptions options;
        SimBytes request;
        std::vector<std::pair<SimBytes, std::chrono::milliseconds>> line;  // by 350 ms
        std::optional<std::chrono::milliseconds> next;
    };
    sim::PhoneOptions writeTime = WithFaults(writing);
    writeTime.writeTime = 250ms;
    const std::vector<Case> cases = {
        {"always", WithFaults(always), test::PROBE,
         {{chatter, 100ms}, {chatter, 200ms}, {test::PROBE, 250ms}, {chatter, 300ms}}, 400ms},
        {"while a write waits", writeTime, write, {{chatter, 100ms}, {chatter, 200ms}, {accepted, 250ms}},
         std::nullopt},
        {"boot loader", WithFaults(always, true), test::PROBE, {{test::BOOT_READY, 0ms}}, 400ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreDriver phone(c.options);
        const auto next = [&](std::chrono::milliseconds now) {
            const auto at = phone.core.Chatter(phone.start + now);
            return at ? std::optional(std::chrono::duration_cast<std::chrono::milliseconds>(*at - phone.start))
                      : std::nullopt;
        };
        EXPECT_EQ(next(0ms), c.options.faults.chatterWhileWriting ? std::nullopt : std::optional(100ms));
        if (c.options.faults.chatterWhileWriting) {
            (void)phone.Send(test::PROBE);
            (void)phone.Send(test::FS_ACCESS);
        }
        phone.core.Receive(EncodeFrame(c.request), phone.start);
        EXPECT_EQ(next(350ms), c.next);
        std::vector<std::pair<SimBytes, std::chrono::milliseconds>> line;
        for (const auto& out : phone.Take()) {
            line.emplace_back(SimBytes(out.plain.begin() + 3, out.plain.end() - 1),
                              std::chrono::duration_cast<std::chrono::milliseconds>(out.notBefore - phone.start));
        }
        EXPECT_EQ(line, c.line);
    }
}

TEST(SimFaults, SameSeedReplaysTheFaultsAndAnotherSeedOrPhoneDoesNot) {
    sim::FaultOptions f;
    f.dropRate = 0.2;
    f.corruptRate = 0.05;
    f.noiseRate = 0.2;
    f.seed = 42;
    const SimBytes first = LineOutput(f, 300);
    EXPECT_EQ(LineOutput(f, 300), first);
    EXPECT_NE(LineOutput(f, 300, 2), first);  // the second phone of a bank
    f.seed = 43;
    EXPECT_NE(LineOutput(f, 300), first);

    // A rate left at 0 draws nothing, so it does not shift the others' choices.
    sim::FaultOptions dropOnly;
    dropOnly.dropRate = 0.2;
    dropOnly.seed = 42;
    sim::FaultOptions withZeros = dropOnly;
    withZeros.corruptRate = 0;
    withZeros.noiseRate = 0;
    EXPECT_EQ(LineOutput(dropOnly, 300), LineOutput(withZeros, 300));
}

TEST(SimFaults, RepeatAndSkipSteerTheBlocksOnceEach) {
    sim::FaultOptions f;
    f.repeatBlock = {3};
    f.skipBlock = {{4, 6}};
    CoreDriver phone(WithFaults(f, true));
    phone.Send(test::EraseRequest(1));
    auto block = [](std::uint32_t b) { return test::SectionBytes(350, static_cast<std::uint8_t>(b)); };
    auto write = [&](std::uint32_t b) { return CoreDriver::Bodies(phone.Send(test::WriteRequest(b, 1, block(b)))); };

    EXPECT_EQ(write(2), Bodies{test::FlashReply(2, 0)});
    EXPECT_EQ(write(3), Bodies{test::FlashReply(3, 1)});  // asked for again
    EXPECT_EQ(write(3), Bodies{test::FlashReply(3, 0)});
    EXPECT_EQ(write(4), Bodies{test::FlashReply(6, 1)});  // skip to 6
    EXPECT_EQ(write(6), Bodies{test::FlashReply(6, 0)});
    // Block 4 sent later is written like any earlier block; the faults do not play twice.
    EXPECT_EQ(write(4), Bodies{test::FlashReply(4, 0)});
    EXPECT_EQ(write(3), Bodies{test::FlashReply(3, 0)});

    const auto& area = phone.core.Flash().Area(1);
    ASSERT_EQ(area.size(), 5u * 350);
    EXPECT_EQ(SimBytes(area.begin() + 3 * 350, area.begin() + 4 * 350), SimBytes(350, 0xFF));  // block 5
    EXPECT_EQ(SimBytes(area.begin() + 4 * 350, area.end()), block(6));
}

}  // namespace
}  // namespace zolt
