// The command line of zolt-phone.
#pragma once

#include <string>
#include <vector>

#include "sim/phone_options.h"
#include "sim/sim_bank.h"

namespace zolt::sim {

struct ProgramOptions {
    BankSetup bank;
    PhoneOptions phone;
    std::string trace;  // file name; "-" for standard error; empty for none
    bool help = false;
    bool pageReadIdGiven = false;  // the first --page-read-id replaces the default
};

// Parses the arguments after the program name. Returns false with `error` set for an unknown
// option, a missing or malformed value, or options that do not go together.
[[nodiscard]] bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& out,
                                       std::string& error);

// The --help text.
const char* ProgramUsage();

}  // namespace zolt::sim
