#include "ui/wide_text.h"

#include <windows.h>

namespace zolt {

namespace {

// The code page of the core's narrow strings: it opens files and reads INI files through
// the A API.
constexpr UINT CORE_CODE_PAGE = CP_ACP;

std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string ToNarrow(UINT codePage, std::wstring_view wide, BOOL* lossy) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    // CP_UTF8 refuses the lossy flag: it can spell everything.
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, lossy);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

}  // namespace

std::wstring Widen(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string Narrow(std::wstring_view wide) { return ToNarrow(CP_UTF8, wide, nullptr); }

std::wstring WidenCore(std::string_view text) { return ToWide(CORE_CODE_PAGE, text); }

std::string PathForCore(std::wstring_view path) {
    BOOL lossy = FALSE;
    std::string narrow = ToNarrow(CORE_CODE_PAGE, path, &lossy);
    if (!lossy) return narrow;
    const std::wstring full(path);
    const DWORD length = GetShortPathNameW(full.c_str(), nullptr, 0);
    if (length == 0) return narrow;
    std::wstring shortPath(length, L'\0');
    const DWORD written = GetShortPathNameW(full.c_str(), shortPath.data(), length);
    if (written == 0 || written >= length) return narrow;
    shortPath.resize(written);
    return ToNarrow(CORE_CODE_PAGE, shortPath, nullptr);
}

}  // namespace zolt
