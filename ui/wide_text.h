// The window layer uses the W API; the core speaks narrow strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zolt {

// UTF-8, for the program's own texts.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// Strings that the core hands to or takes from the file system: paths, and texts read from
// its files (status lines naming pages, model names, the platform's error reasons). The core
// calls the A API, so these are in the ANSI code page.
std::wstring WidenCore(std::string_view text);

// A path for the core, in the ANSI code page. A path that code page cannot spell is given by
// its short (8.3) name, which is plain ASCII, where the file exists and its volume keeps short
// names. Nothing when neither spells it: no character is ever replaced by a look-alike, which
// would name another file.
[[nodiscard]] std::optional<std::string> PathForCore(std::wstring_view path);

// The process's current directory as it is now; empty when the system cannot tell.
[[nodiscard]] std::wstring CurrentFolder();

}  // namespace zolt
