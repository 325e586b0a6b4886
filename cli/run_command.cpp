// `zolt run`: one job on up to 32 lines, from a terminal or a script.
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "cli/commands.h"
#include "cli/console_prompt.h"
#include "cli/event_queue.h"
#include "cli/interrupt.h"
#include "cli/job_summary.h"
#include "cli/line_groups.h"
#include "cli/port_listing.h"
#include "cli/run_checks.h"
#include "cli/run_options.h"
#include "cli/terminal_view.h"
#include "cli/trace_file.h"
#include "cli/tty.h"
#include "cal/backup.h"
#include "cal/srp_reader.h"
#include "history/history_recorder.h"
#include "io/atomic_file.h"
#include "job/config_file.h"
#include "job/job_checks.h"
#include "job/update_choices.h"
#include "io/texts.h"

namespace zolt::cli {

namespace {

using Clock = std::chrono::steady_clock;

int Usage(const std::string& error) {
    std::fprintf(stderr, "zolt run: %s\n%s", error.c_str(), RUN_USAGE);
    return EXIT_USAGE;
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "zolt: %s\n", text.c_str());
    return EXIT_USAGE;
}

std::string AllowedChoicesText(std::int32_t updateFlag) {
    const UpdateChoices c = OfferedChoices(updateFlag);
    std::string text;
    auto add = [&](bool on, const char* name) {
        if (on) text += (text.empty() ? "" : ", ") + std::string(name);
    };
    add(c.all, c.withCal ? "all (also with --with-cal)" : "all");
    add(c.boot, "boot");
    add(c.cp || c.cpAndData, updateFlag == 4 ? "cp (Update CP and Update Data)" : "cp");
    add(c.data, "data");
    return text.empty() ? "none" : text;
}

// With update flag 4, --update cp writes the Data section as well and so erases the
// calibration: as for data, only when --no-cal says so. The message, or nothing.
std::optional<std::string> CpCalibrationError(const RunOptions& options, std::int32_t updateFlag) {
    if (options.choice != CHOICE_CP) return std::nullopt;
    if (updateFlag == 4 && !options.noCal) {
        return "with the configuration's update flag 4, --update cp also writes the Data section, which erases "
               "the phone's calibration: add --no-cal if erasing it is intended";
    }
    if (updateFlag != 4 && options.noCal) return "--no-cal only goes with --update all or data";
    return std::nullopt;
}

// Image bytes a finished flash task wrote.
std::uint64_t PayloadOf(std::uint8_t code, const Config& config) {
    auto size = [](std::int32_t s) { return s > 0 ? static_cast<std::uint64_t>(s) : 0; };
    switch (code) {
        case TASK_UPDATE_BOOT: return size(config.bootSize);
        case TASK_UPDATE_CP: return size(config.cpSize);
        case TASK_UPDATE_DATA: return size(config.dataSize);
        default: return 0;
    }
}

// Why a port that the port list shows as not free cannot be used.
std::string RefusalOf(const PortEntry& entry, const std::string& typed) {
    if (entry.permissionDenied) return "port " + typed + ": " + PermissionAdvice(entry.deviceGroup);
    if (entry.state == PORT_USED_BY_OTHERS) return "port " + typed + " is used by another program";
    return "port " + typed + " cannot be opened";
}

// Attaches the named ports to lines 1, 2, ... in order, eight to a group. `devices` are the
// ports' devices (stable names resolved). On failure returns the message.
std::optional<std::string> AttachPorts(LineGroups& groups, const std::vector<std::string>& typed,
                                       const std::vector<std::string>& devices, std::vector<int>& lineIndexes) {
    for (std::size_t k = 0; k < devices.size(); ++k) {
        const int group = LineGroups::GroupOf(static_cast<int>(k));
        JobControl& job = groups.Group(group);
        const int row = job.RowOfDevice(devices[k]);
        if (row < 0) return MissingPortText(typed[k], devices[k]);
        if (job.portList[row].state != PORT_FREE) return RefusalOf(job.portList[row], typed[k]);
        const int line = job.AttachRow(row);
        if (line < 0) return RefusalOf(job.portList[row], typed[k]);
        lineIndexes.push_back(group * LINE_COUNT + line);
    }
    return std::nullopt;
}

// The devices behind the ports given. Two names of one device (its kernel name and a by-id
// link, say) would put one phone on two lines. On failure returns the message.
std::optional<std::string> ResolvePorts(const std::vector<std::string>& typed, std::vector<std::string>& devices) {
    for (const auto& name : typed) {
        devices.push_back(PortDeviceOf(name));
        for (std::size_t k = 0; k + 1 < devices.size(); ++k) {
            if (devices[k] == devices.back()) return "ports " + typed[k] + " and " + name + " are the same device " + devices[k];
        }
    }
    return std::nullopt;
}

// What became of one line: its outcome per task and in all, its status line and its time.
LineSummary SummarizeLine(const JobControl& job, int index, double seconds) {
    const PortSession& line = job.lines[static_cast<std::size_t>(index)];
    LineSummary l;
    l.lineNumber = line.lineNumber;
    l.device = line.portName;
    l.status = line.statusText.Get();
    l.seconds = seconds;
    for (int t = 0; t < job.tasks.taskCount; ++t) {
        const TaskStatus outcome = job.tasks.LineOutcome(t, index);
        l.outcomes.emplace_back(TaskStatusName(outcome));
        if (outcome == TASK_DONE) l.payloadBytes += PayloadOf(job.tasks.tasks[t].code, job.config);
    }
    l.result = LineResult(job.tasks, index);
    return l;
}

// A script sends only its FFS SIDB writes; an operator who put calibration pages in one
// hears, before anything is sent, that they will not reach the phone.
void TellSkippedDbWrites(std::span<const std::uint8_t> script) {
    const int skipped =
        CountRecordsOfKind(std::string_view(reinterpret_cast<const char*>(script.data()), script.size()), SRP_DB_WRITE);
    if (skipped == 0) return;
    std::fprintf(stderr, "zolt: %d database-write record%s not sent by a script; use a restore for them\n",
                 skipped, skipped == 1 ? " is" : "s are");
}

// Reads the configuration and the job's file into one group and builds its task list.
// Returns the exit status when the job cannot start.
std::optional<int> LoadGroup(JobControl& job, const RunOptions& options, Prompt& prompt, const std::string& workDir) {
    const bool isScript = !options.script.empty();
    const bool isRestore = !options.restore.empty();
    const std::string& path = JobFilePath(options);
    ReadConfig(job.config, options.config);
    if (!isScript && !isRestore && !ChoiceAllowed(job.config.updateFlag, options.choice, options.withCal)) {
        return Fail("the configuration's update flag " + std::to_string(job.config.updateFlag) + " allows --update " +
                    AllowedChoicesText(job.config.updateFlag));
    }
    if (auto error = CpCalibrationError(options, job.config.updateFlag)) return Fail(*error);
    if (isRestore) {
        job.tasks.Assign({TASK_RESTORE_CAL});
    } else {
        job.BuildTaskList(isScript ? CHOICE_SCRIPT : options.choice, options.withCal);
    }
    const int loaded = isScript || isRestore ? job.file.LoadPlainFile(path) : job.file.LoadRomImage(path);
    if (loaded == LOAD_FAILED) return EXIT_USAGE;  // the loader has said why
    // A file too short for what the tasks write says so, whatever its version blocks hold.
    if (!isScript && !isRestore) {
        if (auto problem = ImageSectionProblem(job.tasks, job.config, job.file.Bytes().size(), path)) {
            return Fail(*problem);
        }
    }
    if (loaded == LOAD_FORMAT_ERROR) {
        prompt.ShowMessage(texts::FILE_FORMAT_ERROR, PromptIcon::Error);
        return Fail(MismatchText(path, job.file.info(), job.config));
    }
    if (auto problem = job.CheckJob(path, workDir)) return Fail(*problem);
    return std::nullopt;
}

// Reads the configuration and the job's file into every group, builds the task lists, checks
// that the job can run whole and attaches the ports. Returns the exit status when the job
// cannot start.
std::optional<int> PrepareJob(LineGroups& groups, const RunOptions& options, Prompt& prompt, const std::string& workDir,
                              std::vector<int>& lineIndexes) {
    std::vector<std::string> devices;
    if (auto failure = ResolvePorts(options.ports, devices)) return Fail(*failure);
    for (int g = 0; g < groups.Count(); ++g) {
        if (auto status = LoadGroup(groups.Group(g), options, prompt, workDir)) return status;
    }
    // A saved backup that cannot be played back whole is refused before any port is opened.
    const bool isRestore = !options.restore.empty();
    CalState saved;
    if (isRestore) {
        saved.catalog = groups.Line(0).cal.catalog;
        if (std::string reason; !LoadSavedBackup(saved, options.restore, reason)) return Fail(reason);
    }
    if (auto failure = AttachPorts(groups, options.ports, devices, lineIndexes)) return Fail(*failure);
    if (!options.script.empty()) TellSkippedDbWrites(groups.Group(0).file.Bytes());
    // A saved backup goes to the one line as if that line's own backup had just read it.
    if (isRestore) {
        CalState& cal = groups.Line(lineIndexes.front()).cal;
        cal.backupText = std::move(saved.backupText);
        cal.backupHeld = saved.backupHeld;
        cal.savedSettingByte = saved.savedSettingByte;
        cal.writeSettingBack = saved.writeSettingBack;
    }
    return std::nullopt;
}

// What the trace's markers name: the job's tasks and each line's outcomes and status.
TracedJob TracedJobOf(LineGroups& groups) {
    TracedJob traced;
    const TaskList& tasks = groups.Group(0).tasks;
    for (int t = 0; t < tasks.taskCount; ++t) traced.tasks.emplace_back(TaskName(tasks.tasks[t].code));
    traced.outcome = [&groups](int lineNumber, int task) {
        const int line = lineNumber - 1;
        const TaskList& own = groups.Group(LineGroups::GroupOf(line)).tasks;
        return std::string(TaskStatusName(own.LineOutcome(task, LineGroups::IndexInGroup(line))));
    };
    traced.status = [&groups](int lineNumber) { return groups.Line(lineNumber - 1).statusText.Get(); };
    return traced;
}

// Follows the started job until every line has ended or Ctrl-C stopped it; `summarize` is
// called while the lines still hold their outcomes. Returns whether the job was interrupted.
bool FollowJob(LineGroups& job, EventQueue& queue, TerminalView& view, int started,
               const std::function<void()>& summarize) {
    const auto tick = job.Line(0).timing.displayTick;
    auto nextTick = Clock::now() + tick;
    for (int ended = 0; ended < started;) {
        QueuedEvent event{};
        switch (queue.WaitUntil(nextTick, event)) {
            case EventQueue::Wake::Event:
                job.OnLineEvent(event.message, event.wParam, event.lParam);
                if (event.message == WM_PORT_FAILED || event.message == WM_PORT_ALL_DONE) {
                    ++ended;
                    view.Finish(static_cast<int>(event.lParam) - 1, event.message == WM_PORT_FAILED);
                }
                break;
            case EventQueue::Wake::Tick:
                job.OnTimer();
                view.Redraw();
                nextTick = Clock::now() + tick;
                break;
            case EventQueue::Wake::Interrupt:
                // A stop sets every task back to Wait: the outcomes are taken first.
                summarize();
                job.StopJob();
                view.Redraw();
                return true;
        }
    }
    view.Redraw();
    summarize();
    return false;
}

// Prints the summary and writes the report; returns the exit status.
int Report(JobSummary& summary, bool interrupted, const std::optional<std::string>& reportPath) {
    bool anyFailed = false;
    for (const LineSummary& l : summary.lines) anyFailed |= l.result != "ok";
    summary.exitStatus = interrupted ? EXIT_INTERRUPTED : anyFailed ? EXIT_LINE_FAILED : EXIT_OK;
    std::fputs(("\n" + FormatSummary(summary)).c_str(), stdout);
    std::fflush(stdout);
    if (reportPath) {
        // Replaced whole: a report that a full disk cut short would pass for the job's.
        AtomicFile report;
        FileError error = report.Begin(*reportPath);
        if (error == FileError::None) error = report.Write(FormatJson(summary));
        if (error == FileError::None) error = report.Commit();
        if (error != FileError::None) {
            std::fprintf(stderr, "zolt: cannot write the report %s: %s\n", reportPath->c_str(),
                         report.ErrorText().empty() ? FileErrorText(error, *reportPath).c_str() : report.ErrorText().c_str());
            if (summary.exitStatus == EXIT_OK) summary.exitStatus = EXIT_USAGE;
        }
    }
    return summary.exitStatus;
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, const std::string& folder) {
    std::string error;
    const auto options = ParseRunOptions(args, error);
    if (!options) return Usage(error);
    if (options->help) {
        std::fputs(RUN_USAGE, stdout);
        return EXIT_OK;
    }
    const std::string workDir = options->workdir.value_or(CurrentDirectory());
    if (auto problem = CheckRunInputs(*options, workDir)) return Fail(*problem);

    // Ctrl-C from here on stops the job as Reset does.
    EventQueue queue;
    InterruptScope interrupts([&queue] { queue.Interrupt(); });
    TerminalView view(stdout, IsTerminal(stdout));
    ConsolePrompt prompt;
    // Before the job control, so that it outlives every line that records into it; its
    // notices go to the display.
    std::unique_ptr<HistoryRecorder> history;
    if (!options->noHistory) {
        const auto notice = [&view](const std::string& text) { view.AddNotice(text); };
        try {
            auto store = OpenHistoryForWriting(options->history.value_or(""), workDir, notice);
            history = std::make_unique<HistoryRecorder>(std::move(store), options->station.value_or(DefaultStationName()),
                                                        notice);
        } catch (const HistoryError& error) {
            return Fail(std::string(error.what()) + " (--no-history runs without one)");
        }
    }
    // Before the job control, so that it outlives every line that writes to it.
    TraceFile trace;
    if (options->trace && !trace.Open(*options->trace)) return Fail("cannot write the trace " + *options->trace);
    // The catalogue comes from the work folder, where the calibration files it describes are
    // written and read: a restore checks a saved file against the catalogue it was made with.
    TraceMarkers markers(queue, options->trace ? &trace : nullptr);
    LineGroups groups(static_cast<int>(options->ports.size()), view, prompt, markers, folder, workDir,
                      options->trace ? &trace : nullptr);

    Timing timing = Timing::Standard();
    if (options->phoneWaitSeconds) {
        timing.phoneWait = std::chrono::seconds(*options->phoneWaitSeconds);
        for (int g = 0; g < groups.Count(); ++g) groups.Group(g).SetTiming(timing);
    }
    view.SetWaitHintAfter(timing.phoneWaitHint);

    std::vector<int> lineIndexes;
    if (const auto status = PrepareJob(groups, *options, prompt, workDir, lineIndexes)) return *status;
    // The operator sees the port as typed: a by-path name says which socket of the hub it is.
    for (std::size_t k = 0; k < lineIndexes.size(); ++k) {
        const int index = lineIndexes[k];
        view.SetPortLabel(index, options->ports[k]);
        groups.Group(LineGroups::GroupOf(index)).SetPortLabel(LineGroups::IndexInGroup(index), options->ports[k]);
    }
    for (int g = 0; g < groups.Count(); ++g) groups.Group(g).SetRecorder(history.get());
    const std::string& path = JobFilePath(*options);
    view.Begin(lineIndexes);
    std::vector<int> lineNumbers;
    for (const int index : lineIndexes) lineNumbers.push_back(index + 1);
    markers.Begin(TracedJobOf(groups), lineNumbers);
    const int started = groups.StartJob(path, workDir);
    if (started == 0) return EXIT_USAGE;

    JobSummary summary;
    summary.file = path;
    const TaskList& tasks = groups.Group(0).tasks;
    for (int t = 0; t < tasks.taskCount; ++t) summary.tasks.emplace_back(TaskName(tasks.tasks[t].code));
    const bool interrupted = FollowJob(groups, queue, view, started, [&] {
        summary.lines.clear();
        for (std::size_t k = 0; k < lineIndexes.size(); ++k) {
            const int index = lineIndexes[k];
            LineSummary line = SummarizeLine(groups.Group(LineGroups::GroupOf(index)), LineGroups::IndexInGroup(index),
                                             view.Seconds(index));
            line.port = options->ports[k];
            summary.lines.push_back(line);
        }
    });
    if (interrupted) markers.MarkStopped();
    const int status = Report(summary, interrupted, options->report);
    // Every entry is written before the program ends, and what the history had to say is said.
    if (history) history->Flush();
    view.FlushNotices();
    return status;
}

}  // namespace zolt::cli
