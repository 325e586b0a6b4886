// Reading Windows-style INI files: "[section]" headers followed by "key=value" lines. The
// same reader serves every platform and behaves as the program's configuration files expect:
//
// - Section and key names match without regard to ASCII case and to blanks (spaces, tabs)
//   around them, so the key "UpdateFlag " finds the line "UpdateFlag=4".
// - A section name is the text between '[' and the first ']' of its header line.
// - The first section of a name wins: keys under a later header of the same name are never
//   found. Within a section the first line of a key wins.
// - Lines whose first non-blank character is ';' are comments; a ';' later in a line is part
//   of the value. Lines without '=' and lines before the first header are ignored.
// - A value loses the blanks around it and then one pair of enclosing matching quotes
//   (single or double).
// - Line ends may be LF, CR LF or CR; a leading UTF-8 byte-order mark is ignored.
//
// Texts are bytes in the platform's narrow encoding; no character set conversion is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zolt {

class IniFile {
public:
    // Files are read up to this many bytes; anything beyond is ignored. Real configuration
    // files are a few kilobytes; the cap keeps a wrong or binary file from costing unbounded
    // memory and lookup time.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    // The text of the file at `path`; a missing or unreadable file, or one that is not a
    // regular file, gives an empty IniFile, in which every lookup gives its default.
    [[nodiscard]] static IniFile Load(const std::string& path);
    // An IniFile over `text` (also capped at kMaxFileBytes).
    [[nodiscard]] static IniFile Parse(std::string_view text);

    // Each lookup scans the text once (the files are small and read a few dozen times).

    // The value of `key` in `section`, or `defaultValue` when the section or the key is
    // missing. The result is cut to its first `maxChars` bytes (the program's text buffers
    // hold 49 characters and a terminating zero).
    [[nodiscard]] std::string GetString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue,
                                        std::size_t maxChars = 49) const;

    // The value of `key` in `section` as a number, or `defaultValue` when the section or the
    // key is missing or the value is empty. Accepts an optional sign and then decimal digits,
    // or "0x"/"0X" and hexadecimal digits; conversion stops at the first other character,
    // so "12abc" gives 12 and "abc" gives 0. Values wrap to 32 bits ("0xFFFFFFFF" gives -1).
    [[nodiscard]] std::int32_t GetInt(std::string_view section, std::string_view key,
                                      std::int32_t defaultValue) const;

    [[nodiscard]] bool HasSection(std::string_view section) const;
    [[nodiscard]] bool HasKey(std::string_view section, std::string_view key) const;

    // Converts the text of an integer value as GetInt does (without the default).
    [[nodiscard]] static std::int32_t ParseInt(std::string_view text);

private:
    explicit IniFile(std::string text) : text_(std::move(text)) {}
    // The raw value text of the key, or false when it is missing.
    bool Find(std::string_view section, std::string_view key, std::string_view& value) const;

    std::string text_;
};

}  // namespace zolt
