// The command line's display of a station: one row per line with its state (and percent
// while it works), its passed and failed phones and the time since its last phone, and a
// summary of the totals and the phones per hour. On a terminal the rows are redrawn in place
// within its width; on a pipe or file a plain line is written whenever a line's state changes.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/live_rows.h"
#include "job/job_view.h"
#include "station/station.h"

namespace zolt::cli {

class StationView : public JobView {
public:
    using Clock = std::chrono::steady_clock;
    // `columns` tells the terminal's width at each redraw (0: unknown); by default the width
    // of the terminal behind `out`. `now` is the clock (tests set it).
    StationView(std::FILE* out, bool live, std::function<int()> columns = {},
                std::function<Clock::time_point()> now = {});

    // The station's start: the rows of its lines from now on.
    void Begin(const Station& station);
    void SetPortLabel(int line, const std::string& label) { rows_[line].port = label; }
    // Whether the rows are redrawn in place (a terminal).
    bool Live() const { return live_; }
    // Draws the rows and the summary (live) or writes what changed (on a pipe).
    void Redraw();
    // A text the operator should see once (the history's); any thread. Shown above the rows.
    void AddNotice(const std::string& text) { screen_.AddNotice(text); }
    // Writes the notices not shown yet, to standard error.
    void FlushNotices() { screen_.FlushNotices(); }
    // The summary: passed, failed and working phones, phones per hour, time since the start.
    std::string Summary() const;
    // The row of one line, and the heading above the rows, at most `width` columns.
    std::string Format(const StationLine& line, int width) const;
    std::string Header(int width) const;

    void SetLinePanel(int line, bool, int, const std::string& portName) override { rows_[line].port = portName; }
    void ResetLinePanel(int line) override {
        rows_[line].status.clear();
        rows_[line].percent = 0;
    }
    void SetLineStatus(int line, const std::string& text) override { rows_[line].status = text; }
    void ShowLineProgress(int line, int percent) override { rows_[line].percent = percent; }
    void ShowImageInfo(bool, const ImageInfo&) override {}
    void ShowTaskList(const TaskList&) override {}
    void SetTaskCell(int, int, std::uint8_t) override {}
    void StartDisplayTimer() override {}
    void StopDisplayTimer() override {}

private:
    static constexpr std::size_t STATE_WIDTH = 26;  // "passed: take the phone off"
    struct Columns {
        std::size_t number = 1;
        std::size_t port = 4;
    };
    Columns ColumnsFor(int width) const;
    struct Row {
        std::string port;
        std::string status;  // the job's status text on the line
        int percent = 0;
        std::string logged;  // what the pipe was last told of the line
    };
    // The state in words: "waiting for a phone", "working 42%", "passed: take the phone off", ...
    std::string StateText(const StationLine& line) const;
    void WriteChanges();

    std::FILE* out_;
    bool live_;
    std::function<int()> columns_;
    std::function<Clock::time_point()> now_;
    const Station* station_ = nullptr;
    Clock::time_point start_;
    std::array<Row, MAX_LINES> rows_{};
    LiveRows screen_;  // the rows on a terminal, and the notices above them
};

}  // namespace zolt::cli
