// The backup's files: the line's calibration file is replaced only by a whole backup, its
// setting file names it, every complete backup stays in the archive, and a saved backup that
// cannot be played back whole, or whose setting file belongs elsewhere, is refused on load.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "cal/backup.h"
#include "io/atomic_file.h"
#include "io/sha256.h"
#include "support/cal_line_fixture.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ReadFile;

TEST(Sha256, StandardVectors) {
    struct Case {
        std::string text;
        const char* digest;
    };
    for (const Case& c : {
             Case{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             Case{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             // 56 bytes: the length no longer fits the last block, a second one is added.
             Case{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             Case{std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
         }) {
        EXPECT_EQ(Sha256Hex(c.text), c.digest) << c.text.size();
    }
}

struct BackupPairFixture : test::CalLineFixture {
    BackupPairFixture() { Catalog({{"PageA", 0, 1, 0, 4}, {"PageB", 0, 2, 0, 4}, {"PageC", 1, 3, 8, 4}}); }
    std::vector<std::string> Archive() const {
        std::vector<std::string> names;
        for (const auto& [name, bytes] : Files()) {
            if (name.starts_with("backups/")) names.push_back(name);
        }
        return names;
    }
};

TEST_F(BackupPairFixture, StoppedBackupLeavesThePreviousFilesAsTheyWere) {
    phone.setting = 0x21;
    ASSERT_EQ(Backup(), RESULT_OK);
    const auto before = Files();
    ASSERT_EQ(before.size(), 4u);  // the line's pair and the archive's
    for (int stopAt = 0; stopAt < 3; ++stopAt) {
        SCOPED_TRACE(stopAt);
        phone.pages[{0, 1}] = {9, 9, 9, 9};
        int pageReads = 0;
        phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (test::IsPageRead(body) && pageReads++ == stopAt) {
                line.stop.Raise();
                return std::vector<Bytes>{};
            }
            return std::nullopt;
        };
        EXPECT_THROW((void)Backup(), LineStopped);
        line.stop.Clear();
        EXPECT_EQ(Files(), before);
    }
}

TEST_F(BackupPairFixture, EveryCompleteBackupUpdatesTheLineAndAddsOnePairToTheArchive) {
    phone.setting = 0x21;
    ASSERT_EQ(Backup(), RESULT_OK);
    const std::string first = ReadFile(path);
    phone.pages[{0, 1}] = {1, 2, 3, 4};
    phone.setting = 0x22;
    ASSERT_EQ(Backup(), RESULT_OK);
    const std::string second = ReadFile(path);
    ASSERT_NE(first, second);
    EXPECT_EQ(std::string(cal.backupText.begin(), cal.backupText.end()), second);
    EXPECT_EQ(ReadFile(SettingFilePath(path)), SettingFileText(0x22, second));
    EXPECT_EQ(Load(path), "");

    const auto archive = Archive();
    ASSERT_EQ(archive.size(), 4u) << ::testing::PrintToString(archive);
    std::map<std::string, int> kept;  // calibration text -> setting files that name it
    for (const std::string& name : archive) {
        if (!name.ends_with(".srp")) continue;
        const std::string file = (dir.path() / name).string();
        EXPECT_EQ(Load(file), "") << name;
        const std::string text = ReadFile(file);
        // backups/YYYYMMDD-HHMMSS-COM-1-<12 digits of the fingerprint>.srp
        EXPECT_EQ(name.size(), std::string("backups/20261209-031530-COM-1-").size() + 12 + 4) << name;
        EXPECT_NE(name.find("-COM-1-" + Sha256Hex(text).substr(0, 12) + ".srp"), std::string::npos) << name;
        ++kept[text];
    }
    EXPECT_EQ(kept, (std::map<std::string, int>{{first, 1}, {second, 1}}));
}

TEST_F(BackupPairFixture, SavedBackupThatCannotBePlayedBackWholeIsRefused) {
    phone.setting = 0x21;
    ASSERT_EQ(Backup(), RESULT_OK);
    const std::string good = ReadFile(path);
    const std::string goodSetting = ReadFile(SettingFilePath(path));
    const std::string endless = good.substr(0, good.rfind("END"));
    const std::string lastCut = good.substr(0, good.rfind("ETS")) + "END\n";
    std::string renamed = good;
    renamed.replace(renamed.find("PageB"), 5, "PageX");
    struct Case {
        const char* what;
        std::string text;
        std::string setting;  // "-": no setting file
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"empty", "", SettingFileText(0x21, ""), "it is empty"},
        {"cut off before END", endless, SettingFileText(0x21, endless), "cut off"},
        {"last page missing", lastCut, SettingFileText(0x21, lastCut), "holds 2 pages, the catalogue"},
        {"page renamed", renamed, SettingFileText(0x21, renamed), "names page \"PageX\""},
        {"setting of another file", good, SettingFileText(0x21, renamed), "belongs to another calibration file"},
        {"no setting file", good, "-", "without its setting file"},
        {"setting of an older ZOLT", good, "33\n", "add the line srp-sha256=" + Sha256Hex(good)},
        {"setting out of range", good, "setting=300\nsrp-sha256=" + Sha256Hex(good) + "\n", "no setting from 0 to 255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("COM-1calibration.srp", c.text);
        std::filesystem::remove(SettingFilePath(path));
        if (c.setting != "-") dir.Write("COM-1calibration.setting", c.setting);
        const std::string reason = Load(path);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
    }
    dir.Write("COM-1calibration.srp", good);
    dir.Write("COM-1calibration.setting", goodSetting);
    EXPECT_EQ(Load(path), "");
}

TEST_F(BackupPairFixture, RecordThatTheRestoreWouldRefuseIsRefusedOnLoad) {
    Catalog({{"PageA", 0, 1, 0, 4}});
    const std::string text = "ETS, Id=CP Power, Power=Down\n"
                             "ETS, Id=CP DB Write, DB id=CP Write, Segment=PageA, Offset=0, Bytes=4, Write Thru=1, Data=" +
                             std::string(3000, ' ') + "0x01 0x02 0x03 0x04 \nEND\n";
    dir.Write("COM-1calibration.srp", text);
    dir.Write("COM-1calibration.setting", SettingFileText(1, text));
    EXPECT_NE(Load(path).find("Record 1 (line 2) refused"), std::string::npos) << Load(path);
}

// What a writer killed before its commit leaves: a temporary file beside the line's file,
// which is neither taken for the line's file nor accepted as a backup of its own.
TEST_F(BackupPairFixture, LeftOverTemporaryFileIsNeverTakenForABackup) {
    ASSERT_EQ(Backup(), RESULT_OK);
    const auto before = Files();
    constexpr const char* PART = "ETS, Id=CP Power, Power=Down\nETS, Id=CP DB Write";
    std::string temp;
    {
        AtomicFile file;
        ASSERT_EQ(file.Begin(path), FileError::None);
        ASSERT_EQ(file.Write(PART), FileError::None);
        temp = file.TempPath();
    }  // abandoned: as a stop leaves it
    EXPECT_EQ(Files(), before);
    dir.Write(std::filesystem::path(temp).filename().string(), PART);  // as a kill leaves it
    EXPECT_TRUE(temp.ends_with(".tmp")) << temp;
    EXPECT_NE(Load(temp), "");
    EXPECT_EQ(Load(path), "");
    ASSERT_EQ(Backup(), RESULT_OK);
    EXPECT_EQ(Load(path), "");
}

}  // namespace
}  // namespace zolt
