#include "history/time_text.h"

#include <cstdio>
#include <ctime>

#include "history/history_platform.h"

namespace zolt {

namespace {

constexpr std::int64_t MS_PER_DAY = 86'400'000;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil), so that UTC needs neither gmtime nor timegm, which the platforms spell
// differently.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

int DaysInMonth(int year, int month) {
    static const int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : DAYS[month - 1];
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Reads `count` digits at `at`, moving past them.
bool Digits(const std::string& text, std::size_t& at, int count, int& value) {
    value = 0;
    for (int k = 0; k < count; ++k, ++at) {
        if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

bool Expect(const std::string& text, std::size_t& at, char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

struct Fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    bool utc = false;
};

bool ReadFields(const std::string& text, Fields& f) {
    std::size_t at = 0;
    if (!Digits(text, at, 4, f.year) || !Expect(text, at, '-') || !Digits(text, at, 2, f.month) ||
        !Expect(text, at, '-') || !Digits(text, at, 2, f.day)) {
        return false;
    }
    if (at < text.size()) {
        if (text[at] != ' ' && text[at] != 'T') return false;
        ++at;
        if (!Digits(text, at, 2, f.hour) || !Expect(text, at, ':') || !Digits(text, at, 2, f.minute)) return false;
        if (at < text.size() && text[at] == ':') {
            ++at;
            if (!Digits(text, at, 2, f.second)) return false;
            if (at < text.size() && text[at] == '.' && !(++at, Digits(text, at, 3, f.ms))) return false;
        }
        f.utc = at < text.size() && text[at] == 'Z' && (++at, true);
    }
    return at == text.size() && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
           f.day <= DaysInMonth(f.year, f.month) && f.hour < 24 && f.minute < 60 && f.second < 60;
}

}  // namespace

std::string LocalTimeText(std::int64_t ms) {
    std::tm local{};
    if (!LocalCalendarTime(static_cast<std::time_t>(FloorDiv(ms, 1000)), local)) return UtcTimeText(ms);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string UtcTimeText(std::int64_t ms) {
    const std::int64_t days = FloorDiv(ms, MS_PER_DAY), inDay = ms - days * MS_PER_DAY;
    std::int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[80];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(year), month, day,
                  static_cast<int>(inDay / 3'600'000), static_cast<int>(inDay / 60'000 % 60),
                  static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
    return text;
}

std::optional<std::int64_t> ParseTimeText(const std::string& text) {
    Fields f;
    if (!ReadFields(text, f)) return std::nullopt;
    if (f.utc) {
        return DaysFromCivil(f.year, f.month, f.day) * MS_PER_DAY + f.hour * 3'600'000LL + f.minute * 60'000LL +
               f.second * 1000LL + f.ms;
    }
    std::tm local{};
    local.tm_year = f.year - 1900;
    local.tm_mon = f.month - 1;
    local.tm_mday = f.day;
    local.tm_hour = f.hour;
    local.tm_min = f.minute;
    local.tm_sec = f.second;
    local.tm_isdst = -1;  // whatever the zone's rule says for that day
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(when) * 1000 + f.ms;
}

}  // namespace zolt
