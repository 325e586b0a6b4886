#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/tty.h"

namespace zolt::cli {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

}  // namespace zolt::cli
