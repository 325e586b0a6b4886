// More than eight lines from one command: a job control runs eight lines (the eight panels of
// the Windows program), so the command line runs one per eight ports, side by side, and
// numbers the lines 1 to 32 across them. Line 9 is line 1 of the second group; its events,
// trace, calibration file ("COM-9calibration.srp") and report entry say 9.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "job/job_control.h"

namespace zolt {

class LineGroups {
public:
    // Enough groups for `lineCount` lines. Every group reports to `view` with line indexes 0 to
    // MAX_LINES - 1 and posts its events to `sink` with line numbers 1 to 32. `trace` may be null.
    // `folder` and `catalogFolder` are JobControl's.
    LineGroups(int lineCount, JobView& view, Prompt& prompt, LineEventSink& sink, const std::string& folder,
               const std::string& catalogFolder, FrameTrace* trace);
    ~LineGroups();
    LineGroups(const LineGroups&) = delete;
    LineGroups& operator=(const LineGroups&) = delete;

    int Count() const { return static_cast<int>(jobs_.size()); }
    JobControl& Group(int group) { return *jobs_[static_cast<std::size_t>(group)]; }
    // The group of a line (index 0 to 31) and the line's index inside it.
    static int GroupOf(int line) { return line / LINE_COUNT; }
    static int IndexInGroup(int line) { return line % LINE_COUNT; }
    PortSession& Line(int line) { return Group(GroupOf(line)).lines[static_cast<std::size_t>(IndexInGroup(line))]; }

    // Starts every group's job. Returns the number of lines started in all.
    int StartJob(const std::string& filePath, const std::string& workDir);
    void StopJob();
    // Each line on its own (JobControl::PrepareLines, StartLine, StopLine); `line` 0 to 31.
    bool PrepareLines(const std::string& filePath, const std::string& workDir);
    bool StartLine(int line) { return Group(GroupOf(line)).StartLine(IndexInGroup(line)); }
    void StopLine(int line) { Group(GroupOf(line)).StopLine(IndexInGroup(line)); }
    void OnTimer();
    // `lineNumber` 1 to 32, as the workers post it.
    void OnLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lineNumber);

private:
    class SetUpPrompt;
    std::vector<std::unique_ptr<JobView>> views_;   // each group's view of the one display
    std::vector<std::unique_ptr<SetUpPrompt>> prompts_;
    std::vector<std::unique_ptr<JobControl>> jobs_;  // after the views: stopped before they go
};

}  // namespace zolt
