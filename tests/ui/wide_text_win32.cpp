// Paths handed to the core: its A calls must reach the very file the operator chose.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <optional>
#include <string>

#include "support/temp_dir.h"
#include "ui/wide_text.h"

namespace zolt {
namespace {

// What the core does with a path: open it with the A API and read it.
std::optional<std::string> ReadThroughAnsiApi(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    char buffer[64] = {};
    DWORD read = 0;
    ReadFile(file, buffer, sizeof buffer, &read, nullptr);
    CloseHandle(file);
    return std::string(buffer, read);
}

bool IsAscii(const std::string& text) {
    for (const unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

TEST(PathForCore, NamesTheChosenFileOrNothing) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for the ANSI code page 1252, not " << GetACP();
    const test::TempDir dir;
    const auto write = [&](const std::wstring& folder, const char* text) {
        std::filesystem::create_directory(dir.path() / folder);
        std::ofstream(dir.path() / folder / L"ZOLT.ini", std::ios::binary) << text;
        return (dir.path() / folder / L"ZOLT.ini").wstring();
    };
    // "Łódź" with the nearest letters of code page 1252: what a best-fit conversion opens.
    write(L"Lodz", "look-alike");
    struct Case {
        std::wstring path;
        std::optional<std::string> read;  // what the A API reads under the path given; none: no path
        bool spelled;                     // the code page spells it as it is, not by its short name
    };
    const Case cases[] = {
        {write(L"Jos\u00e9", "Jose"), "Jose", true},
        {write(L"\u0141\u00f3d\u017a", "Lodz"), "Lodz", false},
        // No short name: the file does not exist.
        {(dir.path() / L"\u0141\u00f3d\u017a" / L"missing.ini").wstring(), std::nullopt, false},
    };
    for (const Case& c : cases) {
        const auto path = PathForCore(c.path);
        ASSERT_EQ(path.has_value(), c.read.has_value()) << c.read.value_or("none");
        if (!path) continue;
        EXPECT_EQ(ReadThroughAnsiApi(*path), c.read) << *path;
        if (c.spelled) {
            EXPECT_EQ(WidenCore(*path), c.path);
        } else {
            EXPECT_TRUE(IsAscii(*path)) << *path;
        }
    }
}

}  // namespace
}  // namespace zolt
