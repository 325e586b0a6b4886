#include "cli/station_view.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "cli/tty.h"
#include "job/display_text.h"

namespace zolt::cli {

namespace {

// "1:05:09" or "5:09".
std::string Hms(std::int64_t seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

std::string PaddedLeft(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string Cut(const std::string& text, std::size_t width) {
    if (text.size() <= width) return text;
    return width > 3 ? text.substr(0, width - 3) + "..." : text.substr(0, width);
}

std::string TakeOffText(const StationLine& line) {
    return line.lastPassed ? "passed: take the phone off" : "failed: take the phone off";
}

}  // namespace

StationView::StationView(std::FILE* out, bool live, std::function<int()> columns,
                         std::function<Clock::time_point()> now)
    : out_(out), live_(live), columns_(std::move(columns)), now_(std::move(now)), screen_(out) {
    if (!columns_) columns_ = [out] { return TerminalColumns(out); };
    if (!now_) now_ = [] { return Clock::now(); };
}

void StationView::Begin(const Station& station) {
    station_ = &station;
    start_ = now_();
    screen_.Forget();
    Redraw();
}

std::string StationView::StateText(const StationLine& line) const {
    switch (line.state) {
        case StationState::WaitingForPort: return "waiting for the port";
        case StationState::WaitingForPhone: return "waiting for a phone";
        case StationState::Working:
            return "working " + std::to_string(std::clamp(rows_[line.line].percent, 0, 100)) + "%";
        case StationState::TakeOff: return TakeOffText(line);
        // The last phone's outcome stays on a line that the end of the station left with its
        // phone still on it.
        case StationState::Stopped: return line.endedOnPhone ? TakeOffText(line) : "stopped";
    }
    return {};
}

// The widths of the columns, the port's fitted to what the terminal leaves.
StationView::Columns StationView::ColumnsFor(int width) const {
    Columns c;
    for (const StationLine& l : station_->Lines()) {
        c.number = std::max(c.number, std::to_string(l.line + 1).size());
        c.port = std::max(c.port, rows_[l.line].port.size());
    }
    // Line, state, passed, failed and last phone, with two blanks between columns.
    const std::size_t fixed = 5 + c.number + 2 + 2 + STATE_WIDTH + 2 + 6 + 1 + 6 + 2 + 10;
    const auto columns = static_cast<std::size_t>(std::max(width, 0));
    const std::size_t room = columns > fixed ? columns - fixed : 0;
    c.port = std::clamp(std::min(c.port, room), std::min<std::size_t>(c.port, 8), std::size_t{40});
    return c;
}

std::string StationView::Header(int width) const {
    const Columns c = ColumnsFor(width);
    const std::string text = Padded("Line", 5 + c.number) + "  " + Padded("Port", c.port) + "  " +
                             Padded("State", STATE_WIDTH) + "  Passed Failed  Last phone";
    return Cut(text, static_cast<std::size_t>(std::max(width, 8)));
}

std::string StationView::Format(const StationLine& line, int width) const {
    const Row& row = rows_[line.line];
    const Columns c = ColumnsFor(width);
    std::string last = "-";
    if (line.lastEnded) {
        last = Hms(std::chrono::duration_cast<std::chrono::seconds>(now_() - *line.lastEnded).count()) + " ago";
    }
    // A long port name keeps its end, which tells the lines apart ("...usb-0:1.3:1.0-port0").
    std::string port = row.port;
    if (port.size() > c.port) port = c.port > 3 ? "..." + port.substr(port.size() - (c.port - 3)) : port.substr(0, c.port);
    std::string text = "Line " + Padded(std::to_string(line.line + 1), c.number) + "  " + Padded(port, c.port) + "  " +
                       Padded(StateText(line), STATE_WIDTH) + "  " + PaddedLeft(std::to_string(line.passed), 6) + " " +
                       PaddedLeft(std::to_string(line.failed), 6) + "  " + Padded(last, 10);
    // The job's own words while it works, and a failure's reason while the phone waits to go.
    const bool says = line.state == StationState::Working || (line.state == StationState::TakeOff && !line.lastPassed);
    // Only where a useful part of it fits: a failure's reason is also told above the rows.
    const auto fits = static_cast<std::size_t>(std::max(width, 8));
    if (says && !row.status.empty() && text.size() + 2 + std::min<std::size_t>(row.status.size(), 12) <= fits) {
        text += "  " + row.status;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return Cut(text, fits);
}

std::string StationView::Summary() const {
    const std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now_() - start_).count();
    const int passed = station_->Passed();
    const int failed = station_->Failed();
    char perHour[32];
    std::snprintf(perHour, sizeof perHour, "%.1f",
                  seconds > 0 ? static_cast<double>(passed + failed) * 3600.0 / static_cast<double>(seconds) : 0.0);
    return "Phones: " + std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
           std::to_string(station_->Working()) + " working  " + perHour + " phones/hour  up " + Hms(seconds);
}

void StationView::WriteChanges() {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now_() - start_).count();
    for (const StationLine& line : station_->Lines()) {
        Row& row = rows_[line.line];
        // Working is told once, not at every percent; a failure with its reason.
        std::string said = line.state == StationState::Working ? "working" : StateText(line);
        const bool outcome = line.state == StationState::TakeOff || line.endedOnPhone;
        if (outcome && !line.lastPassed && !row.status.empty()) said += " (" + row.status + ")";
        if (said == row.logged) continue;
        row.logged = said;
        std::fprintf(out_, "[%s] Line %d %s: %s\n", Hms(seconds).c_str(), line.line + 1, row.port.c_str(), said.c_str());
    }
    std::fflush(out_);
}

void StationView::Redraw() {
    if (!station_) return;
    if (!live_) {
        FlushNotices();
        WriteChanges();
        return;
    }
    // One column short of the width: a row that filled it would wrap on some terminals.
    const int columns = columns_();
    const int width = std::max(columns > 0 ? columns - 1 : 79, 8);
    std::vector<std::string> rows = {Header(width)};
    for (const StationLine& line : station_->Lines()) rows.push_back(Format(line, width));
    rows.push_back(Cut(Summary(), static_cast<std::size_t>(width)));
    screen_.Draw(std::move(rows), width);
}

}  // namespace zolt::cli
