// zolt-phone's command line: what each option sets, and what is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "sim/program_options.h"

namespace zolt {
namespace {

using sim::ParseProgramOptions;
using sim::ProgramOptions;

bool Parse(std::vector<std::string> args, ProgramOptions& o, std::string& error) {
    return ParseProgramOptions(args, o, error);
}

TEST(SimProgramOptions, DefaultsAreOnePhoneAtLineSpeedInTheFirmware) {
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(Parse({}, o, error)) << error;
    EXPECT_EQ(o.bank.count, 1);
    EXPECT_EQ(o.phone.baud, 115200);
    EXPECT_TRUE(o.phone.wireTime);
    EXPECT_FALSE(o.phone.startInBootLoader);
    EXPECT_TRUE(o.phone.enterBootOnGap);
    EXPECT_EQ(o.phone.faults.silentAfter, -1);
    EXPECT_EQ(o.phone.pageReadIds, std::vector<std::uint16_t>{17});
    EXPECT_TRUE(o.phone.faults.noiseStartBytes);
    // A phone's own times, inside the tool's limits: the erase below an unlimited wait's
    // patience, a block well below the 250 ms reply limit.
    EXPECT_GT(o.phone.eraseTime.count(), 100);
    EXPECT_LE(o.phone.eraseTime.count(), 1000);
    EXPECT_TRUE(o.phone.blockTime.count() > 0 && o.phone.blockTime.count() < 25);
}

TEST(SimProgramOptions, EveryOptionReachesItsSettingInBothSpellings) {
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--count", "3", "--link=/tmp/a", "--link", "/tmp/b", "--state", "/tmp/s",
                       "--trace=-", "--baud", "57600", "--no-wire-time", "--reply-delay-ms", "2",
                       "--block-time-ms=7", "--erase-time-ms", "90", "--boot-loader", "--boot-gap-ms",
                       "40", "--stay-in-firmware", "--drop-reply", "4", "--drop-reply", "9",
                       "--drop-rate", "0.25", "--corrupt-rate=0.001", "--noise-rate", "1",
                       "--repeat-block", "3", "--skip-block", "5:9", "--silent-after", "0",
                       "--vanish-after", "12", "--seed", "18446744073709551615", "--restart-time-ms", "50",
                       "--page-read-id", "4660", "--page-read-id=18", "--noise-without-start",
                       "--late-rate", "0.5", "--late-by-ms", "300", "--jitter-ms", "20", "--duplicate-rate", "0.1",
                       "--fault", "late:block:3", "--fault=vanish:erase", "--fault", "cut:page:0",
                       "--write-time-ms", "30", "--slow-by-ms", "1600", "--slow-write", "1", "--refuse-write", "2",
                       "--corrupt-write", "3", "--fault", "miswrite:write:0", "--chatter-ms", "250",
                       "--chatter-while-writing", "--erase-reply", "send-block-2"},
                      o, error))
        << error;
    EXPECT_EQ(o.bank.count, 3);
    EXPECT_EQ(o.bank.links, (std::vector<std::string>{"/tmp/a", "/tmp/b"}));
    EXPECT_EQ(o.phone.stateDir, "/tmp/s");
    EXPECT_EQ(o.trace, "-");
    EXPECT_EQ(o.phone.baud, 57600);
    EXPECT_FALSE(o.phone.wireTime);
    EXPECT_EQ(o.phone.replyDelay.count(), 2);
    EXPECT_EQ(o.phone.blockTime.count(), 7);
    EXPECT_EQ(o.phone.eraseTime.count(), 90);
    EXPECT_TRUE(o.phone.startInBootLoader);
    EXPECT_EQ(o.phone.bootGap.count(), 40);
    EXPECT_FALSE(o.phone.enterBootOnGap);
    const auto& f = o.phone.faults;
    EXPECT_EQ(f.dropReplyTo, (std::vector<std::uint64_t>{4, 9}));
    EXPECT_DOUBLE_EQ(f.dropRate, 0.25);
    EXPECT_DOUBLE_EQ(f.corruptRate, 0.001);
    EXPECT_DOUBLE_EQ(f.noiseRate, 1.0);
    EXPECT_EQ(f.repeatBlock, (std::vector<std::uint32_t>{3}));
    ASSERT_EQ(f.skipBlock.size(), 1u);
    EXPECT_EQ(f.skipBlock[0], (std::pair<std::uint32_t, std::uint32_t>{5, 9}));
    EXPECT_EQ(f.silentAfter, 0);
    EXPECT_EQ(f.vanishAfter, 12);
    EXPECT_EQ(f.seed, 18446744073709551615ull);
    EXPECT_EQ(o.phone.restartTime.count(), 50);
    EXPECT_EQ(o.phone.pageReadIds, (std::vector<std::uint16_t>{4660, 18}));
    EXPECT_FALSE(f.noiseStartBytes);
    EXPECT_DOUBLE_EQ(f.lateRate, 0.5);
    EXPECT_EQ(f.lateBy.count(), 300);
    EXPECT_EQ(f.jitter.count(), 20);
    EXPECT_DOUBLE_EQ(f.duplicateRate, 0.1);
    EXPECT_EQ(o.phone.writeTime.count(), 30);
    EXPECT_EQ(f.slowBy.count(), 1600);
    EXPECT_EQ(f.chatterEvery.count(), 250);
    EXPECT_TRUE(f.chatterWhileWriting);
    EXPECT_EQ(f.eraseReply, sim::EraseReply::SendBlock2);
    using sim::FaultAction;
    using sim::RequestKind;
    const auto rule = [](const sim::FaultRule& r) { return std::tuple(r.action, r.target, r.nth); };
    using Rule = decltype(rule(f.rules.at(0)));
    std::vector<Rule> rules;
    for (const auto& r : f.rules) rules.push_back(rule(r));
    EXPECT_EQ(rules, (std::vector<Rule>{{FaultAction::Late, RequestKind::Block, 3},
                                        {FaultAction::Vanish, RequestKind::Erase, 1},
                                        {FaultAction::Cut, RequestKind::PageRead, 0},
                                        {FaultAction::Slow, RequestKind::Write, 1},
                                        {FaultAction::Refuse, RequestKind::Write, 2},
                                        {FaultAction::Miswrite, RequestKind::DbWrite, 3},
                                        {FaultAction::Miswrite, RequestKind::Write, 0}}));
}

TEST(SimProgramOptions, RefusesWhatItCannotUseWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--frobnicate"},
        {"--count"},                  // value missing
        {"--count", "0"},
        {"--count", "65"},
        {"--count", "2x"},
        {"--count", "-1"},
        {"--baud", "12345"},          // not a line speed
        {"--drop-rate", "1.5"},
        {"--drop-rate", "nan"},
        {"--corrupt-rate", ""},
        {"--skip-block", "9:5"},      // must skip ahead
        {"--skip-block", "1:5"},      // block 1 is the erase
        {"--skip-block", "5"},
        {"--repeat-block", "1"},
        {"--fault", "late"},
        {"--fault", "late:nothing"},
        {"--fault", "sing:block"},
        {"--fault", "late:block:x"},
        {"--page-read-id", "65536"},
        {"--block-time-ms", "600000"},
        {"--help=yes"},
        {"--link", "/tmp/a", "--link", "/tmp/b"},  // more links than phones
        {"--device", "/dev/ttyS0", "--count", "2"},
        {"--device", "/dev/ttyS0", "--link", "/tmp/a"},
        {"count", "2"},
        {"--refuse-write", "0"},
        {"--chatter-ms", "0"},
        {"--chatter-while-writing"},  // without a period
        {"--erase-reply", "status-1"},
        {"--detach", "silent"},        // a day's option without a day
        {"--day-exit"},
        {"--day-phones", "2"},         // a day needs its lines
        {"--day-phones", "0", "--link", "/tmp/a"},
        {"--day-phones", "100", "--link", "/tmp/a"},
        {"--day-phones", "2", "--link", "/tmp/a", "--count", "2"},
        {"--day-phones", "2", "--device", "/dev/ttyS0"},
        {"--day-phones", "2", "--link", "/tmp/a", "--arrive-ms", "20-10"},
        {"--day-phones", "2", "--link", "/tmp/a", "--stay-ms", "5-"},
        {"--day-phones", "2", "--link", "/tmp/a", "--detach", "sometimes"},
    };
    for (const auto& args : bad) {
        ProgramOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

}  // namespace
}  // namespace zolt

namespace zolt {
namespace {

// A day's options reach its plan, and the plan's random choices stay within their bounds and
// come again with the same seed.
TEST(SimProgramOptions, ADayPlansEveryLinesPhonesFromTheSeed) {
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--day-phones", "3", "--link", "/tmp/a", "--link=/tmp/b", "--arrive-ms", "10-20",
                       "--stay-ms=5", "--detach", "mixed", "--day-exit", "--seed", "7"},
                      o, error))
        << error;
    EXPECT_EQ(o.day.phones, 3);
    EXPECT_TRUE(o.day.exitWhenOver);
    EXPECT_EQ(o.day.detach, sim::DayDetach::Mixed);
    const auto plan = sim::PlanDay(o.day, o.bank.links, o.phone.faults.seed);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[1].link, "/tmp/b");
    std::vector<long> arrivals;
    int silent = 0;
    for (const auto& line : plan) {
        ASSERT_EQ(line.phones.size(), 3u);
        for (const auto& p : line.phones) {
            EXPECT_TRUE(p.arriveAfter >= Millis(10) && p.arriveAfter <= Millis(20)) << p.arriveAfter.count();
            EXPECT_EQ(p.stayFor, Millis(5));
            EXPECT_NE(p.detach, sim::Detach::Stay);
            silent += p.detach == sim::Detach::Silent;
            arrivals.push_back(p.arriveAfter.count());
        }
    }
    EXPECT_TRUE(silent > 0 && silent < 6) << "mixed, not all one way: " << silent;
    EXPECT_NE(std::count(arrivals.begin(), arrivals.end(), arrivals[0]), 6) << "times drawn per phone";
    const auto again = sim::PlanDay(o.day, o.bank.links, 7);
    for (std::size_t i = 0; i < again.size() * 3; ++i) {
        const auto& a = again[i / 3].phones[i % 3];
        const auto& b = plan[i / 3].phones[i % 3];
        EXPECT_TRUE(a.arriveAfter == b.arriveAfter && a.detach == b.detach) << i;
    }

    sim::DayPlan stay;
    stay.phones = 2;
    stay.detach = sim::DayDetach::Stay;
    const auto stays = sim::PlanDay(stay, {"/tmp/a"}, 1);
    for (const auto& p : stays[0].phones) {
        EXPECT_EQ(p.detach, sim::Detach::Stay);
        EXPECT_EQ(p.arriveAfter, Millis(1000));
    }
}

}  // namespace
}  // namespace zolt
