// Paths as the platform spells them.
#pragma once

#include <string>
#include <string_view>

namespace zolt {

// The process's current directory, asked for afresh; empty when the platform cannot tell.
[[nodiscard]] std::string CurrentDirectory();

// `directory`, the platform's separator ('\' on Windows, '/' elsewhere) unless it already
// ends in a separator, and `name`. An empty directory gives `name` alone (a path relative to
// the current directory).
[[nodiscard]] std::string JoinPath(std::string_view directory, std::string_view name);

}  // namespace zolt
