#include <windows.h>

#include <vector>

#include "history/history_platform.h"
#include "history/history_recorder.h"

namespace zolt {

bool LocalCalendarTime(std::time_t when, std::tm& local) { return localtime_s(&local, &when) == 0; }

// The core's paths are in the ANSI code page; SQLite reads a narrow name as UTF-8, and would
// open another file for any name beyond ASCII.
std::string SqliteFileName(const std::string& path) {
    const int wide = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (wide <= 0) return path;
    std::vector<wchar_t> text(static_cast<std::size_t>(wide));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, text.data(), wide);
    const int narrow = WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return path;
    std::string utf8(static_cast<std::size_t>(narrow), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, utf8.data(), narrow, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(narrow - 1));
    return utf8;
}

std::string DefaultStationName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0) return "unknown";
    return std::string(name, size);
}

}  // namespace zolt
