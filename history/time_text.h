// The times of the history as people read and give them. A time is milliseconds since
// 1970-01-01 UTC, as LineRecord holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zolt {

// "2026-12-09 07:30:01" in the local time zone.
[[nodiscard]] std::string LocalTimeText(std::int64_t ms);

// "2026-12-09T06:30:01.250Z": ISO 8601, UTC, with milliseconds.
[[nodiscard]] std::string UtcTimeText(std::int64_t ms);

// Reads "YYYY-MM-DD" (local midnight), "YYYY-MM-DD HH:MM[:SS]" or "YYYY-MM-DDTHH:MM[:SS]"
// (local time), and any of these with a 'T', optional ".mmm" milliseconds and a closing 'Z'
// (UTC). Nothing for anything else, including dates that do not exist.
[[nodiscard]] std::optional<std::int64_t> ParseTimeText(const std::string& text);

}  // namespace zolt
