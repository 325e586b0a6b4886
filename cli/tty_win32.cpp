#include <io.h>
#include <windows.h>

#include "cli/tty.h"

namespace zolt::cli {

bool IsTerminal(std::FILE* stream) {
    if (!_isatty(_fileno(stream))) return false;
    // Redrawing in place needs the console to understand escape sequences.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(out, &mode)) return false;
    return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns(std::FILE* stream) {
    if (!_isatty(_fileno(stream))) return 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace zolt::cli
