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
#include "job/line_groups.h"
#include "cli/run_checks.h"
#include "cli/run_options.h"
#include "cli/run_setup.h"
#include "cli/terminal_view.h"
#include "cli/trace_file.h"
#include "cli/tty.h"
#include "cal/backup.h"
#include "history/history_recorder.h"
#include "io/atomic_file.h"
#include "io/paths.h"
#include "job/job_checks.h"
#include "io/texts.h"

namespace zolt::cli {

namespace {

using Clock = std::chrono::steady_clock;

int Usage(const std::string& error) {
    std::fprintf(stderr, "zolt run: %s\n%s", error.c_str(), RUN_USAGE);
    return EXIT_USAGE;
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
    if (auto status = OpenHistory(*options, workDir, [&view](const std::string& text) { view.AddNotice(text); }, history)) {
        return *status;
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
