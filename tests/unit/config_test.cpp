// The configuration file: which file is read, which keys, and what a missing value gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "job/config_file.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

const char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

const char* const kFullConfig =
    "[MainConfig]\n"
    "CheckInfo=CDMA-ID\n"
    "MobileName=\"Model 7\"\n"
    "CombineVer=1\n"
    "UpdateFlag=4\n"
    "[BootConfig]\n"
    "Start=0\n"
    "Size=0x10000\n"
    "ChksumPos=0x100\n"
    "[CpConfig]\n"
    "Start=0X10000\n"
    "Size=1048576\n"
    "ChksumPos=0x10100\n"
    "[DataConfig]\n"
    "Start=0x110000\n"
    "Size=65536\n";

Config Scribbled() {
    Config c;
    c.checkInfo = "old";
    c.mobileName = "old";
    c.combineVer = c.updateFlag = c.bootStart = c.bootSize = c.bootChksumPos = 99;
    c.cpStart = c.cpSize = c.cpChksumPos = c.dataStart = c.dataSize = 99;
    return c;
}

TEST(ConfigFile, ReadsEveryKeyOfTheChosenFileButTheUpdateFlag) {
    test::TempDir dir;
    const std::string path = dir.Write("ZOLT_CONFIG/phone.ini", kFullConfig);
    Config config = Scribbled();
    EXPECT_EQ(ReadConfig(config, path), path);
    EXPECT_EQ(config.checkInfo, "CDMA-ID");
    EXPECT_EQ(config.mobileName, "Model 7");
    EXPECT_EQ(config.combineVer, 1);  // the file names the key without the trailing blank
    EXPECT_EQ(config.bootStart, 0);
    EXPECT_EQ(config.bootSize, 0x10000);
    EXPECT_EQ(config.bootChksumPos, 0x100);
    EXPECT_EQ(config.cpStart, 0x10000);
    EXPECT_EQ(config.cpSize, 1048576);
    EXPECT_EQ(config.cpChksumPos, 0x10100);
    EXPECT_EQ(config.dataStart, 0x110000);
    EXPECT_EQ(config.dataSize, 65536);
    // Only the default file at start-up sets the update choices.
    EXPECT_EQ(config.updateFlag, 99);
}

TEST(ConfigFile, OverwritesEveryMemberWithDefaultsForWhatIsMissing) {
    test::TempDir dir;
    const std::string sixty(60, 'x');
    const std::string path = dir.Write("partial.ini",
                                       "[MainConfig]\n"
                                       "MobileName=" + sixty + "\n"
                                       "[BootConfig]\n"
                                       "Size=12\n"
                                       "[CpConfig]\n"
                                       "Start=junk\n");
    Config config = Scribbled();
    ReadConfig(config, path);
    EXPECT_EQ(config.checkInfo, "CheckInfo");
    EXPECT_EQ(config.mobileName, std::string(49, 'x'));
    EXPECT_EQ(config.combineVer, 0);
    EXPECT_EQ(config.bootStart, 0);
    EXPECT_EQ(config.bootSize, 12);
    EXPECT_EQ(config.cpStart, 0);  // not a number
    EXPECT_EQ(config.dataStart, 0);
    EXPECT_EQ(config.dataSize, 0);

    Config fromMissing = Scribbled();
    ReadConfig(fromMissing, dir.File("no such file.ini"));
    Config expected;
    expected.updateFlag = 99;
    EXPECT_EQ(fromMissing.checkInfo, expected.checkInfo);
    EXPECT_EQ(fromMissing.mobileName, expected.mobileName);
    EXPECT_EQ(fromMissing.cpChksumPos, 0);
    EXPECT_EQ(fromMissing.dataSize, 0);
}

TEST(ConfigFile, CancelledChoiceAndUpdateFlagReadTheDefaultFileOfTheCurrentDirectory) {
    test::TempDir dir;
    dir.Write("ZOLT.ini", kFullConfig);
    dir.Write("ZOLT_CONFIG/other.ini", "[MainConfig]\nCheckInfo=other\nUpdateFlag=2\n");
    test::CurrentDirectoryGuard inDir(dir.path());

    Config config = Scribbled();
    EXPECT_EQ(ReadConfig(config, std::nullopt), DefaultConfigPath());
    EXPECT_EQ(config.checkInfo, "CDMA-ID");
    config = Scribbled();
    ReadConfig(config, std::string());
    EXPECT_EQ(config.cpChksumPos, 0x10100);

    ReadUpdateFlag(config, {});
    EXPECT_EQ(config.updateFlag, 4);
    ReadConfig(config, dir.File("ZOLT_CONFIG/other.ini"));
    EXPECT_EQ(config.checkInfo, "other");
    EXPECT_EQ(config.updateFlag, 4);

    // The directory is asked for afresh: another one has no ZOLT.ini.
    test::TempDir empty;
    test::CurrentDirectoryGuard inEmpty(empty.path());
    ReadUpdateFlag(config, {});
    EXPECT_EQ(config.updateFlag, 0);
    // A folder named reads its own.
    ReadUpdateFlag(config, dir.path().string());
    EXPECT_EQ(config.updateFlag, 4);
}

TEST(ConfigFile, BuildsPathsWithOneSeparator) {
    const std::string sep(1, kSeparator);
    EXPECT_EQ(JoinPath("dir", "ZOLT.ini"), "dir" + sep + "ZOLT.ini");
    EXPECT_EQ(JoinPath("dir" + sep, "ZOLT.ini"), "dir" + sep + "ZOLT.ini");
    EXPECT_EQ(JoinPath("", "ZOLT.ini"), "ZOLT.ini");

    test::TempDir dir;
    test::CurrentDirectoryGuard inDir(dir.path());
    const std::string cwd = CurrentDirectory();
    ASSERT_FALSE(cwd.empty());
    EXPECT_EQ(DefaultConfigPath(), cwd + sep + "ZOLT.ini");
    EXPECT_EQ(ConfigChooserInitialName(), cwd + sep + "ZOLT_CONFIG" + sep + "*.ini");

    // A root directory already ends in its separator.
    const std::filesystem::path root = dir.path().root_path();
    test::CurrentDirectoryGuard inRoot(root);
    const std::string rootText = CurrentDirectory();
    ASSERT_FALSE(rootText.empty());
    EXPECT_EQ(DefaultConfigPath(), rootText + "ZOLT.ini");
}

}  // namespace
}  // namespace zolt
