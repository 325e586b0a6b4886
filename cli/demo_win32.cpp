#include <cstdio>

#include "cli/commands.h"
#include "cli/run_options.h"

namespace zolt::cli {

int DemoCommand(const std::vector<std::string>&) {
    // The simulated phones live on pseudo-terminals, which Windows does not have.
    std::fputs("zolt demo: the demo runs on Linux; on Windows use 'zolt run' with real phones.\n", stderr);
    return EXIT_USAGE;
}

}  // namespace zolt::cli
