#include "ui/wide_text.h"

#include <windows.h>

namespace zolt {

namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

// `wide` in `codePage`, or nothing when a character has no exact equivalent there. Without
// WC_NO_BEST_FIT_CHARS the system quietly turns "Ł" into "L", so the flag alone would not
// tell. The UTF-8 code page (also as the ANSI code page, where the system is set so) takes
// neither that flag nor the default-character question; it fails on unpaired surrogates only.
std::optional<std::string> ToNarrowExact(UINT codePage, std::wstring_view wide) {
    if (wide.empty()) return std::string();
    const bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const lossy = utf8 ? nullptr : &usedDefault;
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, lossy);
    if (length <= 0 || usedDefault) return std::nullopt;
    std::string narrow(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(codePage, flags, wide.data(), size, narrow.data(), length, nullptr, lossy) != length ||
        usedDefault) {
        return std::nullopt;
    }
    return narrow;
}

std::wstring ShortName(std::wstring_view path) {
    const std::wstring full(path);
    const DWORD length = GetShortPathNameW(full.c_str(), nullptr, 0);
    if (length == 0) return {};
    std::wstring shortPath(length, L'\0');
    const DWORD written = GetShortPathNameW(full.c_str(), shortPath.data(), length);
    if (written == 0 || written >= length) return {};
    shortPath.resize(written);
    return shortPath;
}

}  // namespace

std::wstring Widen(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string Narrow(std::wstring_view wide) { return ToNarrowExact(CP_UTF8, wide).value_or(std::string()); }

std::wstring WidenCore(std::string_view text) { return ToWide(CP_ACP, text); }

std::optional<std::string> PathForCore(std::wstring_view path) {
    if (auto narrow = ToNarrowExact(CP_ACP, path)) return narrow;
    // A component without a short name comes back long, and then still fails here.
    const std::wstring shortPath = ShortName(path);
    if (shortPath.empty()) return std::nullopt;
    return ToNarrowExact(CP_ACP, shortPath);
}

std::wstring CurrentFolder() {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0) return {};
    std::wstring folder(length, L'\0');
    const DWORD written = GetCurrentDirectoryW(length, folder.data());
    if (written == 0 || written >= length) return {};
    folder.resize(written);
    return folder;
}

}  // namespace zolt
