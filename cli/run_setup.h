// What `zolt run` and `zolt station` share in setting a job up: the configuration and the
// job's file read into every group of lines, the ports resolved and attached, and what the
// summary and the trace say of each line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/job_summary.h"
#include "cli/run_options.h"
#include "cli/trace_file.h"
#include "history/history_recorder.h"
#include "io/prompt.h"
#include "job/line_groups.h"

namespace zolt::cli {

// Says `text` on standard error as zolt's and returns EXIT_USAGE.
int Fail(const std::string& text);

// Opens the history the options name (none with --no-history) into `history`, its notices
// going to `notice`. Returns the exit status when it cannot be opened.
std::optional<int> OpenHistory(const RunOptions& options, const std::string& workDir,
                               const std::function<void(const std::string&)>& notice,
                               std::unique_ptr<HistoryRecorder>& history);

// Reads the configuration and the job's file into one group and builds its task list.
// Returns the exit status when the job cannot start.
std::optional<int> LoadGroup(JobControl& job, const RunOptions& options, Prompt& prompt, const std::string& workDir);

// The devices behind the ports given. Two names of one device (its kernel name and a by-id
// link, say) would put one phone on two lines. On failure returns the message.
std::optional<std::string> ResolvePorts(const std::vector<std::string>& typed, std::vector<std::string>& devices);

// Attaches the named ports to lines 1, 2, ... in order, eight to a group. `devices` are the
// ports' devices (stable names resolved). A port that is not there is refused, or, with
// `awaitAbsent`, attached to be opened by its name once it appears. On failure returns the
// message.
std::optional<std::string> AttachPorts(LineGroups& groups, const std::vector<std::string>& typed,
                                       const std::vector<std::string>& devices, std::vector<int>& lineIndexes,
                                       bool awaitAbsent = false);

// What became of one line: its outcome per task and in all, its status line and its time.
LineSummary SummarizeLine(const JobControl& job, int index, double seconds);

// A script sends only its FFS SIDB writes; an operator who put calibration pages in one
// hears, before anything is sent, that they will not reach the phone.
void TellSkippedDbWrites(std::span<const std::uint8_t> script);

// What the trace's markers name: the job's tasks and each line's outcomes and status.
TracedJob TracedJobOf(LineGroups& groups);

}  // namespace zolt::cli
