#pragma once

#include <cstdio>

namespace zolt::cli {

// Whether `stream` is an interactive terminal (where the display is redrawn in place).
bool IsTerminal(std::FILE* stream);

// The width of the terminal behind `stream` in columns, asked afresh (it follows a resize);
// 0 when it is not a terminal or cannot tell.
int TerminalColumns(std::FILE* stream);

}  // namespace zolt::cli
