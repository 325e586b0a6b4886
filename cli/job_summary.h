// What a finished (or stopped) job leaves for the operator: the task grid, each line's last
// status, duration and throughput, as text and as a JSON report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolt::cli {

struct LineSummary {
    int lineNumber = 0;
    std::string port;              // as the operator gave it
    std::string device;            // what was opened: the port with a stable name resolved
    std::string status;            // the line's last status text
    std::string result;            // "ok", "failed" or "stopped"
    std::vector<std::string> outcomes;  // per task: "Wait", "Done", "Fail"
    double seconds = 0;
    std::uint64_t payloadBytes = 0;  // image bytes of the flash tasks the line finished
    std::string ended;               // a station's phone: when it ended, ISO 8601 UTC
};

struct JobSummary {
    std::string file;
    std::vector<std::string> tasks;  // task names in list order
    std::vector<LineSummary> lines;
    int exitStatus = 0;
};

// The grid and the per-line lines, for a terminal.
std::string FormatSummary(const JobSummary& summary);
// The report of `--report FILE`, laid out in docs/report.md; REPORT_VERSION grows whenever a
// field changes meaning or goes away.
inline constexpr int REPORT_VERSION = 1;
std::string FormatJson(const JobSummary& summary);
// What a station has done so far: every phone that ended, in the order they ended.
struct StationSummary {
    std::string file;
    std::vector<std::string> tasks;
    std::vector<LineSummary> phones;
    int passed = 0;
    int failed = 0;
    int stopped = 0;  // phones a second Ctrl-C abandoned in the middle of their job
    double phonesPerHour = 0;
    bool running = true;
    int exitStatus = 0;
};
// The report of `zolt station --report FILE`, laid out in docs/report.md.
std::string FormatStationJson(const StationSummary& summary);
// Quotes and escapes a text for JSON.
std::string JsonString(const std::string& text);

}  // namespace zolt::cli
