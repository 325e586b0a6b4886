#include "soak/campaign_job.h"

#include <algorithm>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "sim/cal_handlers.h"
#include "sim/trace.h"
#include "support/sim_job_posix.h"

namespace zolt::soak {

namespace {

using namespace std::chrono_literals;
using test::SimBytes;

// The phone's own times, shorter than a real phone's where a real one only makes the job
// long: an erase of these few blocks in 200 ms instead of 800, a restart in 300 ms instead of
// a second. The tool's limits that wait for them below keep the same margins over them as
// the standard table keeps over a real phone's.
sim::PhoneOptions PhoneTimes() {
    sim::PhoneOptions o;
    o.bootGap = 300ms;
    o.eraseTime = 200ms;
    o.restartTime = 300ms;
    return o;
}

// The script every Script job plays: a database write, which a script skips, and two setting
// writes, the calibration setting's among them, which it must apply.
constexpr std::uint16_t SCRIPT_TYPE = 40;
constexpr std::uint16_t SCRIPT_ID = 9;
const SimBytes SCRIPT_SETTING = {0x0A, 0x0B};

std::string ScriptText(std::uint8_t calSetting) {
    std::ostringstream s;
    s << "ETS, Id=CP Power, Power=Down\n"
         "ETS, Id=CP DB Write, DB id=RF Write, Segment=RfTx, Offset=0, Bytes=2, Write Thru=1, Data=0x01 \n0x02 \n"
         "ETS, Id=CP FFS SIDB WRITE, Type="
      << SCRIPT_TYPE << ", id=" << SCRIPT_ID
      << ", len=2, offset=0, Data=0x0a 0x0b \n"
         "ETS, Id=CP FFS SIDB WRITE, Type=18, id=3, len=1, offset=0, Data=0x"
      << std::hex << static_cast<int>(calSetting) << " \nEND\n";
    return s.str();
}

// The phone's calibration as it reads now: every page, then the setting.
std::vector<SimBytes> Calibration(const test::SimJob& run, int line) {
    std::vector<SimBytes> cal;
    for (const test::SimPage& p : run.pages) cal.push_back(run.PageNow(line, p));
    cal.push_back({run.SettingNow(line)});
    return cal;
}

// What phone `line` holds that a Done line's phone must not: a flash area that differs from
// its image section, calibration that differs from before the job, a script record missing.
std::string Wrong(const test::SimJob& run, const JobPlan& plan, int line, const std::vector<SimBytes>& calBefore,
                  std::uint8_t scriptSetting) {
    std::string wrong;
    struct Section {
        int task, type, start, size;
    };
    static constexpr Section SECTIONS[] = {
        {TASK_UPDATE_BOOT, IMAGE_BOOT, 0, 1000},
        {TASK_UPDATE_CP, IMAGE_CP, 1000, 3000},
        {TASK_UPDATE_DATA, IMAGE_DATA, 4000, 2000}};
    const std::vector<int> tasks = JobTasks(plan.kind);
    for (const Section& s : SECTIONS) {
        if (std::find(tasks.begin(), tasks.end(), s.task) == tasks.end()) continue;
        const SimBytes want(run.image.begin() + s.start, run.image.begin() + s.start + s.size);
        const auto file = run.PhoneFolder(line) / ("flash-" + std::to_string(s.type) + ".bin");
        if (test::ReadWholeFile(file) != want) wrong += " flash area " + std::to_string(s.type) + ";";
    }
    if (plan.kind == JobKind::FullWithCal) {
        const std::vector<SimBytes> now = Calibration(run, line);
        for (std::size_t p = 0; p < run.pages.size(); ++p) {
            if (now[p] != calBefore[p]) wrong += std::string(" page ") + run.pages[p].name + ";";
        }
        if (now.back() != calBefore.back()) wrong += " calibration setting;";
    }
    if (plan.kind == JobKind::Script) {
        const bool applied = run.phones[static_cast<std::size_t>(line)]->Inspect([&](const sim::PhoneCore& p) {
            const auto& settings = p.State().settings;
            const auto record = settings.find({SCRIPT_TYPE, SCRIPT_ID});
            return record != settings.end() && record->second == SCRIPT_SETTING;
        });
        if (!applied) wrong += " script setting record;";
        if (run.SettingNow(line) != scriptSetting) wrong += " calibration setting record;";
    }
    return wrong;
}

// The task list as an operator picks it: CP with Data is what the CP choice gives under update
// flag 4.
int BuildTasks(JobControl& job, JobKind kind) {
    switch (kind) {
        case JobKind::FullWithCal: return job.BuildTaskList(CHOICE_ALL, true);
        case JobKind::Boot: return job.BuildTaskList(CHOICE_BOOT, false);
        case JobKind::CpAndData: job.config.updateFlag = 4; return job.BuildTaskList(CHOICE_CP, false);
        case JobKind::Data: return job.BuildTaskList(CHOICE_DATA, false);
        case JobKind::Script: return job.BuildTaskList(CHOICE_SCRIPT, false);
    }
    return 0;
}

void Count(std::map<std::string, std::uint64_t>& counts, const std::string& key) { ++counts[key]; }

// Reads the faults the phones played off their trace lines ("0.123 #2 TX ... fault: late").
void CountFaults(const std::string& trace, JobResult& result) {
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        const bool sent = line.find(" TX ") != std::string::npos;
        // The second copy of a reply sent twice carries no fault note of its own.
        if (sent && line.find("(again)") != std::string::npos) Count(result.faults, "duplicated reply");
        // A reply the protocol allows, so not noted as a fault.
        if (line.find("erased, answered send block 2") != std::string::npos) {
            Count(result.faults, "erase answered \"send block 2\"");
        }
        const auto fault = line.find("fault: ");
        if (fault == std::string::npos) continue;
        if (line.find(" TX-LOST ") != std::string::npos) Count(result.faults, "lost reply");
        if (line.find("fault: noise") != std::string::npos) {
            Count(result.faults, "noise burst (any byte, 0xFE/0xFD too)");
        }
        if (sent && line.find("damaged") != std::string::npos) {
            Count(result.faults, "damaged reply (byte changed or cut off)");
        }
        if (sent && (line.find("fault: late") != std::string::npos || line.find(", late") != std::string::npos)) {
            Count(result.faults, "late reply (past both reply limits)");
        }
        if (line.find("fault: short on") != std::string::npos) Count(result.faults, "short reply");
        if (line.find("fault: silent") != std::string::npos) Count(result.faults, "phone gone silent");
        if (line.find("fault: line closed") != std::string::npos) Count(result.faults, "disconnect (line closed)");
        if (line.find("asked for again") != std::string::npos) Count(result.faults, "block asked for again");
        if (line.find("skipped to") != std::string::npos) Count(result.faults, "block skipped ahead");
        if (line.find("answered oddly") != std::string::npos) Count(result.faults, "record refused/ignored/chattered");
        if (sent && line.find("fault: chatter") != std::string::npos) {
            Count(result.faults, "chatter frame (answers nothing)");
        }
        if (line.find("fault: stored byte") != std::string::npos) Count(result.faults, "database write stored wrong");
        // "fault: ACTION on KIND N": an aimed rule played.
        const auto on = line.find(" on ", fault);
        if (on == std::string::npos) continue;
        const std::string action = line.substr(fault + 7, on - fault - 7);
        const std::string rest = line.substr(on + 4);
        Count(result.aimed, rest.substr(0, rest.find(' ')) + " " + action);
    }
}

// The waits in which a line waits for its phone for as long as it takes, until the operator
// stops the job (a phone may be attached late, and a phone left half restored must not be
// given up on): the boot-loader and file-system handshakes and the echo that opens a restore
// or script, all probes; the backup's setting read; the restore's setting write. A line whose
// phone has gone silent after hearing one of their requests last is waiting as it should.
bool WaitsForSilentPhone(const test::SimJob& run, int line) {
    using Body = std::vector<std::uint8_t>;
    static const Body WAIT_REQUESTS[] = {
        {0x00, 0x00, 0x01},              // loopback probe
        {0xA2, 0x07, 0x12, 0x00, 0x08},  // file-system access
        {0xA1, 0x07, 0x12, 0x00, 0x03},  // read of the calibration setting
        {0xA2, 0x07, 0x12, 0x00, 0x03},  // write of the calibration setting
    };
    return run.phones[static_cast<std::size_t>(line)]->Inspect([](const sim::PhoneCore& p) {
        const sim::PhoneState& state = p.State();
        if (!state.silent || state.recent.empty()) return false;
        const Body& last = state.recent.back();
        return std::any_of(std::begin(WAIT_REQUESTS), std::end(WAIT_REQUESTS), [&](const Body& wait) {
            return last.size() >= wait.size() && std::equal(wait.begin(), wait.end(), last.begin());
        });
    });
}

bool Ended(const std::vector<int>& outcomes) {
    return std::find(outcomes.begin(), outcomes.end(), TASK_FAIL) != outcomes.end() ||
           std::all_of(outcomes.begin(), outcomes.end(), [](int o) { return o == TASK_DONE; });
}

std::vector<int> Outcomes(const JobControl& job, int line) {
    std::vector<int> outcomes;
    for (int t = 0; t < job.tasks.taskCount; ++t) outcomes.push_back(job.tasks.LineOutcome(t, line));
    return outcomes;
}

// Runs the job as a front end does, handing the workers' events to job control, until every
// line has ended, or every line still running has sat in a wait for its silent phone for
// `settle`, or `bound` has passed; then stops what still runs, as the operator would.
void RunLines(test::SimJob& run, const std::string& file, Millis bound, const Timing& timing, JobResult& result) {
    using Clock = std::chrono::steady_clock;
    const int lines = static_cast<int>(run.phones.size());
    // Longer than a script may send the setting write to a silent phone before it fails.
    const Millis settle = timing.receiveFrameLimit * (timing.calRecordResendLimit + 1);
    const auto started = Clock::now();
    const int running = run.job->StartJob(file, run.work.path().string());
    std::size_t seen = 0;
    int finished = 0;
    Clock::time_point allWaitingSince{};
    bool allWaiting = false;
    while (finished < running && Clock::now() < started + bound) {
        (void)run.sink.WaitFor(WM_PORT_TASK_DONE, seen + 1, Millis(100));
        const auto events = run.sink.events();
        for (; seen < events.size(); ++seen) {
            const auto& e = events[seen];
            run.job->OnLineEvent(e.message, e.wParam, e.lParam);
            finished += e.message == WM_PORT_ALL_DONE || e.message == WM_PORT_FAILED;
        }
        bool waiting = true;
        for (int i = 0; i < lines && waiting; ++i) {
            if (Ended(Outcomes(*run.job, i))) continue;
            waiting = WaitsForSilentPhone(run, i);
        }
        if (waiting && !allWaiting) allWaitingSince = Clock::now();
        allWaiting = waiting;
        if (allWaiting && Clock::now() - allWaitingSince >= settle) break;
    }
    result.took = std::chrono::duration_cast<Millis>(Clock::now() - started);
    for (int i = 0; i < lines; ++i) {
        LineResult line;
        const std::vector<int> outcomes = Outcomes(*run.job, i);
        line.status = run.job->lines[static_cast<std::size_t>(i)].statusText.Get();
        if (std::find(outcomes.begin(), outcomes.end(), TASK_FAIL) != outcomes.end()) {
            line.outcome = LineOutcome::Failed;
        } else if (Ended(outcomes)) {
            line.outcome = LineOutcome::Done;
        } else if (WaitsForSilentPhone(run, i)) {
            line.outcome = LineOutcome::WaitingForSilentPhone;
        }
        result.hung = result.hung || line.outcome == LineOutcome::Hung;
        result.lines.push_back(line);
    }
    if (finished < running) {
        const auto stopping = Clock::now();
        run.job->StopJob();
        result.stopTook = std::chrono::duration_cast<Millis>(Clock::now() - stopping);
        // Stopping wakes every wait at once; a line that takes longer to let go is stuck.
        if (result.stopTook > STOP_LIMIT) result.hung = true;
    }
}

}  // namespace

Timing CampaignTiming() {
    Timing t = test::FaultJobTiming();
    // Ten times the phone's erase, as a minute is to a real phone's erase of a few seconds.
    t.eraseReplyLimit = 2s;
    // Twice the phone's restart. The pause after a record stays as it is: a restore clears
    // away answers delivered twice in it.
    t.dataResetPause = 600ms;
    return t;
}

sim::PhoneOptions CampaignPhone() { return PhoneTimes(); }

Millis JobBound(const Timing& t, int tasks) {
    const Millis once = t.probeGap + t.bootProbeGap + t.eraseReplyLimit + t.flashDonePause + t.dataResetPause +
                        t.threadStartGap + t.stopPause + t.writeLimit + t.portLostLimit + t.calRecordGap +
                        t.backupSettingPause + t.backupFileShowPause + t.backupBootWaitPause +
                        t.restoreSettingPause + t.restoreDonePause;
    const Millis retried = t.receiveFrameLimit * std::max(t.calPageAttemptLimit, t.calRecordResendLimit) +
                           t.waitReplyLimit * t.flashAttemptLimit;
    return (once + retried) * tasks;
}

int JobResult::Defects() const {
    int defects = 0;
    for (const LineResult& line : lines) {
        defects += line.outcome == LineOutcome::Hung || !line.wrong.empty() ||
                   (line.outcome == LineOutcome::Failed && line.status.empty());
    }
    return defects + (hung && defects == 0);
}

JobResult RunJob(const JobPlan& plan, const Timing& timing, Millis bound) {
    JobResult result;
    std::ostringstream traceText;
    {
        auto trace = std::make_shared<sim::TraceSink>(traceText);
        std::vector<sim::PhoneOptions> options;
        for (const LinePlan& line : plan.lines) {
            sim::PhoneOptions o = CampaignPhone();
            o.faults = line.faults;
            options.push_back(o);
        }
        std::size_t next = 0;
        std::vector<test::SimPage> pages = test::SIM_PAGES;
        for (const PlanPage& p : plan.samePages) pages.push_back({p.name, p.db, p.segment, p.offset, p.bytes});
        test::SimJob run(
            options, timing,
            [&](sim::SimPhone& phone) {
                const sim::CalFaults& cal = plan.lines[next++].calFaults;
                if (!cal.rules.empty()) sim::InstallCalibrationFaults(phone.Handlers(), cal);
            },
            trace, pages);
        if (BuildTasks(*run.job, plan.kind) != 1) throw std::logic_error("no task list for the job kind");
        const int lines = static_cast<int>(plan.lines.size());
        std::vector<std::vector<SimBytes>> calBefore;
        for (int i = 0; i < lines; ++i) calBefore.push_back(Calibration(run, i));
        const auto scriptSetting = static_cast<std::uint8_t>(0x20 + plan.seed % 0xC0);

        const std::string file = plan.kind == JobKind::Script ? run.work.Write("play.srp", ScriptText(scriptSetting))
                                                              : run.work.Write("image.bin", run.image);
        RunLines(run, file, bound, timing, result);
        for (int i = 0; i < lines; ++i) {
            LineResult& line = result.lines[static_cast<std::size_t>(i)];
            // Every worker has ended by now, so the line's calibration state is ours to read.
            line.pagesRewritten = run.job->lines[static_cast<std::size_t>(i)].cal.pagesRewritten;
            if (line.outcome == LineOutcome::Done) {
                line.wrong = Wrong(run, plan, i, calBefore[static_cast<std::size_t>(i)], scriptSetting);
            }
        }
    }
    result.trace = traceText.str();
    CountFaults(result.trace, result);
    return result;
}

}  // namespace zolt::soak
