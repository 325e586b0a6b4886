// `zolt run`: one job on up to eight lines, from a terminal or a script.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/console_prompt.h"
#include "cli/event_queue.h"
#include "cli/interrupt.h"
#include "cli/job_summary.h"
#include "cli/run_options.h"
#include "cli/terminal_view.h"
#include "cli/tty.h"
#include "job/config_file.h"
#include "job/job_control.h"
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

// Attaches the named ports to lines 1, 2, ... in order. On failure returns the message.
std::optional<std::string> AttachPorts(JobControl& job, const std::vector<std::string>& ports,
                                       std::vector<int>& lineIndexes) {
    for (const auto& device : ports) {
        const int row = job.RowOfDevice(device);
        if (row < 0) return "port " + device + " does not exist";
        if (job.portList[row].state == PORT_USED_BY_OTHERS) return "port " + device + " is used by another program";
        const int line = job.AttachRow(row);
        if (line < 0) {
            const PortState state = job.portList[row].state;
            if (state == PORT_USED_BY_OTHERS) return "port " + device + " is used by another program";
            return "port " + device + " cannot be opened";
        }
        lineIndexes.push_back(line);
    }
    return std::nullopt;
}

// What became of one line: its outcome per task and in all, its status line and its time.
LineSummary SummarizeLine(const JobControl& job, int index, double seconds) {
    const PortSession& line = job.lines[index];
    LineSummary l;
    l.lineNumber = line.lineNumber;
    l.port = line.portName;
    l.status = line.statusText.Get();
    l.seconds = seconds;
    bool failed = false;
    bool complete = true;
    for (int t = 0; t < job.tasks.taskCount; ++t) {
        const TaskStatus outcome = job.tasks.LineOutcome(t, index);
        l.outcomes.emplace_back(TaskStatusName(outcome));
        failed |= outcome == TASK_FAIL;
        complete &= outcome == TASK_DONE;
        if (outcome == TASK_DONE) l.payloadBytes += PayloadOf(job.tasks.tasks[t].code, job.config);
    }
    l.result = failed ? "failed" : complete ? "ok" : "stopped";
    return l;
}

// Reads the configuration and the job's file, builds the task list and attaches the ports.
// Returns the exit status when the job cannot start.
std::optional<int> PrepareJob(JobControl& job, const RunOptions& options, Prompt& prompt,
                              std::vector<int>& lineIndexes) {
    const bool isScript = !options.script.empty();
    const std::string& path = isScript ? options.script : options.image;
    if (options.config && !std::filesystem::is_regular_file(*options.config)) {
        return Fail("cannot read the configuration " + *options.config);
    }
    ReadConfig(job.config, options.config);
    if (!isScript && !ChoiceAllowed(job.config.updateFlag, options.choice, options.withCal)) {
        return Fail("the configuration's update flag " + std::to_string(job.config.updateFlag) +
                    " allows --update " + AllowedChoicesText(job.config.updateFlag));
    }
    const int loaded = isScript ? job.file.LoadPlainFile(path) : job.file.LoadRomImage(path);
    if (loaded == LOAD_FORMAT_ERROR) {
        prompt.ShowMessage(texts::FILE_FORMAT_ERROR, PromptIcon::Error);
        return Fail(path + " does not match the configuration (identification \"" + job.file.info().imageIdent +
                    "\", model \"" + job.file.info().imageModel + "\")");
    }
    if (loaded != LOAD_OK) return EXIT_USAGE;  // the loader has said why
    job.BuildTaskList(isScript ? CHOICE_SCRIPT : options.choice, options.withCal);
    if (auto failure = AttachPorts(job, options.ports, lineIndexes)) return Fail(*failure);
    return std::nullopt;
}

// Follows the started job until every line has ended or Ctrl-C stopped it; `summarize` is
// called while the lines still hold their outcomes. Returns whether the job was interrupted.
bool FollowJob(JobControl& job, EventQueue& queue, TerminalView& view, int started,
               const std::function<void()>& summarize) {
    const auto tick = job.lines[0].timing.displayTick;
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
        std::ofstream report(*reportPath, std::ios::binary | std::ios::trunc);
        report << FormatJson(summary);
        if (!report.flush()) {
            std::fprintf(stderr, "zolt: cannot write the report %s\n", reportPath->c_str());
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
    if (!std::filesystem::is_directory(workDir)) return Fail("working folder " + workDir + " does not exist");

    // Ctrl-C from here on stops the job as Reset does.
    EventQueue queue;
    InterruptScope interrupts([&queue] { queue.Interrupt(); });
    TerminalView view(stdout, IsTerminal(stdout));
    ConsolePrompt prompt;
    JobControl job(view, prompt, queue, PortProber::Standard(), TaskRunners::Standard(), folder);

    std::vector<int> lineIndexes;
    if (const auto status = PrepareJob(job, *options, prompt, lineIndexes)) return *status;
    const std::string& path = options->script.empty() ? options->image : options->script;
    view.Begin(lineIndexes);
    const int started = job.StartJob(path, workDir);
    if (started == 0) return EXIT_USAGE;

    JobSummary summary;
    summary.file = path;
    for (int t = 0; t < job.tasks.taskCount; ++t) summary.tasks.emplace_back(TaskName(job.tasks.tasks[t].code));
    const bool interrupted = FollowJob(job, queue, view, started, [&] {
        summary.lines.clear();
        for (int index : lineIndexes) summary.lines.push_back(SummarizeLine(job, index, view.Seconds(index)));
    });
    return Report(summary, interrupted, options->report);
}

}  // namespace zolt::cli
