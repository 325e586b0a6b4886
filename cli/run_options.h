// The words of `zolt run`, checked.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/job_task.h"

namespace zolt::cli {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_LINE_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_INTERRUPTED = 130;
// Ports of one `zolt run`: four groups of eight lines.
inline constexpr int MAX_PORTS = MAX_LINES;

struct RunOptions {
    std::string image;     // --image, or
    std::string script;    // --script, or
    std::string restore;   // --restore: a saved calibration file
    int choice = 0;        // from --update: 1 all, 2 boot, 3 cp, 4 data
    bool withCal = false;  // --with-cal: back the calibration up and restore it around the update
    bool noCal = false;    // --no-cal: the update may erase the calibration
    std::vector<std::string> ports;
    std::optional<std::string> config;
    std::optional<std::string> workdir;
    std::optional<std::string> report;
    std::optional<std::string> trace;
    std::optional<int> phoneWaitSeconds;  // --phone-wait: bound of the waits for a phone
    std::optional<std::string> history;   // --history: a SQLite file or a PostgreSQL URL
    std::optional<std::string> station;   // --station: the station's name in the history
    bool noHistory = false;               // --no-history
    std::optional<int> count;             // zolt station --count: phones before the station ends
    bool help = false;
};

// Parses the arguments after "run", or with `station` after "station" (which takes --count
// and no --restore). On a mistake returns nothing and sets `error`.
std::optional<RunOptions> ParseRunOptions(const std::vector<std::string>& args, std::string& error,
                                          bool station = false);

extern const char* const RUN_USAGE;
extern const char* const STATION_USAGE;

}  // namespace zolt::cli
