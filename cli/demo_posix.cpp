// `zolt demo`: a whole job on eight simulated phones, for a newcomer without a phone.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/run_options.h"
#include "link/flash.h"
#include "sim/sim_bank.h"
#include "sim/sim_random.h"
#include "sim/station_day.h"

namespace zolt::cli {

namespace {

namespace fs = std::filesystem;

const char* const DEMO_USAGE =
    "usage: zolt demo [--dir DIR] [--phones N] [--no-cal] [--files-only]\n"
    "       zolt demo --station [--dir DIR] [--phones N]\n"
    "Starts N (default 8) simulated phones on pseudo-terminals, writes a sample configuration,\n"
    "page catalogue and ROM image into DIR (default: a fresh folder under the system's temporary\n"
    "folder), runs a whole job on every phone (backup, Boot, CP, Data, restore; without\n"
    "--no-cal the calibration steps are part of it) and checks each phone's flash against the image.\n"
    "--files-only writes the sample files into DIR and ends: for trying the job with zolt-phone and\n"
    "zolt run, or with ZOLT.exe.\n"
    "--station shows zolt station for about a minute: on each of N lines (default 8) four phones\n"
    "come one after the other at random times, each gets the image's Boot section as soon as it\n"
    "answers, and is then taken off, some by pulling their port out, some by lifting them off a\n"
    "port that stays; the demo ends once every phone has had its job, and checks each phone's\n"
    "flash against the image.\n";

// The sample image: three sections, each with its own pattern, and the identification the
// sample configuration expects in the CP version block.
struct DemoLayout {
    static constexpr std::int32_t bootStart = 0x0, bootSize = 16 * 1024;
    static constexpr std::int32_t cpStart = 0x4000, cpSize = 160 * 1024;
    static constexpr std::int32_t dataStart = 0x2C000, dataSize = 48 * 1024;
    static constexpr std::int32_t bootChksumPos = 0x100, cpChksumPos = cpStart + 0x100;
};

void PutVersionBlock(std::vector<std::uint8_t>& image, std::size_t checksumPos, std::uint16_t checksum,
                     const char* version) {
    image[checksumPos] = static_cast<std::uint8_t>(checksum & 0xFF);
    image[checksumPos + 1] = static_cast<std::uint8_t>(checksum >> 8);
    std::uint8_t* block = image.data() + checksumPos + 2;  // right behind the word (CombineVer 0)
    std::memset(block, 0, 32);
    std::memcpy(block + 0, "ZOLTDEMO", 8);
    std::memcpy(block + 10, "SIM-8", 5);
    std::memcpy(block + 18, version, std::strlen(version));
}

std::vector<std::uint8_t> MakeImage() {
    std::vector<std::uint8_t> image(DemoLayout::dataStart + DemoLayout::dataSize);
    std::uint32_t x = 0x2468ACE1u;
    for (auto& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    PutVersionBlock(image, DemoLayout::bootChksumPos, 0x1A2B, "BOOT-1.02");
    PutVersionBlock(image, DemoLayout::cpChksumPos, 0x3C4D, "CP-2.31");
    return image;
}

// Writes the sample files; on failure says which and returns false.
bool WriteFiles(const fs::path& dir, const std::vector<std::uint8_t>& image) {
    std::ofstream imageFile(dir / "image.bin", std::ios::binary);
    imageFile.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    std::ofstream config(dir / "ZOLT.ini");
    config
        << "[MainConfig]\nCheckInfo=ZOLTDEMO\nMobileName=SIM-8\nCombineVer=0\nUpdateFlag=0\n"
        << "[BootConfig]\nStart=" << DemoLayout::bootStart << "\nSize=" << DemoLayout::bootSize
        << "\nChksumPos=" << DemoLayout::bootChksumPos << "\n"
        << "[CpConfig]\nStart=" << DemoLayout::cpStart << "\nSize=" << DemoLayout::cpSize
        << "\nChksumPos=" << DemoLayout::cpChksumPos << "\n"
        << "[DataConfig]\nStart=" << DemoLayout::dataStart << "\nSize=" << DemoLayout::dataSize << "\n";
    std::ofstream catalog(dir / "calibration.ini");
    catalog << "[RxGain]\nETS, Id=17\nDB Id=1\nMsgstring=RxGain\nSegment=2\nOffset=0\nBytes=64\n"
        << "[TxPower]\nETS, Id=17\nDB Id=1\nMsgstring=TxPower\nSegment=3\nOffset=16\nBytes=48\n"
        << "[Tuning]\nETS, Id=17\nDB Id=0\nMsgstring=Tuning\nSegment=5\nOffset=128\nBytes=32\n"
        << "[MAXPAGECONUT]\nCount=3\n";
    const std::pair<std::ofstream*, const char*> written[] = {
        {&imageFile, "image.bin"}, {&config, "ZOLT.ini"}, {&catalog, "calibration.ini"}};
    for (const auto& [file, name] : written) {
        if (!file->flush()) {
            std::fprintf(stderr, "zolt demo: cannot write %s in the folder %s\n", name, dir.c_str());
            return false;
        }
    }
    return true;
}

// Whether the phone's flash area of `type` holds exactly the image's bytes of that section.
bool Holds(const sim::SimPhone& phone, int type, const std::vector<std::uint8_t>& image, std::int32_t start,
           std::int32_t size) {
    return phone.Inspect([&](const sim::PhoneCore& core) {
        const auto& area = core.Flash().Area(type);
        return area.size() == static_cast<std::size_t>(size) && std::equal(area.begin(), area.end(), image.begin() + start);
    });
}

struct DemoOptions {
    fs::path dir;
    int phones = 8;
    bool withCal = true;
    bool filesOnly = false;
    bool station = false;
};

// The options, or the exit status when there is nothing to run.
std::optional<DemoOptions> ParseDemoOptions(const std::vector<std::string>& args, int& status) {
    DemoOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(DEMO_USAGE, stdout);
            status = EXIT_OK;
            return std::nullopt;
        } else if (args[i] == "--dir" && i + 1 < args.size()) {
            o.dir = args[++i];
        } else if (args[i] == "--phones" && i + 1 < args.size()) {
            o.phones = std::atoi(args[++i].c_str());
        } else if (args[i] == "--no-cal") {
            o.withCal = false;
        } else if (args[i] == "--files-only") {
            o.filesOnly = true;
        } else if (args[i] == "--station") {
            o.station = true;
        } else {
            std::fprintf(stderr, "zolt demo: unknown or incomplete option %s\n%s", args[i].c_str(), DEMO_USAGE);
            status = EXIT_USAGE;
            return std::nullopt;
        }
    }
    if (o.phones < 1 || o.phones > 8) {
        std::fprintf(stderr, "zolt demo: --phones takes 1 to 8\n");
        status = EXIT_USAGE;
        return std::nullopt;
    }
    return o;
}

// The demo's folder: the one asked for, made if need be, or a fresh one under the system's
// temporary folder. Empty when it cannot be made.
fs::path MakeFolder(const fs::path& asked) {
    std::error_code ec;
    if (asked.empty()) {
        std::string pattern = (fs::temp_directory_path(ec) / "zolt-demo-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::fprintf(stderr, "zolt demo: cannot make a folder under %s\n", pattern.c_str());
            return {};
        }
        return pattern;
    }
    if (!fs::create_directories(asked, ec) && ec) {
        std::fprintf(stderr, "zolt demo: cannot make the folder %s\n", asked.c_str());
        return {};
    }
    return fs::absolute(asked);
}

// The words of the `zolt run` the demo runs, all paths inside `dir`.
std::vector<std::string> RunWords(const fs::path& dir, sim::SimBank& bank, bool withCal) {
    std::vector<std::string> run = {"--config",  (dir / "ZOLT.ini").string(),    "--workdir", dir.string(),
                                    "--image",   (dir / "image.bin").string(),   "--update",  "all",
                                    "--report",  (dir / "report.json").string()};
    run.push_back(withCal ? "--with-cal" : "--no-cal");
    for (std::size_t k = 0; k < bank.Size(); ++k) {
        run.push_back("--port");
        run.push_back(bank[k].Path());
    }
    return run;
}

// Compares every phone's flash with the image and says so. Returns whether all are the same.
bool CheckPhones(sim::SimBank& bank, const std::vector<std::uint8_t>& image) {
    std::printf("\nFlash of every phone against the image:\n");
    bool allSame = true;
    const auto text = [](bool same) { return same ? "identical" : "DIFFERENT"; };
    for (std::size_t k = 0; k < bank.Size(); ++k) {
        const bool boot = Holds(bank[k], IMAGE_BOOT, image, DemoLayout::bootStart, DemoLayout::bootSize);
        const bool cp = Holds(bank[k], IMAGE_CP, image, DemoLayout::cpStart, DemoLayout::cpSize);
        const bool data = Holds(bank[k], IMAGE_DATA, image, DemoLayout::dataStart, DemoLayout::dataSize);
        allSame &= boot && cp && data;
        std::printf("  Phone %zu: Boot %s, CP %s, Data %s\n", k + 1, text(boot), text(cp), text(data));
    }
    return allSame;
}

// Whether a station's phone, gone from its line, holds the image's Boot section in the flash
// it left behind.
bool HoldsBoot(const fs::path& phoneFolder, const std::vector<std::uint8_t>& image) {
    std::ifstream in(phoneFolder / ("flash-" + std::to_string(IMAGE_BOOT) + ".bin"), std::ios::binary);
    const std::vector<std::uint8_t> area{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return area.size() == static_cast<std::size_t>(DemoLayout::bootSize) &&
           std::equal(area.begin(), area.end(), image.begin() + DemoLayout::bootStart);
}

constexpr int DEMO_DAY_PHONES = 4;  // on each line

// A station's morning on `lines` lines: DEMO_DAY_PHONES phones each, at random times, leaving by their
// port or by silence. A phone that follows a silent one comes after the station has seen the
// line empty.
std::vector<sim::DayLine> DemoDay(const fs::path& dir, int lines) {
    sim::SimRandom random(20261209);
    std::vector<sim::DayLine> day;
    for (int line = 1; line <= lines; ++line) {
        sim::DayLine l{(dir / ("line" + std::to_string(line))).string(), {}};
        Millis after(static_cast<std::int64_t>(random.Between(300, 4000)));
        for (int k = 0; k < DEMO_DAY_PHONES; ++k) {
            const auto detach = random.Chance(0.5) ? sim::Detach::Silent : sim::Detach::Vanish;
            l.phones.push_back({after, detach, Millis(static_cast<std::int64_t>(random.Between(0, 1500)))});
            after = Millis(static_cast<std::int64_t>(random.Between(500, 3000))) +
                    (detach == sim::Detach::Silent ? Millis(2500) : Millis(0));
        }
        day.push_back(std::move(l));
    }
    return day;
}

int StationDemo(const DemoOptions& options, const fs::path& dir, const std::vector<std::uint8_t>& image) {
    sim::PhoneOptions phoneOptions;
    phoneOptions.stateDir = dir / "phones";
    const std::vector<sim::DayLine> plan = DemoDay(dir, options.phones);
    std::unique_ptr<sim::StationDay> day;
    try {
        day = std::make_unique<sim::StationDay>(phoneOptions, plan);
        day->Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt demo: cannot start the simulated phones: %s\n", e.what());
        return EXIT_USAGE;
    }
    std::vector<std::string> words = {"--config", (dir / "ZOLT.ini").string(), "--workdir", dir.string(),
                                      "--image", (dir / "image.bin").string(), "--update", "boot",
                                      "--report", (dir / "report.json").string(),
                                      "--count", std::to_string(DEMO_DAY_PHONES * options.phones)};
    for (const sim::DayLine& line : plan) {
        words.push_back("--port");
        words.push_back(line.link);
    }
    std::printf("\nzolt station");
    for (const auto& word : words) std::printf(" %s", word.c_str());
    std::printf("\n\n");
    std::fflush(stdout);
    const int status = StationCommand(words, dir.string());
    day->Stop();
    if (status == EXIT_INTERRUPTED) return status;
    int flashed = 0, twice = 0;
    for (const sim::DayPhoneRecord& phone : day->Records()) {
        twice += phone.jobs > 1;
        flashed += HoldsBoot(phoneOptions.stateDir / ("phone-" + std::to_string(phone.line * 100 + phone.phone)), image);
    }
    const int phones = DEMO_DAY_PHONES * options.phones;
    const bool ok = status == EXIT_OK && flashed == phones && twice == 0;
    std::printf("\nPhones holding the image's Boot section: %d of %d; done twice: %d\nVerdict: %s\n", flashed, phones,
                twice, ok ? "every phone was flashed once, exactly with the image" : "the station did not succeed");
    return ok ? EXIT_OK : EXIT_LINE_FAILED;
}

}  // namespace

int DemoCommand(const std::vector<std::string>& args) {
    int status = EXIT_OK;
    const auto options = ParseDemoOptions(args, status);
    if (!options) return status;

    // The phones' threads must not take Ctrl-C: the job's watcher does (started by run).
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    const fs::path dir = MakeFolder(options->dir);
    if (dir.empty()) return EXIT_USAGE;
    const auto image = MakeImage();
    if (!WriteFiles(dir, image)) return EXIT_USAGE;
    std::printf("Demo folder: %s\n", dir.c_str());
    if (options->filesOnly) return EXIT_OK;
    if (options->station) return StationDemo(*options, dir, image);

    sim::PhoneOptions phoneOptions;
    phoneOptions.stateDir = dir / "phones";
    sim::BankSetup setup;
    setup.count = options->phones;
    std::unique_ptr<sim::SimBank> bank;
    try {
        bank = std::make_unique<sim::SimBank>(phoneOptions, setup);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt demo: cannot start the simulated phones: %s\n", e.what());
        return EXIT_USAGE;
    }
    bank->Start();
    for (std::size_t k = 0; k < bank->Size(); ++k) std::printf("Phone %zu on %s\n", k + 1, (*bank)[k].Path().c_str());

    const std::vector<std::string> run = RunWords(dir, *bank, options->withCal);
    std::printf("\nzolt run");
    for (const auto& word : run) std::printf(" %s", word.c_str());
    std::printf("\n\n");
    std::fflush(stdout);

    status = RunCommand(run, dir.string());
    if (status == EXIT_INTERRUPTED) {
        bank->Stop();
        return status;
    }
    const bool ok = CheckPhones(*bank, image) && status == EXIT_OK;
    bank->Stop();
    std::printf("\nVerdict: %s\n", ok ? "every phone was flashed exactly with the image" : "the demo job did not succeed");
    return ok ? EXIT_OK : EXIT_LINE_FAILED;
}

}  // namespace zolt::cli
