#pragma once

#include <cstdio>

namespace zolt::cli {

// Whether `stream` is an interactive terminal (where the display is redrawn in place).
bool IsTerminal(std::FILE* stream);

}  // namespace zolt::cli
