// The simulated phone over a real pseudo-terminal: links, reopening, a section flashed through
// the tool, a phone that vanishes, and the zolt-phone program itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/ets_frame.h"
#include "link/flash.h"
#include "link/messages.h"
#include "sim/sim_error.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneState;
using test::SimLine;
namespace fs = std::filesystem;

TEST(SimLine, ToolOpensThePhoneThroughItsLinkAndTheLinkGoesWithThePhone) {
    const test::TempDir temp;
    const fs::path& dir = temp.path();
    const std::string link = (dir / "ttyPHONE").string();
    {
        SimLine line(test::TestPhoneOptions(), {.device = "", .link = link}, false);
        line.phone->Start();
        ASSERT_EQ(fs::read_symlink(link).string(), line.phone->Path());
        ASSERT_EQ(line.session.OpenLink(link, 115200), LINK_OPENED);
        EXPECT_EQ(line.session.WaitForFs(FS_BACKUP), RESULT_OK);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    // A stale link is replaced; a file that is not a link is never touched.
    fs::create_symlink("/nonexistent", link);
    { SimLine line(test::TestPhoneOptions(), {.device = "", .link = link}, false); }
    std::ofstream(dir / "plain") << "keep";
    EXPECT_THROW(sim::SimPhone::Create(test::TestPhoneOptions(), {.device = "", .link = (dir / "plain").string()}),
                 sim::SimError);
    EXPECT_TRUE(fs::is_regular_file(dir / "plain"));
}

TEST(SimLine, PortCanBeClosedAndReopenedAndStaleRepliesAreGone) {
    // A lone probe and, after a pause, more probes would look like the boot-loader handshake.
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.enterBootOnGap = false;
    SimLine line(options);
    // A probe whose echo the tool never reads, then the tool closes its port.
    line.session.BuildRequest({0x00, 0x00, 0x01});
    ASSERT_GT(line.session.SendFrame(), 0);
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.repliesSent == 1; }));
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.portUsers == 1; }));
    line.session.port.Close();
    ASSERT_TRUE(line.PhoneReaches([](const PhoneState& s) { return s.portUsers == 0; }));

    // The tool left the port exclusive; the phone has cleared that for the next program.
    const int fd = open(line.phone->Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);

    LinkSession again;
    again.timing = test::ShortTiming();
    ASSERT_EQ(again.OpenLink(line.phone->Path(), 115200), LINK_OPENED);
    EXPECT_EQ(again.ReceiveFrame(RECEIVE_POLL), 0) << "an echo sent before the close came through";
    EXPECT_EQ(again.WaitForFs(FS_RESTORE), RESULT_OK);
}

TEST(SimLine, SectionWrittenThroughTheToolEqualsTheAreaAndItsFile) {
    const test::TempDir dir;
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.stateDir = dir.path();
    SimLine line(options);

    const test::SimBytes section = test::SectionBytes(10 * 350 + 1, 9);  // 11 blocks, the last of 1 byte
    ASSERT_EQ(line.session.BootLoad(), RESULT_OK);
    ASSERT_EQ(line.session.FlashErase(IMAGE_CP), RESULT_OK);
    EXPECT_EQ(line.session.flashBlock.load(), 2u);
    ASSERT_EQ(line.session.FlashWrite(IMAGE_CP, section), RESULT_OK);
    EXPECT_EQ(line.session.statusText.Get(), "Flash writing success.(CP)");
    EXPECT_EQ(line.session.flashBlockCount.load(), 11);

    EXPECT_EQ(line.phone->Inspect([](const sim::PhoneCore& p) { return p.Flash().Area(IMAGE_CP); }), section);
    EXPECT_EQ(test::ReadFile((dir.path() / "flash-1.bin").string()), std::string(section.begin(), section.end()));
}

TEST(SimLine, VanishingPhoneClosesItsLineAfterAnsweringTheNthFrame) {
    const test::TempDir dir;
    const std::string link = (dir.path() / "ttyPHONE").string();
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.faults.vanishAfter = 1;
    SimLine line(options, {.device = "", .link = link}, false);
    line.phone->Start();
    ASSERT_EQ(line.session.OpenLink(link, 115200), LINK_OPENED);

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

// Presence probes at their standard pace never make up the boot-loader handshake for a phone
// of the standard boot gap; a phone that vanishes after its job is gone by its port.
TEST(SimLine, PresenceProbesLeaveThePhoneInItsFirmwareAndFindItGone) {
    const test::TempDir dir;
    const std::string link = (dir.path() / "ttyPHONE").string();
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.bootGap = sim::PhoneOptions{}.bootGap;
    options.faults.vanishAfter = 8;
    SimLine line(options, {.device = "", .link = link}, false);
    line.phone->Start();
    ASSERT_EQ(line.session.OpenLink(link, 115200), LINK_OPENED);
    line.session.timing.presenceProbeGap = Timing::Standard().presenceProbeGap;
    line.session.timing.phoneGoneSilence = 10s;
    EXPECT_EQ(line.session.WaitForPhone(), Presence::Answers);
    EXPECT_EQ(line.session.WaitUntilPhoneGone(), Presence::PortGone);
    EXPECT_EQ(line.Phone([](const PhoneState& s) { return s.bootLoaderEntries; }), 0u);
}

// A phone that has just come takes the presence probe that found it as the boot-loader
// handshake's first: the boot load that follows sends one probe, a gap later, not three.
TEST(SimLine, TheProbeThatFoundThePhoneOpensItsBootLoaderHandshake) {
    sim::PhoneOptions options = test::TestPhoneOptions();
    options.bootGap = 100ms;
    SimLine line(options, {}, false);
    line.phone->Start();
    ASSERT_EQ(line.session.OpenLink(line.phone->Path(), 115200), LINK_OPENED);
    line.session.timing.bootProbeGap = 150ms;
    ASSERT_EQ(line.session.WaitForPhone(), Presence::Answers);
    ASSERT_EQ(line.session.BootLoad(), RESULT_OK);
    EXPECT_EQ(line.Phone([](const PhoneState& s) { return s.Count(msg::ID_LOOPBACK); }), 2u);
    EXPECT_EQ(line.Phone([](const PhoneState& s) { return s.bootLoaderEntries; }), 1u);
}

TEST(SimLine, PhoneOnASerialDeviceAnswersAndNotesWhenTheDeviceGoesAway) {
    // A pseudo-terminal stands in for the device; the test plays the far end on its master.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    auto phone = sim::SimPhone::Create(test::TestPhoneOptions(), {.device = ptsname(master), .link = ""});
    phone->Start();

    const std::vector<std::uint8_t> probe = EncodeFrame(std::vector<std::uint8_t>{0x00, 0x00, 0x01});
    ASSERT_EQ(write(master, probe.data(), probe.size()), static_cast<ssize_t>(probe.size()));
    std::vector<std::uint8_t> echo(probe.size());
    std::size_t got = 0;
    while (got < echo.size()) {
        const ssize_t n = read(master, echo.data() + got, echo.size() - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(echo, probe);

    close(master);
    EXPECT_TRUE(phone->WaitUntil([](const sim::PhoneCore& p) { return p.State().lineLost; }, 2000ms));
}

// The zolt-phone program, next to the test programs in the build tree.
std::string PhoneProgram() {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    for (const fs::path& candidate : {self.parent_path().parent_path() / "zolt-phone",
                                      self.parent_path() / "zolt-phone"}) {
        if (fs::exists(candidate)) return candidate.string();
    }
    return {};
}

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
    int Wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        if (out) fclose(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

Child Spawn(const std::vector<std::string>& args) {
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(pipeFds[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(pipeFds[0]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    child.out = fdopen(pipeFds[0], "r");
    return child;
}

TEST(SimProgram, PrintsOnePortPerPhoneServesThemAndEndsCleanlyOnTerm) {
    const std::string program = PhoneProgram();
    if (program.empty()) GTEST_SKIP() << "zolt-phone is not built";
    const test::TempDir temp;
    const fs::path& dir = temp.path();
    Child child = Spawn({program, "--count", "2", "--boot-gap-ms", "30", "--trace", (dir / "trace").string()});
    std::vector<std::string> ports;
    char buffer[256];
    while (ports.size() < 2 && fgets(buffer, sizeof buffer, child.out)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        ports.push_back(line);
    }
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_NE(ports[0], ports[1]);
    for (const auto& port : ports) {
        LinkSession session;
        session.timing = test::ShortTiming();
        ASSERT_EQ(session.OpenLink(port, 115200), LINK_OPENED) << port;
        EXPECT_EQ(session.WaitForFs(FS_BACKUP), RESULT_OK) << port;
    }
    kill(child.pid, SIGTERM);
    EXPECT_EQ(child.Wait(), 0);

    std::ifstream trace(dir / "trace");
    std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("#1 RX FE 03 00 00 00 01 FC"), std::string::npos);
    EXPECT_NE(text.find("#2 TX FE 04 00 A2 07 00 00 53"), std::string::npos);
}

TEST(SimProgram, BadOptionsEndWithStatusTwo) {
    const std::string program = PhoneProgram();
    if (program.empty()) GTEST_SKIP() << "zolt-phone is not built";
    EXPECT_EQ(Spawn({program, "--count", "zero"}).Wait(), 2);
    EXPECT_EQ(Spawn({program, "--no-such-option"}).Wait(), 2);
    EXPECT_EQ(Spawn({program, "--help"}).Wait(), 0);
}

}  // namespace
}  // namespace zolt
