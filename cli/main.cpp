// zolt: the command-line front end.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/run_options.h"

namespace {
const char* const USAGE =
    "usage: zolt COMMAND [OPTIONS]\n"
    "commands:\n"
    "  run     flash, back up, restore or play a script on up to 32 phones at once\n"
    "  station every line flashes each phone as it comes, one after another, all day\n"
    "  info    show a ROM image's versions and checksums and check it against a configuration\n"
    "  ports   list the serial ports and what identifies the device behind each\n"
    "  demo    run a whole job on eight simulated phones\n"
    "  history show what became of every phone, or write out a calibration backup it kept\n"
    "'zolt COMMAND --help' tells more; 'zolt --version' the version.\n";
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(USAGE, stderr);
        return zolt::cli::EXIT_USAGE;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("zolt %s\n", ZOLT_VERSION);
        return 0;
    }
    if (command == "run") return zolt::cli::RunCommand(args);
    if (command == "station") return zolt::cli::StationCommand(args);
    if (command == "info") return zolt::cli::InfoCommand(args);
    if (command == "ports") return zolt::cli::PortsCommand(args);
    if (command == "demo") return zolt::cli::DemoCommand(args);
    if (command == "history") return zolt::cli::HistoryCommand(args);
    std::fprintf(stderr, "zolt: unknown command %s\n%s", command.c_str(), USAGE);
    return zolt::cli::EXIT_USAGE;
}
