// The command line of zolt-phone.
#pragma once

#include <string>
#include <vector>

#include "sim/phone_options.h"
#include "sim/sim_bank.h"
#include "sim/station_day.h"

namespace zolt::sim {

// How the phones of a day leave their lines: Mixed picks Vanish or Silent for each at random.
enum class DayDetach { Vanish, Silent, Stay, Mixed };

// A station's day on the command line (--day-phones): every phone of every line alike, but
// for what is drawn at random from the seed.
struct DayPlan {
    int phones = 0;  // per line; 0: no day, the bank's phones instead
    Millis arriveLow{1000};
    Millis arriveHigh{1000};
    Millis stayLow{0};
    Millis stayHigh{0};
    DayDetach detach = DayDetach::Vanish;
    bool exitWhenOver = false;
};

struct ProgramOptions {
    BankSetup bank;  // with a day, bank.links names its lines
    DayPlan day;
    std::string dayOnly;  // the first option given that only a day takes, for the error
    PhoneOptions phone;
    std::string trace;  // file name; "-" for standard error; empty for none
    bool help = false;
    bool pageReadIdGiven = false;  // the first --page-read-id replaces the default
};

// Parses the arguments after the program name. Returns false with `error` set for an unknown
// option, a missing or malformed value, or options that do not go together.
[[nodiscard]] bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& out,
                                       std::string& error);

// The day's lines, one per --link, each phone's times and way of leaving drawn from `seed`,
// the line and the phone: the same seed plays the same day.
std::vector<DayLine> PlanDay(const DayPlan& plan, const std::vector<std::string>& links, std::uint64_t seed);

// The --help text.
const char* ProgramUsage();

}  // namespace zolt::sim
