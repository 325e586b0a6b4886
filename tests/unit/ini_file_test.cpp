// The INI reader: the lookup rules of the platform's profile reader that the configuration
// and the page catalogue rely on, and robustness against files that are not INI text.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "io/ini_file.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

TEST(IniFile, MatchesNamesWithoutRegardToCaseOrSurroundingBlanks) {
    const IniFile ini = IniFile::Parse(
        "[ mainconfig ]\n"
        "  updateflag = 4 \n"
        "\tCombineVer\t=\t1\n"
        "[CPCONFIG]\n"
        "start=0x2000\n");
    // The program asks for two keys with a trailing blank.
    EXPECT_EQ(ini.GetInt("MainConfig", "UpdateFlag ", 0), 4);
    EXPECT_EQ(ini.GetInt("MainConfig", "CombineVer ", 0), 1);
    EXPECT_EQ(ini.GetInt("CpConfig", "Start", 0), 0x2000);
    EXPECT_TRUE(ini.HasSection("  MAINCONFIG"));
    EXPECT_FALSE(ini.HasSection("Main Config"));
    // A key of another section is not found in this one.
    EXPECT_EQ(ini.GetInt("MainConfig", "Start", -1), -1);
}

TEST(IniFile, FirstSectionAndFirstKeyOfANameWin) {
    const IniFile ini = IniFile::Parse(
        "[Page]\n"
        "Segment=1\n"
        "Segment=2\n"
        "[Other]\n"
        "Segment=3\n"
        "[page]\n"
        "Segment=4\n"
        "Bytes=5\n");
    EXPECT_EQ(ini.GetInt("Page", "Segment", 0), 1);
    // Keys under a later header of the same name are never found.
    EXPECT_EQ(ini.GetInt("Page", "Bytes", 7), 7);
    EXPECT_FALSE(ini.HasKey("Page", "Bytes"));
    EXPECT_EQ(ini.GetInt("Other", "Segment", 0), 3);
}

TEST(IniFile, SkipsCommentsAndLinesThatAreNotKeysAndStripsQuotes) {
    const IniFile ini = IniFile::Parse(
        "Loose=1\n"
        "[S]\n"
        "; Hidden=2\n"
        "   ;Indented=3\n"
        "no equals sign here\n"
        "Semi=a;b\n"
        "Double=\"  two words \"\n"
        "Single='x'\n"
        "Mixed=\"x'\n"
        "Lone=\"\n"
        "Empty=\n"
        "ETS, Id=12\n");
    EXPECT_FALSE(ini.HasKey("S", "Loose"));
    EXPECT_FALSE(ini.HasKey("S", "Hidden"));
    EXPECT_FALSE(ini.HasKey("S", "Indented"));
    EXPECT_EQ(ini.GetString("S", "Semi", "-"), "a;b");
    EXPECT_EQ(ini.GetString("S", "Double", "-"), "  two words ");
    EXPECT_EQ(ini.GetString("S", "Single", "-"), "x");
    EXPECT_EQ(ini.GetString("S", "Mixed", "-"), "\"x'");
    EXPECT_EQ(ini.GetString("S", "Lone", "-"), "\"");
    // A key that is present with no value is an empty text, but an integer's default.
    EXPECT_EQ(ini.GetString("S", "Empty", "-"), "");
    EXPECT_EQ(ini.GetInt("S", "Empty", 9), 9);
    EXPECT_EQ(ini.GetInt("S", "ETS, Id", 0), 12);
}

TEST(IniFile, CutsStringsAndDefaultsToMaxChars) {
    const std::string sixty(60, 'A');
    const IniFile ini = IniFile::Parse("[MainConfig]\nCheckInfo=" + sixty + "\n");
    EXPECT_EQ(ini.GetString("MainConfig", "CheckInfo", "CheckInfo"), std::string(49, 'A'));
    EXPECT_EQ(ini.GetString("MainConfig", "CheckInfo", "", 5), "AAAAA");
    EXPECT_EQ(ini.GetString("MainConfig", "Missing", sixty), std::string(49, 'A'));
    EXPECT_EQ(ini.GetString("Missing", "CheckInfo", "CheckInfo"), "CheckInfo");
}

TEST(IniFile, ConvertsIntegersLikeThePlatformReader) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"42", 42},          {"-7", -7},           {"+5", 5},        {"0x1F", 31},
        {"0X100", 256},      {"0xfF", 255},        {"-0x10", -16},   {"12abc", 12},
        {"abc", 0},          {"0x", 0},            {"0xG1", 0},      {"-", 0},
        {"1 2", 1},          {"0xFFFFFFFF", -1},   {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1},           {"4294967296", 0},
        {"99999999999999999999999", static_cast<std::int32_t>(0xF67FFFFFu)},
        {"007", 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IniFile::ParseInt(c.text), c.value) << c.text;
        const IniFile ini = IniFile::Parse(std::string("[S]\nK=") + c.text + "\n");
        EXPECT_EQ(ini.GetInt("S", "K", 1234), c.value) << c.text;
    }
    const IniFile ini = IniFile::Parse("[S]\nQuoted=\"0x20\"\n");
    EXPECT_EQ(ini.GetInt("S", "Quoted", 0), 0x20);
    EXPECT_EQ(ini.GetInt("S", "Missing", -3), -3);
    EXPECT_EQ(ini.GetInt("Nowhere", "K", 17), 17);
}

TEST(IniFile, AcceptsEveryLineEndAndAByteOrderMark) {
    const IniFile crlf = IniFile::Parse("\xEF\xBB\xBF[A]\r\nX=1\r\nY=two\r\n");
    EXPECT_EQ(crlf.GetInt("A", "X", 0), 1);
    EXPECT_EQ(crlf.GetString("A", "Y", ""), "two");
    const IniFile cr = IniFile::Parse("[A]\rX=1\rY=two");
    EXPECT_EQ(cr.GetInt("A", "X", 0), 1);
    EXPECT_EQ(cr.GetString("A", "Y", ""), "two");
}

TEST(IniFile, ReadsHeadersAsThePlatformReaderDoes) {
    const IniFile ini = IniFile::Parse(
        "[a]b]\n"
        "K=1\n"
        "[Open\n"
        "K=2\n");
    // The name ends at the first ']', and a header without one takes the rest of the line.
    EXPECT_EQ(ini.GetInt("a", "K", 0), 1);
    EXPECT_EQ(ini.GetInt("a]b", "K", 0), 0);
    EXPECT_EQ(ini.GetInt("Open", "K", 0), 2);
}

TEST(IniFile, MissingEmptyAndBinaryFilesGiveDefaults) {
    test::TempDir dir;
    EXPECT_EQ(IniFile::Load(dir.File("missing.ini")).GetInt("MainConfig", "UpdateFlag ", 3), 3);
    EXPECT_EQ(IniFile::Load(dir.path().string()).GetString("S", "K", "d"), "d");
    EXPECT_EQ(IniFile::Load(dir.Write("empty.ini", "")).GetString("S", "K", "d"), "d");

    std::string binary;
    std::mt19937 random(7);
    for (int i = 0; i < 100000; ++i) binary.push_back(static_cast<char>(random() & 0xFF));
    const IniFile noise = IniFile::Load(dir.Write("noise.ini", binary));
    EXPECT_EQ(noise.GetInt("MainConfig", "CombineVer ", 5), 5);

    // A zero byte ends a value as it ends the program's C strings.
    const IniFile zero = IniFile::Load(dir.Write("zero.ini", std::string("[S]\nK=ab\0cd\n", 12)));
    EXPECT_EQ(zero.GetString("S", "K", ""), "ab");
}

TEST(IniFile, ReadsOnlyTheFirstMebibyteOfAHugeFile) {
    test::TempDir dir;
    std::string text = "[Early]\nK=1\n";
    text += std::string(IniFile::kMaxFileBytes, ';');
    text += "\n[Late]\nK=2\n";
    const IniFile ini = IniFile::Load(dir.Write("huge.ini", text));
    EXPECT_EQ(ini.GetInt("Early", "K", 0), 1);
    EXPECT_FALSE(ini.HasSection("Late"));
    EXPECT_FALSE(IniFile::Parse(text).HasSection("Late"));
}

}  // namespace
}  // namespace zolt
