#include "cli/run_setup.h"

#include <cstdio>
#include <string_view>

#include "cal/srp_reader.h"
#include "cli/port_listing.h"
#include "cli/run_checks.h"
#include "io/texts.h"
#include "job/config_file.h"
#include "job/job_checks.h"
#include "job/update_choices.h"

namespace zolt::cli {

int Fail(const std::string& text) {
    std::fprintf(stderr, "zolt: %s\n", text.c_str());
    return EXIT_USAGE;
}

std::optional<int> OpenHistory(const RunOptions& options, const std::string& workDir,
                               const std::function<void(const std::string&)>& notice,
                               std::unique_ptr<HistoryRecorder>& history) {
    if (options.noHistory) return std::nullopt;
    try {
        auto store = OpenHistoryForWriting(options.history.value_or(""), workDir, notice);
        history = std::make_unique<HistoryRecorder>(std::move(store), options.station.value_or(DefaultStationName()),
                                                    notice);
    } catch (const HistoryError& error) {
        return Fail(std::string(error.what()) + " (--no-history runs without one)");
    }
    return std::nullopt;
}

namespace {

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

}  // namespace

// Attaches the named ports to lines 1, 2, ... in order, eight to a group. `devices` are the
// ports' devices (stable names resolved). On failure returns the message.
std::optional<std::string> AttachPorts(LineGroups& groups, const std::vector<std::string>& typed,
                                       const std::vector<std::string>& devices, std::vector<int>& lineIndexes,
                                       bool awaitAbsent) {
    for (std::size_t k = 0; k < devices.size(); ++k) {
        const int group = LineGroups::GroupOf(static_cast<int>(k));
        JobControl& job = groups.Group(group);
        const int row = job.RowOfDevice(devices[k]);
        if (row < 0 && awaitAbsent) {
            // Opened by the name given once it is there: a stable name follows the adapter.
            const int line = job.AttachAbsent(typed[k]);
            if (line < 0) return "no free line for port " + typed[k];
            lineIndexes.push_back(group * LINE_COUNT + line);
            continue;
        }
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

}  // namespace zolt::cli
