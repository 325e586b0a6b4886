// A station's day played by the simulator, against a small station made of the link's own
// presence waits: phones come, are worked on once, and go the way the day says.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/link_session.h"
#include "sim/station_day.h"
#include "support/short_timing.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::DayLine;
using sim::DayPhone;
using sim::Detach;

// A job is over after presence probes alone, enough of them over long enough; a handshake's
// probes inside a job never end it, and the next request after the end is another job.
TEST(SimStationDay, AJobIsOverAfterEnoughProbesOverLongEnough) {
    const test::SimBytes probe = {0x00, 0x00, 0x01};
    const test::SimBytes request = {0xF3, 0x03};
    struct Case {
        const char* name;
        std::vector<std::pair<bool, int>> frames;  // (a probe?, ms after the start)
        std::uint64_t jobs;
        bool over;
    };
    const std::vector<Case> cases = {
        {"probes alone are no job", {{true, 0}, {true, 200}, {true, 400}, {true, 600}, {true, 900}}, 0, false},
        {"four probes in 600 ms", {{false, 0}, {true, 100}, {true, 300}, {true, 500}, {true, 700}}, 1, false},
        {"three probes in a second", {{false, 0}, {true, 100}, {true, 550}, {true, 1000}}, 1, false},
        {"five probes over 800 ms", {{false, 0}, {true, 100}, {true, 300}, {true, 500}, {true, 700}, {true, 900}}, 1, true},
        {"a request restarts the count",
         {{false, 0}, {true, 100}, {true, 400}, {true, 700}, {false, 800}, {true, 900}, {true, 1200}}, 1, false},
        {"the next request is a second job",
         {{false, 0}, {true, 100}, {true, 400}, {true, 700}, {true, 900}, {false, 1000}}, 2, false},
    };
    for (const Case& c : cases) {
        test::CoreDriver phone;
        for (const auto& [isProbe, at] : c.frames) phone.Send(isProbe ? probe : request, Millis(at));
        EXPECT_EQ(phone.core.State().jobs, c.jobs) << c.name;
        EXPECT_EQ(phone.core.State().JobOver(), c.over) << c.name;
    }
}

// One line of the station: opens its port when there is one, and for each phone waits for
// it, does a job (the file-system handshake and its release), and waits until it is gone.
struct ToolLine {
    LinkSession session;
    std::vector<Presence> gone;  // how each phone that left was seen to go
    bool firstOpenWorked = false;
    bool reopenedWhileGone = false;
    int lostWhileWaiting = 0;  // ports that went before a phone answered on them

    explicit ToolLine() {
        session.timing = test::ShortTiming();
        session.timing.presenceProbeGap = 100ms;
        session.timing.phoneGoneSilence = 200ms;
        session.timing.portLostLimit = 30ms;
        session.timing.portLostRecheck = 5ms;
        session.port.SetTiming(session.timing);
    }

    // Until the port opens, or opens again by its name after it went.
    void Attach(const std::string& link) {
        while (session.IsAttached() ? !session.ReopenLostLink() : session.OpenLink(link, 115200) != LINK_OPENED) {
            if (session.stop.WaitFor(10ms)) throw LineStopped{};
        }
    }

    void Run(const std::string& link, const std::vector<DayPhone>& phones) {
        firstOpenWorked = session.OpenLink(link, 115200) == LINK_OPENED;
        for (const DayPhone& phone : phones) {
            Attach(link);
            while (session.WaitForPhone() != Presence::Answers) {
                ++lostWhileWaiting;
                Attach(link);
            }
            ASSERT_EQ(session.WaitForFs(FS_BACKUP), RESULT_OK);
            session.FinishFsAccess();
            if (phone.detach == Detach::Stay) {
                // Looked at for a while after its job, as a station waiting for it to go.
                for (const Deadline watch(1000ms); !watch.Passed();) EXPECT_EQ(session.ProbePresence(), Presence::Answers);
                return;
            }
            gone.push_back(session.WaitUntilPhoneGone());
            // Its link is gone with it until the next phone comes.
            if (gone.back() == Presence::PortGone) reopenedWhileGone = reopenedWhileGone || session.ReopenLostLink();
        }
    }
};

// Phones come and go on four lines at once: a fixed port where one phone after another falls
// silent, a cable pulled and then a fixed port, the other way round, and a phone that stays.
// Each is worked on once, as a new phone, and leaves the way the station can see.
TEST(SimStationDay, EveryPhoneComesIsWorkedOnOnceAndGoesAsTheStationSeesIt) {
    test::TempDir dir;
    struct LineCase {
        std::vector<DayPhone> phones;
        std::vector<Presence> seen;
        bool portAtStart;  // a fixed port, there before its first phone
        int lostWhileWaiting;  // a fixed port goes only for a phone that brings its own
    };
    // The next phone comes after the station has seen the last go: no swap goes unnoticed.
    const Millis afterSilence = 600ms;
    const std::vector<LineCase> cases = {
        {{{50ms, Detach::Silent, 300ms}, {afterSilence, Detach::Silent, 0ms}}, {Presence::Silent, Presence::Silent}, true, 0},
        {{{50ms, Detach::Vanish, 0ms}, {300ms, Detach::Silent, 100ms}}, {Presence::PortGone, Presence::Silent}, false, 0},
        {{{50ms, Detach::Silent, 0ms}, {afterSilence, Detach::Vanish, 0ms}}, {Presence::Silent, Presence::PortGone}, true, 1},
        {{{50ms, Detach::Stay, 0ms}}, {}, false, 0},
    };
    std::vector<DayLine> lines;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        lines.push_back({(dir.path() / ("line" + std::to_string(i + 1))).string(), cases[i].phones});
    }
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.bootGap = 500ms;  // far above the presence probes' gap
    sim::StationDay day(options, lines, test::TestTrace());
    day.Start();

    std::vector<std::unique_ptr<ToolLine>> tools;
    std::vector<std::future<void>> done;
    for (std::size_t i = 0; i < cases.size(); ++i) tools.push_back(std::make_unique<ToolLine>());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        done.push_back(std::async(std::launch::async, [&, i] {
            try {
                tools[i]->Run(lines[i].link, cases[i].phones);
            } catch (const LineStopped&) {
                ADD_FAILURE() << "line " << i + 1 << " stopped while waiting";
            }
        }));
    }
    const auto limit = std::chrono::steady_clock::now() + 8s;
    for (auto& d : done) {
        if (d.wait_until(limit) != std::future_status::ready) break;
    }
    for (auto& tool : tools) tool->session.stop.Raise();
    for (auto& d : done) d.wait();
    EXPECT_TRUE(day.WaitUntilOver(0ms));

    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(tools[i]->gone, cases[i].seen) << "line " << i + 1;
        EXPECT_TRUE(tools[i]->firstOpenWorked || !cases[i].portAtStart) << "line " << i + 1;
        EXPECT_FALSE(tools[i]->reopenedWhileGone) << "line " << i + 1;
        EXPECT_EQ(tools[i]->lostWhileWaiting, cases[i].lostWhileWaiting) << "line " << i + 1;
    }
    for (const sim::DayPhoneRecord& r : day.Records()) {
        const bool stays = cases[static_cast<std::size_t>(r.line - 1)].phones[static_cast<std::size_t>(r.phone - 1)].detach == Detach::Stay;
        EXPECT_TRUE(r.arrived) << r.line << "/" << r.phone;
        EXPECT_EQ(r.left, !stays) << r.line << "/" << r.phone;
        EXPECT_EQ(r.jobs, 1) << r.line << "/" << r.phone;
    }
}

// A stop does not wait for a job that never comes nor for a phone still to arrive, and takes
// the ports away with it.
TEST(SimStationDay, StopIsPromptWhateverThePhonesAreDoing) {
    test::TempDir dir;
    const std::string waiting = (dir.path() / "waiting").string();
    const std::string later = (dir.path() / "later").string();
    sim::StationDay day(test::TestPhoneOptions(),
                        {{waiting, {{0ms, Detach::Vanish, 0ms}}}, {later, {{60000ms, Detach::Silent, 0ms}}}});
    day.Start();
    for (const Deadline wait(2000ms); !day.Records()[0].arrived && !wait.Passed();) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(day.Records()[0].arrived);
    struct stat st{};
    EXPECT_EQ(lstat(later.c_str(), &st), 0) << "a fixed port is there before its phone";

    const auto before = std::chrono::steady_clock::now();
    day.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_FALSE(day.WaitUntilOver(0ms));
    for (const std::string& link : {waiting, later}) EXPECT_NE(lstat(link.c_str(), &st), 0) << link;
}

}  // namespace
}  // namespace zolt
