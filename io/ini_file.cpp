#include "io/ini_file.h"

#include <algorithm>

#include "io/input_file.h"

namespace zolt {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

// Walks the text line by line, each line already stripped of its blanks.
class LineReader {
public:
    explicit LineReader(std::string_view text) : rest_(text) {}
    bool Next(std::string_view& line) {
        if (rest_.empty()) return false;
        std::size_t end = rest_.find_first_of("\r\n");
        if (end == std::string_view::npos) end = rest_.size();
        line = Trim(rest_.substr(0, end));
        std::size_t next = end;
        if (next < rest_.size() && rest_[next] == '\r') ++next;
        if (next < rest_.size() && rest_[next] == '\n') ++next;
        rest_.remove_prefix(next);
        return true;
    }

private:
    std::string_view rest_;
};

bool IsHeader(std::string_view line) { return !line.empty() && line.front() == '['; }

std::string_view HeaderName(std::string_view line) {
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

int DigitValue(char c, int base) {
    int v = 36;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z') v = c - 'A' + 10;
    return v < base ? v : -1;
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
    // Through InputFile rather than a stream: it refuses pipes and devices, which a stream
    // would wait on or read without end.
    InputFile file;
    std::uint64_t length = 0;
    if (file.Open(path) != FileError::None || file.Length(length) != FileError::None) {
        return IniFile(std::string());
    }
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(length, kMaxFileBytes)), '\0');
    if (file.ReadAll(reinterpret_cast<std::uint8_t*>(text.data()), text.size()) != FileError::None) {
        return IniFile(std::string());
    }
    return Parse(text);
}

IniFile IniFile::Parse(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kMaxFileBytes));
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
    return IniFile(std::string(text));
}

bool IniFile::Find(std::string_view section, std::string_view key, std::string_view& value) const {
    section = Trim(section);
    key = Trim(key);
    LineReader lines(text_);
    std::string_view line;
    bool inSection = false;
    while (lines.Next(line)) {
        if (line.empty() || line.front() == ';') continue;
        if (IsHeader(line)) {
            // Only the first section of the name counts: its end ends the search.
            if (inSection) return false;
            inSection = SameName(HeaderName(line), section);
            continue;
        }
        if (!inSection) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (SameName(Trim(line.substr(0, eq)), key)) {
            value = Unquote(Trim(line.substr(eq + 1)));
            // The program holds values as C strings: a zero byte ends one.
            value = value.substr(0, value.find('\0'));
            return true;
        }
    }
    return false;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view defaultValue, std::size_t maxChars) const {
    std::string_view value;
    if (!Find(section, key, value)) value = defaultValue;
    return std::string(value.substr(0, std::min(value.size(), maxChars)));
}

std::int32_t IniFile::GetInt(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const {
    std::string_view value;
    if (!Find(section, key, value) || value.empty()) return defaultValue;
    return ParseInt(value);
}

bool IniFile::HasSection(std::string_view section) const {
    section = Trim(section);
    LineReader lines(text_);
    std::string_view line;
    while (lines.Next(line)) {
        if (IsHeader(line) && SameName(HeaderName(line), section)) return true;
    }
    return false;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
    std::string_view value;
    return Find(section, key, value);
}

std::int32_t IniFile::ParseInt(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // Unsigned arithmetic wraps instead of overflowing, as the platform's converter does.
    std::uint32_t magnitude = 0;
    for (char c : text) {
        int digit = DigitValue(c, base);
        if (digit < 0) break;
        magnitude = magnitude * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    }
    if (negative) magnitude = 0u - magnitude;
    return static_cast<std::int32_t>(magnitude);
}

}  // namespace zolt
