// The simulated phone's line as a port: links, reopening, several phones at once, and the
// zolt-phone program itself.
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
#include <thread>
#include <vector>

#include "link/ets_frame.h"
#include "sim/message_ids.h"
#include "sim/sim_bank.h"
#include "sim/sim_error.h"
#include "support/sim_line_posix.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using sim::PhoneState;
using test::SimLine;
namespace fs = std::filesystem;

fs::path TempDir(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("zolt-sim-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

TEST(SimLine, ToolOpensThePhoneThroughItsLinkAndTheLinkGoesWithThePhone) {
    const fs::path dir = TempDir("link");
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
    fs::remove_all(dir);
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

TEST(SimLine, PhonesOfOneBankServeTheirLinesInParallelAndShareNothing) {
    constexpr int COUNT = 4;
    sim::BankSpec spec;
    spec.count = COUNT;
    sim::SimBank bank(test::TestPhoneOptions(), spec);
    bank.Start();

    std::vector<std::unique_ptr<LinkSession>> sessions;
    std::vector<int> results(COUNT, -1);
    std::vector<std::thread> workers;
    for (int k = 0; k < COUNT; ++k) {
        sessions.push_back(std::make_unique<LinkSession>());
        sessions[k]->timing = test::ShortTiming();
        ASSERT_EQ(sessions[k]->OpenLink(bank[k].Path(), 115200), LINK_OPENED);
    }
    for (int k = 0; k < COUNT; ++k) {
        workers.emplace_back([&, k] {
            // Each line releases its phone a different number of times.
            results[k] = sessions[k]->WaitForFs(FS_BACKUP);
            for (int i = 0; i <= k; ++i) sessions[k]->FinishFsAccess();
        });
    }
    for (auto& w : workers) w.join();
    for (int k = 0; k < COUNT; ++k) {
        EXPECT_EQ(results[k], RESULT_OK);
        const std::uint64_t releases = static_cast<std::uint64_t>(k + 1);
        EXPECT_TRUE(bank[k].WaitUntil(
            [&](const sim::PhoneCore& p) { return p.State().Count(sim::ID_RELEASE_SECOND) == releases; }, 2000ms))
            << "phone " << k + 1;
        bank[k].Inspect([&](const sim::PhoneCore& p) {
            EXPECT_EQ(p.Number(), k + 1);
            EXPECT_GE(p.State().Count(sim::ID_SIDB_WRITE), 1u);
        });
    }
    bank.Stop();
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
    const fs::path dir = TempDir("program");
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
    fs::remove_all(dir);
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
