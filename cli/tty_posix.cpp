#include <unistd.h>

#include "cli/tty.h"

namespace zolt::cli {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

}  // namespace zolt::cli
