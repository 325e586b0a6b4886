#include <cstdio>

#include "cli/commands.h"
#include "cli/run_options.h"

namespace zolt::cli {

int DemoCommand(const std::vector<std::string>&) {
    std::fputs("zolt demo: not built yet\n", stderr);
    return EXIT_USAGE;
}

}  // namespace zolt::cli
