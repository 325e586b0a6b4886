// The command line's display of a job: one row per line with its lamp, port, bar, progress
// text, status text and elapsed time. On a terminal the rows are redrawn in place; on a pipe
// or file a plain line is written whenever a line's status text changes.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/live_rows.h"
#include "cli/run_options.h"
#include "job/job_view.h"

namespace zolt::cli {

class TerminalView : public JobView {
public:
    // `columns` tells the terminal's width at each redraw (0: unknown); by default the width
    // of the terminal behind `out`.
    TerminalView(std::FILE* out, bool live, std::function<int()> columns = {});

    // Which lines take part, and the job's start.
    void Begin(const std::vector<int>& lineIndexes);
    // Marks a line as finished (its elapsed time stops) and redraws.
    void Finish(int line, bool failed);
    // Draws the rows (live) once more.
    void Redraw();
    // Shows the line's port as `label` (the name the operator gave) rather than its device.
    // After the line was attached.
    void SetPortLabel(int line, const std::string& label) { rows_[line].port = label; }
    // A text the operator should see once (the history's); any thread. Shown above the rows at
    // the next redraw, or by FlushNotices.
    void AddNotice(const std::string& text) { screen_.AddNotice(text); }
    // Writes the notices not shown yet, to standard error.
    void FlushNotices() { screen_.FlushNotices(); }
    // After how long at a wait for the phone a line's row is followed by a hint.
    void SetWaitHintAfter(std::chrono::milliseconds after) { hintAfter_ = after; }

    void SetLinePanel(int line, bool attached, int comPort, const std::string& portName) override;
    void ResetLinePanel(int line) override;
    void SetLineStatus(int line, const std::string& text) override;
    void ShowLineProgress(int line, int percent) override;
    void ShowImageInfo(bool, const ImageInfo&) override {}
    void ShowTaskList(const TaskList&) override {}
    void SetTaskCell(int, int, std::uint8_t) override {}
    void StartDisplayTimer() override { timer = true; }
    void StopDisplayTimer() override { timer = false; }

    bool timer = false;

    struct Row {
        bool attached = false;
        std::string port;
        std::string status;
        int percent = 0;
        bool finished = false;
        bool failed = false;
        std::chrono::steady_clock::time_point end;
        std::chrono::steady_clock::time_point statusSince;  // when the status text last changed
        bool hinted = false;                                // the hint for this status was printed
    };
    const Row& row(int line) const { return rows_[line]; }
    double Seconds(int line) const;

private:
    // The row of `line`, at most `width` columns: the whole row where it fits, else the lamp,
    // the line, the percentage and the status, cut with "..." where even that does not.
    std::string Format(int line, int width) const;
    // The hint of a line that has waited for its phone long enough: what it waits for and what
    // usually helps; empty otherwise.
    std::string HintOf(int line) const;
    // On a pipe or file each hint is written once, when it becomes due.
    void WriteDueHints();

    std::FILE* out_;
    bool live_;
    std::array<Row, MAX_PORTS> rows_{};
    std::vector<int> shown_;
    std::chrono::steady_clock::time_point start_;
    std::function<int()> columns_;
    std::chrono::milliseconds hintAfter_{30000};
    LiveRows screen_;  // the rows on a terminal, and the notices above them
};

}  // namespace zolt::cli
