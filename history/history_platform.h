// What the history asks of the platform (history_platform_posix.cpp,
// history_platform_win32.cpp); DefaultStationName (history_recorder.h) lives there too.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace zolt {

// The local calendar time of `when`; false when the platform cannot tell.
[[nodiscard]] bool LocalCalendarTime(std::time_t when, std::tm& local);

// `path` as the core spells it, in the UTF-8 that sqlite3_open_v2 takes.
[[nodiscard]] std::string SqliteFileName(const std::string& path);

}  // namespace zolt
