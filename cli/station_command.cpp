// `zolt station`: every line runs the job on its own, one phone after another, until the
// count is reached or Ctrl-C.
#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/console_prompt.h"
#include "cli/event_queue.h"
#include "cli/interrupt.h"
#include "cli/job_summary.h"
#include "cli/run_checks.h"
#include "cli/run_options.h"
#include "cli/run_setup.h"
#include "cli/station_view.h"
#include "cli/trace_file.h"
#include "cli/tty.h"
#include "history/time_text.h"
#include "io/atomic_file.h"
#include "io/paths.h"
#include "station/station.h"

namespace zolt::cli {

namespace {

using Clock = std::chrono::steady_clock;

int Usage(const std::string& error) {
    std::fprintf(stderr, "zolt station: %s\n%s", error.c_str(), STATION_USAGE);
    return EXIT_USAGE;
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Reads the job into every group and attaches the ports; a port that is not there yet is
// waited for. Returns the exit status when the station cannot start.
std::optional<int> PrepareStation(LineGroups& groups, const RunOptions& options, Prompt& prompt,
                                  const std::string& workDir, std::vector<int>& lineIndexes) {
    std::vector<std::string> devices;
    if (auto failure = ResolvePorts(options.ports, devices)) return Fail(*failure);
    for (int g = 0; g < groups.Count(); ++g) {
        if (auto status = LoadGroup(groups.Group(g), options, prompt, workDir)) return status;
    }
    if (auto failure = AttachPorts(groups, options.ports, devices, lineIndexes, true)) return Fail(*failure);
    if (!options.script.empty()) TellSkippedDbWrites(groups.Group(0).file.Bytes());
    for (std::size_t k = 0; k < lineIndexes.size(); ++k) {
        // A vanished port is opened again by the name given: a hub socket's stable name
        // follows the adapter to whatever device it comes back as.
        groups.Line(lineIndexes[k]).reopenName = options.ports[k];
        groups.Group(LineGroups::GroupOf(lineIndexes[k])).SetPortLabel(LineGroups::IndexInGroup(lineIndexes[k]), options.ports[k]);
    }
    if (!groups.PrepareLines(JobFilePath(options), workDir)) return EXIT_USAGE;  // the prompt said why
    return std::nullopt;
}

// Replaces the report whole; says once why it could not.
void WriteReport(const std::optional<std::string>& path, const StationSummary& summary, bool& told) {
    if (!path) return;
    AtomicFile report;
    FileError error = report.Begin(*path);
    if (error == FileError::None) error = report.Write(FormatStationJson(summary));
    if (error == FileError::None) error = report.Commit();
    if (error != FileError::None && !told) {
        told = true;
        std::fprintf(stderr, "zolt: cannot write the report %s: %s\n", path->c_str(),
                     report.ErrorText().empty() ? FileErrorText(error, *path).c_str() : report.ErrorText().c_str());
    }
}

class StationRun {
public:
    StationRun(const RunOptions& options, LineGroups& groups, Station& station, StationView& view, TraceMarkers& markers)
        : options_(options), groups_(groups), station_(station), view_(view), markers_(markers) {
        summary_.file = JobFilePath(options);
        const TaskList& tasks = groups.Group(0).tasks;
        for (int t = 0; t < tasks.taskCount; ++t) summary_.tasks.emplace_back(TaskName(tasks.tasks[t].code));
        start_ = Clock::now();
    }

    // Until the station is over. Returns the exit status.
    int Follow(EventQueue& queue) {
        const auto tick = groups_.Line(0).timing.displayTick;
        auto nextTick = Clock::now() + tick;
        bool interrupted = false;
        while (!station_.Over()) {
            QueuedEvent event{};
            switch (queue.WaitUntil(nextTick, event)) {
                case EventQueue::Wake::Event: {
                    const int ended = station_.OnEvent(event.message, event.wParam, event.lParam);
                    if (ended >= 0) PhoneEnded(ended, "");
                    if (event.message == WM_STATION_PHONE_HERE) Started(static_cast<int>(event.lParam) - 1);
                    view_.Redraw();
                    break;
                }
                case EventQueue::Wake::Tick:
                    station_.OnTimer();
                    view_.Redraw();
                    nextTick = Clock::now() + tick;
                    break;
                case EventQueue::Wake::Interrupt:
                    if (!interrupted) {
                        interrupted = true;
                        station_.Drain();
                        if (station_.Working() > 0) {
                            view_.AddNotice("Ctrl-C: no new phone is started; the phones in the middle of their job "
                                            "finish it (Ctrl-C again stops them at once)");
                        }
                    } else {
                        for (const int line : station_.StopNow()) PhoneEnded(line, "stopped");
                        markers_.MarkStopped();
                    }
                    view_.Redraw();
                    break;
            }
        }
        summary_.running = false;
        summary_.exitStatus = interrupted ? EXIT_INTERRUPTED : summary_.failed > 0 ? EXIT_LINE_FAILED : EXIT_OK;
        WriteReport(options_.report, summary_, reportTold_);
        return summary_.exitStatus;
    }

    const StationSummary& Summary() const { return summary_; }

private:
    void Started(int line) {
        for (const StationLine& l : station_.Lines()) {
            if (l.line == line && l.state == StationState::Working) markers_.BeginLine(line + 1);
        }
    }

    // A phone ended on `line` (index 0 to 31): its entry goes into the report at once.
    void PhoneEnded(int line, const std::string& abandoned) {
        const StationLine* state = nullptr;
        for (const StationLine& l : station_.Lines()) {
            if (l.line == line) state = &l;
        }
        if (!state) return;
        const double seconds = std::chrono::duration<double>(Clock::now() - state->started).count();
        LineSummary phone = SummarizeLine(groups_.Group(LineGroups::GroupOf(line)), LineGroups::IndexInGroup(line), seconds);
        for (std::size_t k = 0; k < options_.ports.size() && k < station_.Lines().size(); ++k) {
            if (station_.Lines()[k].line == line) phone.port = options_.ports[k];
        }
        phone.ended = UtcTimeText(NowMs());
        if (!abandoned.empty()) phone.result = abandoned;
        // Above the rows, which have no room for the reason on a narrow terminal (a pipe's
        // line of the failure says it).
        if (phone.result == "failed" && view_.Live()) {
            view_.AddNotice("Line " + std::to_string(line + 1) + " " + phone.port + ": a phone failed: " + phone.status);
        }
        ++(phone.result == "ok" ? summary_.passed : phone.result == "failed" ? summary_.failed : summary_.stopped);
        summary_.phones.push_back(std::move(phone));
        const double hours = std::chrono::duration<double>(Clock::now() - start_).count() / 3600.0;
        summary_.phonesPerHour = hours > 0 ? (summary_.passed + summary_.failed) / hours : 0;
        summary_.exitStatus = summary_.failed > 0 ? EXIT_LINE_FAILED : EXIT_OK;
        WriteReport(options_.report, summary_, reportTold_);
    }

    const RunOptions& options_;
    LineGroups& groups_;
    Station& station_;
    StationView& view_;
    TraceMarkers& markers_;
    StationSummary summary_;
    Clock::time_point start_;
    bool reportTold_ = false;
};

}  // namespace

int StationCommand(const std::vector<std::string>& args, const std::string& folder) {
    std::string error;
    const auto options = ParseRunOptions(args, error, true);
    if (!options) return Usage(error);
    if (options->help) {
        std::fputs(STATION_USAGE, stdout);
        return EXIT_OK;
    }
    const std::string workDir = options->workdir.value_or(CurrentDirectory());
    if (auto problem = CheckRunInputs(*options, workDir)) return Fail(*problem);

    EventQueue queue;
    InterruptScope interrupts([&queue] { queue.Interrupt(); });
    StationView view(stdout, IsTerminal(stdout));
    ConsolePrompt prompt;
    // Before the lines, so that it outlives every line that records into it.
    std::unique_ptr<HistoryRecorder> history;
    if (auto status = OpenHistory(*options, workDir, [&view](const std::string& text) { view.AddNotice(text); }, history)) {
        return *status;
    }
    TraceFile trace;
    if (options->trace && !trace.Open(*options->trace)) return Fail("cannot write the trace " + *options->trace);
    TraceMarkers markers(queue, options->trace ? &trace : nullptr);
    LineGroups groups(static_cast<int>(options->ports.size()), view, prompt, markers, folder, workDir,
                      options->trace ? &trace : nullptr);
    Timing timing = Timing::Standard();
    if (options->phoneWaitSeconds) timing.phoneWait = std::chrono::seconds(*options->phoneWaitSeconds);
    for (int g = 0; g < groups.Count(); ++g) groups.Group(g).SetTiming(timing);

    std::vector<int> lineIndexes;
    if (const auto status = PrepareStation(groups, *options, prompt, workDir, lineIndexes)) return *status;
    for (std::size_t k = 0; k < lineIndexes.size(); ++k) view.SetPortLabel(lineIndexes[k], options->ports[k]);
    for (int g = 0; g < groups.Count(); ++g) groups.Group(g).SetRecorder(history.get());
    markers.Begin(TracedJobOf(groups), {});

    int status = EXIT_OK;
    {
        Station station(groups, lineIndexes, markers);
        if (options->count) station.SetCount(*options->count);
        StationRun run(*options, groups, station, view, markers);
        view.Begin(station);
        station.Start();
        status = run.Follow(queue);
        view.Redraw();
        const StationSummary& s = run.Summary();
        std::printf("\n%d phone%s: %d passed, %d failed%s\n", static_cast<int>(s.phones.size()),
                    s.phones.size() == 1 ? "" : "s", s.passed, s.failed,
                    s.stopped > 0 ? (", " + std::to_string(s.stopped) + " stopped in the middle").c_str() : "");
        std::fflush(stdout);
    }
    if (history) history->Flush();
    view.FlushNotices();
    return status;
}

}  // namespace zolt::cli
