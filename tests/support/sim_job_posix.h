// A whole job of job control, Backup, Boot, CP, Data and Restore with the standard runners,
// on simulated phones over pseudo-terminals, each phone with options of its own and its flash
// and calibration kept in a folder of its own; and what a line's phone should hold after it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "job/job_control.h"
#include "link/flash.h"
#include "sim/cal_database.h"
#include "sim/sim_phone.h"
#include "support/catalog_text.h"
#include "support/fake_prober.h"
#include "support/recording_prompt.h"
#include "support/recording_sink.h"
#include "support/recording_view.h"
#include "support/sim_core_posix.h"
#include "support/sim_line_posix.h"
#include "support/temp_dir.h"

namespace zolt::test {

// The tool's reply limits as they are, with what only makes a job long against a simulated
// phone cut short. The phones' boot gap (300 ms) lies between the file-system probes (100 ms
// apart) and the boot-loader handshake's pause (400 ms); the pause after a backup outlasts it,
// so the flash after a backup finds a quiet line. The simulated phone commits at once, and one
// that missed a pause would show as wrong data, not as a pass. Fewer attempts, so that a phone
// gone silent fails its line in seconds: that only turns more lines into failures, which are
// judged as strictly as passes. The erase and restart limits depend on the phones' own times:
// the caller sets them.
inline Timing FaultJobTiming() {
    using namespace std::chrono_literals;
    Timing t = Timing::Standard();
    t.bootProbeGap = 400ms;
    t.backupBootWaitPause = 350ms;
    t.flashDonePause = 10ms;
    t.threadStartGap = 1ms;
    t.backupSettingPause = 5ms;
    t.backupFileShowPause = 5ms;
    t.restoreSettingPause = 5ms;
    t.restoreDonePause = 5ms;
    t.calPageAttemptLimit = 3;
    t.calRecordResendLimit = 3;
    t.flashAttemptLimit = 20;
    return t;
}

using SimPage = CatalogPage;

// Both databases, pages in one segment side by side, sizes around the data items' line
// breaks, and a page of 300 bytes.
inline const std::vector<SimPage> SIM_PAGES = {
    {"RfTx", 1, 4, 0, 17}, {"RfRx", 1, 4, 17, 32}, {"CpBand", 0, 9, 100, 1},
    {"CpLong", 0, 12, 0, 300}, {"CpMid", 0, 200, 65000, 16},
};

// The catalogue's page read id, which the phones must know.
inline constexpr std::uint16_t SIM_PAGE_READ_ID = 4660;

// What differs between phone `number`'s calibration pages and setting as kept in `folder` and
// its factory's; empty when nothing.
inline std::string CalDifferences(int number, const std::filesystem::path& folder) {
    const sim::CalDatabase now(number, folder), factory(number);
    std::string wrong;
    for (const SimPage& p : SIM_PAGES) {
        const auto at = static_cast<std::size_t>(p.offset), size = static_cast<std::size_t>(p.bytes);
        if (now.Read(p.db, p.segment, at, size) != factory.Read(p.db, p.segment, at, size)) wrong += std::string(" ") + p.name;
    }
    if (now.Setting() != factory.Setting()) wrong += " setting";
    return wrong;
}

// A job small enough that a phone's whole job takes about a second at the line's speed: an
// image of three sections, its identification in the CP version block right behind the CP
// checksum word, and the configuration that places them.
struct SmallJob {
    static constexpr std::int32_t BOOT_SIZE = 2000, CP_SIZE = 3000, DATA_SIZE = 1500;
    static constexpr std::int32_t CP_START = BOOT_SIZE, DATA_START = BOOT_SIZE + CP_SIZE;

    // Writes image.bin and ZOLT.ini into `dir`; returns the image.
    static SimBytes Write(const std::filesystem::path& dir) {
        SimBytes image(DATA_START + DATA_SIZE);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        const std::size_t block = CP_START + 0x100 + 2;
        std::memset(&image[block], 0, 32);
        std::memcpy(&image[block], "TESTID", 6);
        std::memcpy(&image[block + 10], "MODEL", 5);
        std::ofstream(dir / "image.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        std::ofstream(dir / "ZOLT.ini")
            << "[MainConfig]\nCheckInfo=TESTID\nMobileName=MODEL\nUpdateFlag=0\n"
            << "[BootConfig]\nStart=0\nSize=" << BOOT_SIZE << "\nChksumPos=0x100\n"
            << "[CpConfig]\nStart=" << CP_START << "\nSize=" << CP_SIZE << "\nChksumPos=" << CP_START + 0x100 << "\n"
            << "[DataConfig]\nStart=" << DATA_START << "\nSize=" << DATA_SIZE << "\n";
        return image;
    }
};

inline SimBytes ReadWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return SimBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SimJob {
public:
    // Phone i is numbered i + 1 and keeps its state in PhoneFolder(i); `setup`, when given,
    // may change each phone's handlers before it starts. The phones trace to `trace`. The
    // lines' catalogue lists `catalogue`.
    SimJob(std::vector<sim::PhoneOptions> options, const Timing& timing,
           const std::function<void(sim::SimPhone&)>& setup = {},
           const std::shared_ptr<sim::TraceSink>& trace = TestTrace(),
           std::vector<SimPage> catalogue = SIM_PAGES)
        : pages(std::move(catalogue)) {
        WriteCatalog(work.path(), pages, SIM_PAGE_READ_ID);
        auto prober = std::make_unique<FakeProber>();
        for (std::size_t i = 0; i < options.size(); ++i) {
            options[i].stateDir = PhoneFolder(static_cast<int>(i));
            options[i].pageReadIds = {SIM_PAGE_READ_ID};
            phones.push_back(sim::SimPhone::Create(options[i], {}, static_cast<int>(i) + 1, trace));
            if (setup) setup(*phones.back());
            prober->candidates.push_back(phones.back()->Path());
            prober->states[phones.back()->Path()] = PORT_FREE;
        }
        for (auto& p : phones) p->Start();
        {
            // Each line reads the catalogue from the current folder when job control is made.
            const CurrentDirectoryGuard inWork(work.path());
            job = std::make_unique<JobControl>(view, prompt, sink, std::move(prober));
        }
        job->SetTiming(timing);
        job->SelectPorts([](const std::vector<PortEntry>& rows) {
            std::vector<int> all;
            for (std::size_t i = 0; i < rows.size(); ++i) all.push_back(static_cast<int>(i));
            return std::optional<std::vector<int>>(all);
        });
        ConfigureImage();
    }
    ~SimJob() {
        job.reset();
        for (auto& p : phones) p->Stop();
    }

    // Runs the job with the image, handing the workers' events to job control as a front end
    // does, until every line has finished or `limit` has passed; then notes every line's task
    // outcomes and status and stops what still runs (which resets the outcomes). Returns the
    // number of lines that finished.
    int Run(std::chrono::milliseconds limit) {
        return Run(limit, work.Write("image.bin", image), work.path().string());
    }
    // The same with another job file or working folder.
    int Run(std::chrono::milliseconds limit, const std::string& file, const std::string& workDir) {
        const int started = job->StartJob(file, workDir);
        std::size_t seen = 0;
        int finished = 0;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (finished < started && std::chrono::steady_clock::now() < deadline) {
            (void)sink.WaitFor(WM_PORT_TASK_DONE, seen + 1, Millis(100));
            const auto events = sink.events();
            for (; seen < events.size(); ++seen) {
                const auto& e = events[seen];
                job->OnLineEvent(e.message, e.wParam, e.lParam);
                finished += e.message == WM_PORT_ALL_DONE || e.message == WM_PORT_FAILED;
            }
        }
        outcomes_.clear();
        statuses_.clear();
        for (int line = 0; line < static_cast<int>(phones.size()); ++line) {
            std::vector<int> outcomes;
            for (int t = 0; t < job->tasks.taskCount; ++t) outcomes.push_back(job->tasks.LineOutcome(t, line));
            outcomes_.push_back(outcomes);
            statuses_.push_back(job->lines[static_cast<std::size_t>(line)].statusText.Get());
        }
        if (finished < started) job->StopJob();
        return finished;
    }

    // As noted at the end of Run.
    const std::vector<int>& Outcomes(int line) const { return outcomes_[static_cast<std::size_t>(line)]; }
    const std::string& Status(int line) const { return statuses_[static_cast<std::size_t>(line)]; }

    std::filesystem::path PhoneFolder(int i) const {
        return work.path() / "phones" / ("phone-" + std::to_string(i + 1));
    }
    // The phone's calibration page as it reads now; the factory's when never written.
    SimBytes PageNow(int i, const SimPage& p) const {
        return sim::CalDatabase(i + 1, PhoneFolder(i))
            .Read(p.db, p.segment, static_cast<std::size_t>(p.offset), static_cast<std::size_t>(p.bytes));
    }
    std::uint8_t SettingNow(int i) const { return sim::CalDatabase(i + 1, PhoneFolder(i)).Setting(); }
    static SimBytes FactoryPage(int i, const SimPage& p) {
        return sim::CalDatabase(i + 1).Read(p.db, p.segment, static_cast<std::size_t>(p.offset),
                                            static_cast<std::size_t>(p.bytes));
    }
    static std::uint8_t FactorySetting(int i) { return sim::CalDatabase(i + 1).Setting(); }

    // What is wrong with phone i against the image and its factory calibration; empty when
    // nothing is.
    std::string Differences(int i) const {
        std::string wrong;
        const std::pair<int, std::pair<int, int>> sections[] = {
            {IMAGE_BOOT, {0, 1000}}, {IMAGE_CP, {1000, 3000}}, {IMAGE_DATA, {4000, 2000}}};
        for (const auto& [type, at] : sections) {
            const SimBytes want(image.begin() + at.first, image.begin() + at.first + at.second);
            if (ReadWholeFile(PhoneFolder(i) / ("flash-" + std::to_string(type) + ".bin")) != want) {
                wrong += " flash area " + std::to_string(type) + ";";
            }
        }
        for (const SimPage& p : pages) {
            if (PageNow(i, p) != FactoryPage(i, p)) wrong += std::string(" page ") + p.name + ";";
        }
        if (SettingNow(i) != FactorySetting(i)) wrong += " setting;";
        return wrong;
    }

    std::vector<SimPage> pages;
    TempDir work;
    std::vector<std::unique_ptr<sim::SimPhone>> phones;
    RecordingView view;
    RecordingPrompt prompt;
    RecordingSink sink;
    std::unique_ptr<JobControl> job;
    SimBytes image;

private:
    std::vector<std::vector<int>> outcomes_;
    std::vector<std::string> statuses_;

    // Sections of a few blocks each, and the identification the configuration expects.
    void ConfigureImage() {
        Config& c = job->config;
        c.checkInfo = "ZOLTCDMA";
        c.mobileName = "Z600";
        c.bootStart = 0;
        c.bootSize = 1000;
        c.bootChksumPos = 0x100;
        c.cpStart = 1000;
        c.cpSize = 3000;
        c.cpChksumPos = 0x600;
        c.dataStart = 4000;
        c.dataSize = 2000;
        image = SectionBytes(6000, 3);
        const std::size_t cpBlock = 0x600 + 2;
        std::fill_n(image.begin() + cpBlock, 32, 0);
        std::memcpy(image.data() + cpBlock, "ZOLTCDMA", 8);
        std::memcpy(image.data() + cpBlock + 10, "Z600", 4);
    }
};

}  // namespace zolt::test
