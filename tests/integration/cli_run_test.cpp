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
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "cal/backup_files.h"
#include "sim/message_ids.h"
#include "sim/phone_context.h"
#include "sim/sim_bank.h"
#include "sim/cal_database.h"
#include "support/child_process_posix.h"
#include "support/sim_job_posix.h"
#include "support/temp_dir.h"

extern char** environ;

namespace zolt {
namespace {

using test::Process;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::int32_t BOOT_SIZE = test::SmallJob::BOOT_SIZE, CP_START = test::SmallJob::CP_START,
                       DATA_START = test::SmallJob::DATA_START;

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

    void SetUp() override { image = test::SmallJob::Write(dir.path()); }
    void StartPhones(int count, const std::function<void(sim::SimPhone&, int)>& adjust = {}) {
        // No time of the phone's own: these runs are about what the program reports.
        sim::PhoneOptions options;
        options.replyDelay = options.blockTime = options.eraseTime = Millis(0);
        options.restartTime = Millis(0);
        options.stateDir = dir.path() / "phones";
        options.pageReadIds = {test::SIM_PAGE_READ_ID};
        sim::BankSetup setup;
        setup.count = count;
        bank = std::make_unique<sim::SimBank>(options, setup);
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
    // The catalogue of the test pages, where `zolt run` reads it when run in the test's folder.
    void WriteCatalog() { test::WriteCatalog(dir.path(), test::SIM_PAGES, test::SIM_PAGE_READ_ID); }
    // A bank of one phone keeps its state in "phones" itself.
    fs::path PhoneFolder(int number) const {
        return bank->Size() > 1 ? dir.path() / "phones" / ("phone-" + std::to_string(number)) : dir.path() / "phones";
    }
    // What differs between phone `number`'s calibration and the factory's; empty when nothing.
    std::string CalDifferences(int number) { return test::CalDifferences(number, PhoneFolder(number)); }
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
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "all", "--no-cal", "--report",
                      report.string(), "--trace", trace.string()}),
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
    // Every line's conversation is in the trace, by name: line 8's last block of the Data
    // section (1500 bytes: block 6) went out and was accepted, and its tasks are marked.
    const std::string frames = Read(trace);
    for (const char* named : {"line 8   sent      flash write block 6 type 1M Data (100 bytes)",
                              "line 8   received  flash reply block 6 accepted", "line 8   == task Update CP begins",
                              "line 8   == task Update Data: Done", "line 8   == line ends: ok"}) {
        EXPECT_NE(frames.find(named), std::string::npos) << named;
    }
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
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "all", "--no-cal"}),
                 dir.path() / "out.txt");
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

// A phone that never answers the boot-loader handshake holds its line for ever, unless the run
// bounds the wait for a phone: then the line fails and says what it waited for.
TEST_F(CliRunFixture, PhoneWaitFailsALineWhosePhoneNeverAnswers) {
    StartPhones(1, [](sim::SimPhone& phone, int) {
        phone.Handlers().On(sim::PhoneMode::Firmware, sim::ID_LOOPBACK, [](sim::PhoneContext&, const sim::Request&) {
            return true;
        });
    });
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "boot", "--phone-wait", "1"}),
                 dir.path() / "out.txt");
    EXPECT_EQ(zolt.Wait(20s), 1);
    EXPECT_NE(Read(dir.path() / "out.txt").find("No answer from the phone in 1 s (boot loader)!"), std::string::npos)
        << Read(dir.path() / "out.txt");
}

// An operator's ordinary mistakes: each is refused with exit status 2 and a message naming
// what is wrong, before the phone hears a byte. "PORT" stands for the phone's port.
TEST_F(CliRunFixture, BadInputsAreRefusedBeforeAnyByteSayingWhatIsWrong) {
    StartPhones(1);
    const fs::path d = dir.path();
    const std::string image = (d / "image.bin").string(), config = (d / "ZOLT.ini").string();
    dir.Write("short.bin", std::vector<std::uint8_t>(this->image.begin(), this->image.begin() + BOOT_SIZE - 1000));
    dir.Write("cut.bin", std::vector<std::uint8_t>(this->image.begin(), this->image.begin() + DATA_START + 100));
    dir.Write("keyless.ini", "[MainConfig]\nCheckInfo=TESTID\n");
    dir.Write("nopages/calibration.ini", "[MAXPAGECONUT]\nCount=0\n");
    std::string longRecord = "ETS, Id=CP Power, Power=Down\nETS, Id=CP FFS SIDB WRITE, Type=18, id=3, len=1, offset=0, Data=";
    for (int k = 0; k < 700; ++k) longRecord += "0x01 ";
    const std::string longScript = dir.Write("long.srp", longRecord + "\nEND\n");
    fs::create_directories(d / "bare");
    const std::string bare = (d / "bare").string(), nowhere = (d / "nowhere").string();
    struct Case {
        std::vector<std::string> words;
        std::string said;
    };
    const std::vector<Case> cases = {
        {{"run", "--image", image, "--update", "boot", "--port", "PORT"}, "ZOLT.ini was not found: run zolt in the folder"},
        {{"run", "--config", (d / "keyless.ini").string(), "--image", image, "--update", "boot", "--port", "PORT"},
         "has no key MobileName in section MainConfig"},
        {{"run", "--config", config, "--image", d.string(), "--update", "boot", "--port", "PORT"}, "is a folder"},
        {{"run", "--config", config, "--image", nowhere, "--update", "boot", "--port", "PORT"}, "nowhere was not found"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--port", "/dev/null"},
         "port /dev/null is not a serial port"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--port", nowhere}, "nowhere does not exist"},
        {{"run", "--config", config, "--image", (d / "short.bin").string(), "--update", "boot", "--port", "PORT"},
         "too short by 1000 bytes for its Boot section"},
        {{"run", "--config", config, "--image", (d / "cut.bin").string(), "--update", "all", "--no-cal", "--port", "PORT"},
         "too short by 1400 bytes for its Data section"},
        {{"run", "--config", config, "--image", image, "--update", "all", "--with-cal", "--workdir", bare, "--port", "PORT"},
         "calibration.ini not found in"},
        {{"run", "--config", config, "--image", image, "--update", "all", "--with-cal", "--workdir", (d / "nopages").string(),
          "--port", "PORT"},
         "lists no pages"},
        {{"run", "--config", config, "--image", image, "--update", "all", "--with-cal", "--workdir", "/proc", "--port", "PORT"},
         "the work folder /proc cannot take new files"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--workdir", nowhere, "--port", "PORT"},
         "nowhere does not exist"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--report", nowhere + "/r.json", "--port", "PORT"},
         "its folder " + nowhere + " does not exist"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--trace", bare, "--port", "PORT"},
         "the trace " + bare + " is a folder"},
        {{"run", "--script", longScript, "--port", "PORT"}, "cannot be played: Record 1 (line 2) refused"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--history", nowhere + "/h.sqlite", "--port", "PORT"},
         "the folder " + nowhere + " does not exist"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--history", image, "--port", "PORT"},
         "is not a ZOLT history"},
        {{"run", "--config", config, "--image", image, "--update", "boot", "--history", "postgresql://a b@/x?%zz", "--port",
          "PORT"},
         "is not a usable PostgreSQL URL"},
        {{"info", "--config", config, "--image", (d / "cut.bin").string()}, "too short by 1400 bytes for its Data section"},
        {{"demo", "--files-only", "--dir", "/proc"}, "cannot write image.bin"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::vector<std::string> args = {ZOLT_CLI_PATH};
        for (const std::string& w : c.words) args.push_back(w == "PORT" ? (*bank)[0].Path() : w);
        const fs::path out = d / ("bad" + std::to_string(++n) + ".txt");
        Process zolt(args, out, bare);
        EXPECT_EQ(zolt.Wait(20s), 2) << c.said;
        EXPECT_NE(Read(out).find(c.said), std::string::npos) << c.said << ": " << Read(out);
    }
    EXPECT_EQ((*bank)[0].Inspect([](const sim::PhoneCore& p) { return p.State().framesReceived; }), 0u);
}

// An update that would erase the calibration unasked is refused before the phone hears of it;
// a script names the calibration pages it will not send, and still plays its SIDB writes.
TEST_F(CliRunFixture, ErasingTheCalibrationMustBeAskedForAndAScriptSaysWhatItSkips) {
    StartPhones(1);
    const std::string image = (dir.path() / "image.bin").string();
    // The update flag is read where `zolt run` starts; with flag 4 the CP choice writes the Data
    // section as well.
    const test::TempDir flag4;
    flag4.Write("ZOLT.ini", "[MainConfig]\nUpdateFlag=4\n");
    struct Case {
        std::vector<std::string> words;
        fs::path folder;
        const char* said;
    };
    const std::vector<Case> cases = {
        {{"--image", image, "--update", "data"}, {}, "--update data erases the phone's calibration"},
        {{"--image", image, "--update", "cp"}, flag4.path(), "--update cp also writes the Data section"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path out = dir.path() / ("refused" + std::to_string(++n) + ".txt");
        Process refused(Run(c.words), out, c.folder);
        EXPECT_EQ(refused.Wait(20s), 2);
        EXPECT_NE(Read(out).find(c.said), std::string::npos) << Read(out);
    }
    EXPECT_EQ((*bank)[0].Inspect([](const sim::PhoneCore& p) { return p.State().framesReceived; }), 0u);

    const std::string script = dir.Write("settings.srp",
                                         "ETS, Id=CP Power, Power=Down\n"  // no record: the text's first ETS
                                         "ETS, Id=CP DB Write, DB id=CP Write, Segment=2, Offset=0, Bytes=1, "
                                         "Write Thru=1, Data=0x10 \n"
                                         "ETS, Id=CP FFS SIDB WRITE, Type=18, id=3, len=1, offset=0, Data=0x01 \nEND\n");
    Process run(Run({"--script", script}), dir.path() / "out2.txt");
    EXPECT_EQ(run.Wait(60s), 0) << Read(dir.path() / "out2.txt");
    EXPECT_NE(Read(dir.path() / "out2.txt").find("1 database-write record is not sent by a script; use a restore for them"),
              std::string::npos)
        << Read(dir.path() / "out2.txt");
}

TEST_F(CliRunFixture, ThirtyTwoLinesRunAsFourGroupsNumberedOneToThirtyTwoAndKeepTheirOwnBackups) {
    StartPhones(32);
    WriteCatalog();
    const fs::path report = dir.path() / "report.json";
    const fs::path trace = dir.path() / "trace.txt";
    Process zolt(Run({"--image", (dir.path() / "image.bin").string(), "--update", "all", "--with-cal", "--report",
                      report.string(), "--trace", trace.string()}),
                 dir.path() / "out.txt", dir.path());
    ASSERT_EQ(zolt.Wait(300s), 0) << Read(dir.path() / "out.txt");
    for (int k = 1; k <= 32; ++k) {
        SCOPED_TRACE("phone " + std::to_string(k));
        EXPECT_EQ(Area(k, 0), std::vector<std::uint8_t>(image.begin(), image.begin() + BOOT_SIZE));
        // The reflash wiped every phone's calibration; every line restored its own phone's
        // backup, and kept it in a file of its own.
        EXPECT_TRUE(fs::exists(PhoneFolder(k) / "cal-erased"));
        EXPECT_EQ(CalDifferences(k), "");
        EXPECT_TRUE(fs::exists(dir.path() / ("COM-" + std::to_string(k) + "calibration.srp")));
    }
    EXPECT_NE(Read(dir.path() / "COM-1calibration.srp"), Read(dir.path() / "COM-9calibration.srp"));
    const std::string json = Read(report);
    EXPECT_NE(json.find("{\"line\": 32, \"port\": \"" + (*bank)[31].Path() + "\""), std::string::npos) << json;
    EXPECT_EQ(json.find("\"result\": \"failed\""), std::string::npos);
    const std::string out = Read(dir.path() / "out.txt");
    EXPECT_NE(out.find("Task              Line 25 Line 26"), std::string::npos) << out;
    EXPECT_NE(out.find("Line 32  " + (*bank)[31].Path() + "  ok"), std::string::npos) << out;
    EXPECT_NE(Read(trace).find("line 17  received  page reply"), std::string::npos);

    // Every phone left its entry in the work folder's history, and each entry gives back the
    // backup its line took, byte for byte.
    const std::string history = (dir.path() / "zolt-history.sqlite").string();
    Process list({ZOLT_CLI_PATH, "history", "--history", history, "--format", "json"}, dir.path() / "history.json");
    ASSERT_EQ(list.Wait(20s), 0);
    const std::string entries = Read(dir.path() / "history.json");
    const std::regex entry(R"re("id": (\d+), "uid": "[0-9a-f]{32}", "station": "[^"]+", "line": (\d+),[^\n]*\n[^\n]*"outcome": "ok", "update": "all\+cal")re");
    std::map<int, std::string> idOfLine;
    for (std::sregex_iterator it(entries.begin(), entries.end(), entry), end; it != end; ++it) {
        idOfLine[std::stoi((*it)[2])] = (*it)[1];
    }
    ASSERT_EQ(idOfLine.size(), 32u) << entries;
    for (const int k : {1, 9, 32}) {
        const fs::path out = dir.path() / ("kept-" + std::to_string(k) + ".srp");
        Process backup({ZOLT_CLI_PATH, "history", "--history", history, "--backup", idOfLine[k], "--out", out.string()},
                       dir.path() / "backup.txt");
        ASSERT_EQ(backup.Wait(20s), 0) << Read(dir.path() / "backup.txt");
        EXPECT_EQ(Read(out), Read(dir.path() / ("COM-" + std::to_string(k) + "calibration.srp"))) << k;
    }
}

TEST_F(CliRunFixture, RestoreFromTheSavedFilesBringsBackASpoiledCalibrationByteForByte) {
    StartPhones(1);
    WriteCatalog();
    const std::string imageFile = (dir.path() / "image.bin").string();
    Process backup(Run({"--image", imageFile, "--update", "all", "--with-cal"}), dir.path() / "out1.txt", dir.path());
    ASSERT_EQ(backup.Wait(120s), 0) << Read(dir.path() / "out1.txt");
    // A reflash of the Data area wipes the calibration, as it does on a real phone.
    Process spoil(Run({"--image", imageFile, "--update", "data", "--no-cal"}), dir.path() / "out2.txt", dir.path());
    ASSERT_EQ(spoil.Wait(120s), 0) << Read(dir.path() / "out2.txt");
    ASSERT_NE(CalDifferences(1), "");
    Process restore(Run({"--restore", (dir.path() / "COM-1calibration.srp").string()}), dir.path() / "out3.txt",
                    dir.path());
    ASSERT_EQ(restore.Wait(120s), 0) << Read(dir.path() / "out3.txt");
    EXPECT_EQ(CalDifferences(1), "");
}

// A calibration file of the test pages as a backup writes it, page `p`'s byte `i` being
// p * 16 + i + 1; `names` replaces the pages' names.
std::string SavedCalibration(const std::vector<std::string>& names = {}) {
    std::string text = "ETS, Id=CP Power, Power=Down\n";
    for (std::size_t p = 0; p < test::SIM_PAGES.size(); ++p) {
        const test::SimPage& page = test::SIM_PAGES[p];
        text += std::string("ETS, Id=CP DB Write, DB id=") + (page.db == 0 ? "CP Write" : "RF Write") +
                ", Segment=" + (names.empty() ? page.name : names[p]) + ", Offset=" + std::to_string(page.offset) +
                ", Bytes=" + std::to_string(page.bytes) + ", Write Thru=1, Data=";
        char item[8];
        for (int i = 0; i < page.bytes; ++i) {
            std::snprintf(item, sizeof item, "0x%02x ", static_cast<unsigned>((p * 16 + i + 1) & 0xFF));
            text += item;
        }
        text += "\n";
    }
    return text + "END\n";
}

// A saved file that cannot be played back whole is refused before anything is sent; the
// catalogue it is checked against is the work folder's, wherever `zolt run` is started.
TEST_F(CliRunFixture, RestoreRefusesWhatItCannotPlayBackWholeBeforeSendingAnything) {
    StartPhones(1);
    WriteCatalog();
    const test::TempDir elsewhere;  // the current folder: no catalogue there
    const std::string good = SavedCalibration();
    std::vector<std::string> names;
    for (const test::SimPage& page : test::SIM_PAGES) names.emplace_back(page.name);
    names[2] = "CpWrong";
    const std::string renamed = SavedCalibration(names);
    const std::string cut = good.substr(0, good.size() - 20);
    struct Case {
        const char* what;
        std::string text;
        std::string setting;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"empty", "", SettingFileText(7, ""), "it is empty"},
        {"cut off", cut, SettingFileText(7, cut), "cut off"},
        {"setting of another file", good, SettingFileText(7, renamed), "belongs to another calibration file"},
        {"page name not in the catalogue", renamed, SettingFileText(7, renamed), "names page \"CpWrong\""},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir.Write("backups/saved.srp", c.text);
        dir.Write("backups/saved.setting", c.setting);
        const fs::path out = dir.path() / ("out" + std::to_string(++run) + ".txt");
        Process restore(Run({"--restore", file}), out, elsewhere.path());
        ASSERT_EQ(restore.Wait(20s), 2) << Read(out);
        EXPECT_NE(Read(out).find(c.said), std::string::npos) << Read(out);
        EXPECT_EQ((*bank)[0].Inspect([](const sim::PhoneCore& p) { return p.State().framesReceived; }), 0u);
    }

    // The good file against a work folder without a catalogue, then with the test's.
    const std::string file = dir.Write("backups/saved.srp", good);
    dir.Write("backups/saved.setting", SettingFileText(7, good));
    Process noCatalogue(Run({"--restore", file, "--workdir", elsewhere.path().string()}), dir.path() / "out0.txt");
    ASSERT_EQ(noCatalogue.Wait(20s), 2) << Read(dir.path() / "out0.txt");
    EXPECT_NE(Read(dir.path() / "out0.txt").find("calibration.ini not found in"), std::string::npos)
        << Read(dir.path() / "out0.txt");
    EXPECT_EQ((*bank)[0].Inspect([](const sim::PhoneCore& p) { return p.State().framesReceived; }), 0u);
    Process restore(Run({"--restore", file}), dir.path() / "out.txt", elsewhere.path());
    ASSERT_EQ(restore.Wait(60s), 0) << Read(dir.path() / "out.txt");
    const sim::CalDatabase now(1, PhoneFolder(1));
    for (std::size_t p = 0; p < test::SIM_PAGES.size(); ++p) {
        const test::SimPage& page = test::SIM_PAGES[p];
        std::vector<std::uint8_t> expected;
        for (int i = 0; i < page.bytes; ++i) expected.push_back(static_cast<std::uint8_t>(p * 16 + i + 1));
        EXPECT_EQ(now.Read(page.db, page.segment, static_cast<std::size_t>(page.offset), expected.size()), expected)
            << page.name;
    }
    EXPECT_EQ(now.Setting(), 7);
}

}  // namespace
}  // namespace zolt
