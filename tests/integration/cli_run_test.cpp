// The built `zolt run` against simulated phones on pseudo-terminals, as an operator or a
// factory script would run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/message_ids.h"
#include "sim/phone_context.h"
#include "sim/sim_bank.h"
#include "support/temp_dir.h"

extern char** environ;

namespace zolt {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::int32_t BOOT_SIZE = 2000, CP_SIZE = 3000, DATA_SIZE = 1500;
constexpr std::int32_t CP_START = BOOT_SIZE, DATA_START = BOOT_SIZE + CP_SIZE;

class Process {
public:
    Process(const std::vector<std::string>& args, const fs::path& output) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status, or -1 when the process has not ended within `limit`.
    int Wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                done_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    void Signal(int signal) { kill(pid_, signal); }

private:
    pid_t pid_ = -1;
    bool done_ = false;
};

std::string Read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CliRunFixture : ::testing::Test {
    test::TempDir dir;
    std::vector<std::uint8_t> image;
    std::unique_ptr<sim::SimBank> bank;

    void SetUp() override {
        image.resize(DATA_START + DATA_SIZE);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        // The CP version block right behind its checksum word at 0x100 of the CP section.
        const std::size_t block = CP_START + 0x100 + 2;
        std::memset(&image[block], 0, 32);
        std::memcpy(&image[block], "TESTID", 6);
        std::memcpy(&image[block + 10], "MODEL", 5);
        std::ofstream(dir.path() / "image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        std::ofstream(dir.path() / "ZOLT.ini")
            << "[MainConfig]\nCheckInfo=TESTID\nMobileName=MODEL\nUpdateFlag=0\n"
            << "[BootConfig]\nStart=0\nSize=" << BOOT_SIZE << "\nChksumPos=0x100\n"
            << "[CpConfig]\nStart=" << CP_START << "\nSize=" << CP_SIZE << "\nChksumPos=" << CP_START + 0x100 << "\n"
            << "[DataConfig]\nStart=" << DATA_START << "\nSize=" << DATA_SIZE << "\n";
    }
    void StartPhones(int count, const std::function<void(sim::SimPhone&, int)>& adjust = {}) {
        // No time of the phone's own: these runs are about what the program reports.
        sim::PhoneOptions options;
        options.replyDelay = options.blockTime = options.eraseTime = Millis(0);
        options.restartTime = Millis(0);
        options.stateDir = dir.path() / "phones";
        sim::BankSpec spec;
        spec.count = count;
        bank = std::make_unique<sim::SimBank>(options, spec);
        if (adjust) {
            for (int k = 0; k < count; ++k) adjust((*bank)[k], k + 1);
        }
        bank->Start();
    }
    std::vector<std::string> Run(std::vector<std::string> words) {
        std::vector<std::string> args = {ZOLT_CLI_PATH, "run", "--config", (dir.path() / "ZOLT.ini").string(),
                                         "--workdir", dir.path().string()};
        args.insert(args.end(), words.begin(), words.end());
        for (std::size_t k = 0; k < bank->Size(); ++k) {
            args.push_back("--port");
            args.push_back((*bank)[k].Path());
        }
        return args;
    }
    std::vector<std::uint8_t> Area(int phone, int type) {
        std::ifstream in(dir.path() / "phones" / ("phone-" + std::to_string(phone)) / ("flash-" + std::to_string(type) + ".bin"),
                         std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

TEST_F(CliRunFixture, EightLinesFlashEverySectionAndTheReportSaysSo) {
    StartPhones(8);
    const fs::path report = dir.path() / "report.json";
    const fs::path trace = dir.path() / "trace.txt";
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "all", "--report", report.string(),
                      "--trace", trace.string()}),
                 dir.path() / "out.txt");
    ASSERT_EQ(zolt.Wait(120s), 0) << Read(dir.path() / "out.txt");
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(Area(k, 0), std::vector<std::uint8_t>(image.begin(), image.begin() + BOOT_SIZE)) << k;
        EXPECT_EQ(Area(k, 1), std::vector<std::uint8_t>(image.begin() + CP_START, image.begin() + DATA_START)) << k;
        EXPECT_EQ(Area(k, 6), std::vector<std::uint8_t>(image.begin() + DATA_START, image.end())) << k;
    }
    const std::string json = Read(report);
    EXPECT_NE(json.find("\"version\": 1"), std::string::npos);
    EXPECT_NE(json.find("\"exit_status\": 0"), std::string::npos);
    EXPECT_NE(json.find("\"line\": 8"), std::string::npos);
    EXPECT_EQ(json.find("\"result\": \"failed\""), std::string::npos);
    EXPECT_NE(json.find("\"payload_bytes\": 6500"), std::string::npos);
    const std::string out = Read(dir.path() / "out.txt");
    EXPECT_NE(out.find("Update Data       Done    Done"), std::string::npos) << out;
    // Every line's conversation is in the trace: line 8's last block of the Data section
    // (1500 bytes: block 6) went out and was accepted.
    const std::string frames = Read(trace);
    EXPECT_NE(frames.find("line 8  sent       B2 04  FE 70 00 B2 04 06 00 00 00 01 06"), std::string::npos);
    EXPECT_NE(frames.find("line 8  received   B2 04  FE 07 00 B2 04 06 00 00 00 00"), std::string::npos);
}

TEST_F(CliRunFixture, APhoneThatFailsFailsOnlyItsLineAndTheRunSaysSo) {
    // Phone 2's boot loader refuses every flash request: block 1 again, status 1.
    StartPhones(3, [](sim::SimPhone& phone, int number) {
        if (number != 2) return;
        phone.Handlers().On(sim::PhoneMode::BootLoader, sim::ID_FLASH, [](sim::PhoneContext& p, const sim::Request&) {
            const std::uint8_t refuse[] = {0xB2, 0x04, 0x01, 0x00, 0x00, 0x00, 0x01};
            p.Reply(refuse);
            return true;
        });
    });
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "boot"}), dir.path() / "out.txt");
    ASSERT_EQ(zolt.Wait(30s), 1) << Read(dir.path() / "out.txt");
    const std::string out = Read(dir.path() / "out.txt");
    EXPECT_NE(out.find("Line 2 /dev/pts/"), std::string::npos) << out;
    EXPECT_NE(out.find("failed"), std::string::npos) << out;
    EXPECT_NE(out.find("Flash Erase error!"), std::string::npos) << out;
    EXPECT_NE(out.find("Update Boot       Done    Fail    Done"), std::string::npos) << out;
    EXPECT_EQ(Area(1, 0).size(), static_cast<std::size_t>(BOOT_SIZE));
}

TEST_F(CliRunFixture, CtrlCStopsEveryLineWithinASecondAndKeepsWhatHadFailed) {
    // Phone 1 refuses its erase and fails its line; phone 2 never leaves its firmware, so its
    // line waits in the boot-loader handshake until Ctrl-C.
    StartPhones(2, [](sim::SimPhone& phone, int number) {
        if (number == 1) {
            phone.Handlers().On(sim::PhoneMode::BootLoader, sim::ID_FLASH, [](sim::PhoneContext& p, const sim::Request&) {
                const std::uint8_t refuse[] = {0xB2, 0x04, 0x01, 0x00, 0x00, 0x00, 0x01};
                p.Reply(refuse);
                return true;
            });
            return;
        }
        phone.Handlers().On(sim::PhoneMode::Firmware, sim::ID_LOOPBACK, [](sim::PhoneContext&, const sim::Request&) {
            return true;
        });
    });
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "all"}), dir.path() / "out.txt");
    for (int i = 0; i < 1000 && Read(dir.path() / "out.txt").find("Flash Erase error!") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(zolt.Wait(200ms), -1);
    const auto start = std::chrono::steady_clock::now();
    zolt.Signal(SIGINT);
    EXPECT_EQ(zolt.Wait(5s), 130);
    // A second natively; sanitizer builds take several times longer to wind a process down.
    // The stop itself is held to 100 ms by the worker tests.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    const std::string out = Read(dir.path() / "out.txt");
    EXPECT_NE(out.find("Update Boot       Fail    Wait"), std::string::npos) << out;
    EXPECT_NE(out.find("failed  "), std::string::npos) << out;
    EXPECT_NE(out.find("stopped  "), std::string::npos) << out;
}

TEST_F(CliRunFixture, MissingPortOrImageIsAUsageErrorAndNothingIsSent) {
    StartPhones(1);
    Process missingPort(Run({"--image", (dir.path() / "image.bin").string(), "--update", "all", "--port", "/dev/zolt-no-such-port"}),
                        dir.path() / "out1.txt");
    EXPECT_EQ(missingPort.Wait(20s), 2);
    EXPECT_NE(Read(dir.path() / "out1.txt").find("/dev/zolt-no-such-port does not exist"), std::string::npos);
    Process missingImage(Run({"--image", (dir.path() / "none.bin").string(), "--update", "all"}), dir.path() / "out2.txt");
    EXPECT_EQ(missingImage.Wait(20s), 2);
    EXPECT_NE(Read(dir.path() / "out2.txt").find("none.bin was not found."), std::string::npos);
    EXPECT_EQ((*bank)[0].Inspect([](const sim::PhoneCore& p) { return p.State().framesReceived; }), 0u);
}

}  // namespace
}  // namespace zolt
