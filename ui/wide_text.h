// The window layer uses the W API; the core speaks narrow strings.
#pragma once

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
// A path for the core. A path the ANSI code page cannot spell is given by its short (8.3)
// name, which is plain ASCII, where the volume has one.
std::string PathForCore(std::wstring_view path);

}  // namespace zolt
