// The job's file in memory: reading the image information, the identification check, what
// a failed load keeps and reports, and that nothing outside the file is ever read.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/file_error.h"
#include "job/rom_image.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& image, std::size_t at, std::string_view text) {
    std::memcpy(image.data() + at, text.data(), text.size());
}

struct JobFileTest : ::testing::Test {
    test::TempDir dir;
    Config config;
    test::RecordingPrompt prompt;
    JobFile job{config, prompt};

    JobFileTest() {
        config.checkInfo = "ZOLTCDMA";
        config.mobileName = "Z600";
        config.bootChksumPos = 0x100;
        config.cpChksumPos = 0x200;
    }

    // An image of `size` bytes whose words and version blocks follow the configuration.
    Bytes Image(std::size_t size = 0x300, std::string_view ident = "ZOLTCDMA",
                std::string_view model = "Z600") const {
        Bytes image(size, 0xEE);
        const std::size_t d = config.combineVer != 0 ? 16 : 2;
        const auto boot = static_cast<std::size_t>(config.bootChksumPos);
        const auto cp = static_cast<std::size_t>(config.cpChksumPos);
        image[boot] = 0x34;
        image[boot + 1] = 0x12;
        image[cp] = 0xCD;
        image[cp + 1] = 0xAB;
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(boot + d), 32, 0);
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(cp + d), 32, 0);
        Put(image, boot + d + VERSION_STRING_OFFSET, "BOOT 1.2");
        Put(image, cp + d + VERSION_IDENT_OFFSET, ident);
        Put(image, cp + d + VERSION_MODEL_OFFSET, model);
        Put(image, cp + d + VERSION_STRING_OFFSET, "CP 3.4");
        return image;
    }

    std::vector<std::uint8_t> Loaded() const {
        auto bytes = job.Bytes();
        return {bytes.begin(), bytes.end()};
    }
};

bool IsCleared(const ImageInfo& info) {
    return info.bootChksum == 0 && info.cpChksum == 0 && info.bootVersion == VersionBlock{} &&
           info.cpVersion == VersionBlock{} && info.imageIdent.empty() && info.imageModel.empty();
}

// CombineVer 1 puts each version block 16 bytes after its word, 0 right behind it; read with
// the other layout, an image does not carry the identification.
TEST_F(JobFileTest, CombineVerPlacesTheVersionBlocksBehindTheChecksumWords) {
    for (int combineVer : {1, 0}) {
        SCOPED_TRACE(combineVer);
        config.combineVer = combineVer;
        const Bytes image = Image();
        ASSERT_EQ(image[combineVer ? 0x122 : 0x114], 'B');
        ASSERT_EQ(job.LoadRomImage(dir.Write("a.bin", image)), LOAD_OK);
        EXPECT_EQ(job.info().bootChksum, 0x1234);
        EXPECT_EQ(job.info().cpChksum, 0xABCD);
        EXPECT_EQ(job.info().BootVersionText(), "BOOT 1.2");
        EXPECT_EQ(job.info().CpVersionText(), "CP 3.4");
        EXPECT_EQ(job.info().bootVersion[0], 0);
        EXPECT_EQ(job.info().imageIdent, "ZOLTCDMA");
        EXPECT_EQ(job.info().imageModel, "Z600");
        EXPECT_EQ(Loaded(), image);
        EXPECT_TRUE(prompt.messages().empty());

        config.combineVer = 1 - combineVer;
        EXPECT_EQ(job.LoadRomImage(dir.File("a.bin")), LOAD_FORMAT_ERROR);
    }
}

TEST_F(JobFileTest, AnImageFromMemoryLoadsAsTheSameBytesFromAFile) {
    const Bytes image = Image();
    ASSERT_EQ(job.LoadRomImage(image, "mem.bin"), LOAD_OK);
    EXPECT_EQ(Loaded(), image);
    EXPECT_EQ(job.info().imageModel, "Z600");
    EXPECT_EQ(job.lastLoadedPath(), "mem.bin");
    EXPECT_EQ(job.LoadRomImage(Image(0x300, "OTHER"), "other.bin"), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.LoadRomImage(Bytes{}, "empty.bin"), LOAD_FORMAT_ERROR);
    EXPECT_TRUE(job.Bytes().empty());
    EXPECT_TRUE(job.image().Section(0, 0).has_value());  // loaded, if empty
    EXPECT_TRUE(prompt.messages().empty());
}

TEST(ImageText, FormatsChecksumsAndVersionStringsAsTheViewShowsThem) {
    EXPECT_EQ(FormatChecksum(0x1234), "0X1234");
    EXPECT_EQ(FormatChecksum(0xabcd), "0XABCD");
    EXPECT_EQ(FormatChecksum(0), "0X0000");

    // A field without a zero byte runs on into the next one, but never past the block.
    VersionBlock block{};
    const std::string full = "IDENTIFIERMODEL-NAVERSION-STRING";  // 32 bytes, no zero
    std::memcpy(block.data(), full.data(), 32);
    EXPECT_EQ(VersionBlockString(block, VERSION_IDENT_OFFSET), full);
    EXPECT_EQ(VersionBlockString(block, VERSION_STRING_OFFSET), "VERSION-STRING");
    block[5] = 0;
    EXPECT_EQ(VersionBlockString(block, VERSION_IDENT_OFFSET), "IDENT");
    EXPECT_EQ(VersionBlockString(block, 32), "");
}

TEST_F(JobFileTest, AnotherIdentificationOrModelIsAFormatErrorThatStaysLoaded) {
    const Bytes wrongModel = Image(0x300, "ZOLTCDMA", "Z601");
    EXPECT_EQ(job.LoadRomImage(dir.Write("model.bin", wrongModel)), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.info().imageModel, "Z601");
    EXPECT_EQ(Loaded(), wrongModel);

    EXPECT_EQ(job.LoadRomImage(dir.Write("ident.bin", Image(0x300, "zoltcdma"))), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.info().imageIdent, "zoltcdma");
    EXPECT_EQ(job.LoadRomImage(dir.Write("both.bin", Image(0x300, "OTHER", "Z601"))), LOAD_FORMAT_ERROR);
    // The loader leaves the message to its caller.
    EXPECT_TRUE(prompt.messages().empty());

    // Without a configuration the expected identification is the text "CheckInfo" itself.
    config = Config{};
    config.bootChksumPos = 0x100;
    config.cpChksumPos = 0x200;
    EXPECT_EQ(job.LoadRomImage(dir.File("model.bin")), LOAD_FORMAT_ERROR);
    // (The model name's field is 8 bytes: "MobileName" runs on into the version string.)
    Bytes named(0x300, 0);
    Put(named, 0x202, "CheckInfo");
    Put(named, 0x202 + VERSION_MODEL_OFFSET, "MobileName");
    EXPECT_EQ(job.LoadRomImage(dir.Write("named.bin", named)), LOAD_OK);
}

TEST_F(JobFileTest, MissingFileClearsTheInformationButKeepsThePreviousFile) {
    const Bytes image = Image();
    ASSERT_EQ(job.LoadRomImage(dir.Write("a.bin", image)), LOAD_OK);
    const std::string missing = dir.File("missing.bin");

    EXPECT_EQ(job.LoadRomImage(missing), LOAD_FAILED);
    EXPECT_TRUE(IsCleared(job.info()));
    EXPECT_EQ(Loaded(), image);
    EXPECT_EQ(job.image().fileLength, image.size());
    EXPECT_EQ(prompt.messages(),
              (std::vector<test::RecordingPrompt::Message>{
                  {missing + " was not found.", PromptIcon::Error}}));

    prompt.Clear();
    EXPECT_EQ(job.LoadPlainFile(dir.File("nowhere/x.srp")), LOAD_FAILED);
    EXPECT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(Loaded(), image);
}

TEST_F(JobFileTest, DirectoryIsRefusedAsAccessDenied) {
    EXPECT_EQ(job.LoadPlainFile(dir.path().string()), LOAD_FAILED);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"Access to " + dir.path().string() + " was denied."});
}

// Skips where permissions do not bind (as root).
TEST_F(JobFileTest, FileWithoutReadPermissionIsRefusedAsAccessDenied) {
    const std::string locked = dir.Write("locked.bin", Image());
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    if (std::ifstream(locked).is_open()) {
        GTEST_SKIP() << "permissions do not keep this user from reading";
    }
    EXPECT_EQ(job.LoadRomImage(locked), LOAD_FAILED);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"Access to " + locked + " was denied."});
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

TEST(FileErrorText, PutsTheFileNameWhereTheTextNamesIt) {
    EXPECT_EQ(FileErrorText(FileError::BadPath, "C:\\x"), "C:\\x contains an invalid path.");
    EXPECT_EQ(FileErrorText(FileError::TooManyOpenFiles, "f"),
              "f could not be opened because there are too many open files.");
    EXPECT_EQ(FileErrorText(FileError::SharingViolation, "f"),
              "A sharing violation occurred while accessing f.");
    EXPECT_EQ(FileErrorText(FileError::LockViolation, "f"),
              "A locking violation occurred while accessing f.");
    EXPECT_EQ(FileErrorText(FileError::HardIo, "f"),
              "A hardware I/O error was reported while accessing f.");
    EXPECT_EQ(FileErrorText(FileError::Generic, "f"), "An unknown error occurred while accessing f.");
    EXPECT_EQ(FileErrorText(FileError::None, "f"), "");
    EXPECT_EQ(FileErrorFromErrno(ENOENT), FileError::NotFound);
    EXPECT_EQ(FileErrorFromErrno(EACCES), FileError::AccessDenied);
    EXPECT_EQ(FileErrorFromErrno(EMFILE), FileError::TooManyOpenFiles);
    EXPECT_EQ(FileErrorFromErrno(EIO), FileError::HardIo);
}

TEST_F(JobFileTest, PositionsOutsideTheFileReadAsZerosAndNeverPastIt) {
    // The Boot word's low byte is the last byte of the file; everything else lies outside.
    Bytes shortImage(0x101, 0x5A);
    shortImage[0x100] = 0x34;
    EXPECT_EQ(job.LoadRomImage(dir.Write("short.bin", shortImage)), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.info().bootChksum, 0x0034);
    EXPECT_EQ(job.info().bootVersion, VersionBlock{});
    EXPECT_EQ(job.info().cpChksum, 0);
    EXPECT_EQ(job.info().imageIdent, "");

    // A block that starts inside and ends outside keeps the bytes that are there.
    Bytes partial(0x206, 0);
    Put(partial, 0x202, "ZOLT");
    EXPECT_EQ(job.LoadRomImage(dir.Write("partial.bin", partial)), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.info().imageIdent, "ZOLT");

    // Negative positions, and positions whose block would overflow 32-bit arithmetic.
    const Bytes image = Image();
    config.combineVer = 1;
    for (std::int32_t pos : {-100, -2147483647 - 1, 2147483647, 2147483647 - 15}) {
        config.bootChksumPos = config.cpChksumPos = pos;
        EXPECT_EQ(job.LoadRomImage(dir.Write("a.bin", image)), LOAD_FORMAT_ERROR) << pos;
        EXPECT_TRUE(IsCleared(job.info())) << pos;
    }
    config.bootChksumPos = -1;  // the word's high byte is the file's first byte
    EXPECT_EQ(job.LoadRomImage(dir.File("a.bin")), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.info().bootChksum, 0xEE00);
    config.bootChksumPos = -2;  // the block then starts at byte 14 of the file
    Bytes low(64, 0);
    Put(low, 14 + VERSION_STRING_OFFSET, "LOW");
    EXPECT_EQ(job.LoadRomImage(dir.Write("low.bin", low)), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.info().BootVersionText(), "LOW");
}

TEST_F(JobFileTest, EmptyFileLoadsAsAnEmptyBuffer) {
    const std::string empty = dir.Write("empty.srp", "");
    EXPECT_EQ(job.LoadPlainFile(empty), LOAD_OK);
    EXPECT_EQ(job.image().fileLength, 0u);
    EXPECT_TRUE(job.Bytes().empty());
    EXPECT_TRUE(job.image().Section(0, 0).has_value());
    EXPECT_FALSE(job.image().Section(0, 1).has_value());
    EXPECT_EQ(job.LoadRomImage(empty), LOAD_FORMAT_ERROR);
    EXPECT_TRUE(IsCleared(job.info()));
}

TEST_F(JobFileTest, SectionsAreHandedOutOnlyWhenWhollyInsideTheFile) {
    const RomImage nothing;
    EXPECT_FALSE(nothing.Section(0, 0).has_value());

    ASSERT_EQ(job.LoadPlainFile(dir.Write("ten.bin", Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9})), LOAD_OK);
    const RomImage& image = job.image();
    auto middle = image.Section(3, 4);
    ASSERT_TRUE(middle.has_value());
    EXPECT_EQ(Bytes(middle->begin(), middle->end()), (Bytes{3, 4, 5, 6}));
    EXPECT_EQ(image.Section(0, 10)->size(), 10u);
    EXPECT_EQ(image.Section(10, 0)->size(), 0u);
    EXPECT_FALSE(image.Section(9, 2).has_value());
    EXPECT_FALSE(image.Section(11, 0).has_value());
    EXPECT_FALSE(image.Section(-1, 2).has_value());
    EXPECT_FALSE(image.Section(0, -1).has_value());
    EXPECT_FALSE(image.Section(INT_MAX, INT_MAX).has_value());
    EXPECT_FALSE(image.Section(2, INT_MAX).has_value());
}

TEST_F(JobFileTest, PlainFileIsKeptAsReadWithTheInformationCleared) {
    ASSERT_EQ(job.LoadRomImage(dir.Write("a.bin", Image())), LOAD_OK);
    // Even a script that looks like an image is not looked into.
    const Bytes script = Image(0x280);
    EXPECT_EQ(job.LoadPlainFile(dir.Write("job.srp", script)), LOAD_OK);
    EXPECT_TRUE(IsCleared(job.info()));
    EXPECT_EQ(Loaded(), script);
}

TEST_F(JobFileTest, ReloadUsesTheLoaderThatLoadedTheFile) {
    // A script in a folder called "bin" looks like an image, but was loaded as a script.
    const std::string script = dir.Write("bin/job.srp", Image());
    ASSERT_EQ(job.LoadPlainFile(script), LOAD_OK);
    EXPECT_EQ(job.ReloadJobFile(script), LOAD_OK);
    EXPECT_TRUE(IsCleared(job.info()));

    // An image with an upper-case extension is reloaded as an image, as it is now on disk.
    Bytes image = Image();
    const std::string upper = dir.Write("X.BIN", image);
    ASSERT_EQ(job.LoadRomImage(upper), LOAD_OK);
    image[0x100] = 0x78;
    image[0x101] = 0x56;
    dir.Write("X.BIN", image);
    EXPECT_EQ(job.ReloadJobFile(upper), LOAD_OK);
    EXPECT_EQ(job.info().bootChksum, 0x5678);
    EXPECT_EQ(Loaded(), image);

    // A later failed or mismatching load does not change how the job's file is reloaded.
    EXPECT_EQ(job.LoadPlainFile(dir.File("missing.srp")), LOAD_FAILED);
    EXPECT_EQ(job.LoadRomImage(dir.Write("other.bin", Image(0x300, "OTHER"))), LOAD_FORMAT_ERROR);
    EXPECT_EQ(job.ReloadJobFile(upper), LOAD_OK);
    EXPECT_EQ(job.info().bootChksum, 0x5678);
    EXPECT_TRUE(prompt.messages().size() == 1u);  // only the missing script
}

TEST_F(JobFileTest, ReloadReportsAMismatchByItsResultAndAMissingFileOnce) {
    const std::string path = dir.Write("a.bin", Image());
    ASSERT_EQ(job.LoadRomImage(path), LOAD_OK);
    config.mobileName = "Z700";  // "Set config" after the image was opened
    EXPECT_EQ(job.ReloadJobFile(path), LOAD_FORMAT_ERROR);
    EXPECT_TRUE(prompt.messages().empty());

    std::filesystem::remove(path);
    EXPECT_EQ(job.ReloadJobFile(path), LOAD_FAILED);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{path + " was not found."});
}

TEST_F(JobFileTest, ReloadOfAFileNeverLoadedGoesByItsExtension) {
    const Bytes image = Image();
    EXPECT_EQ(job.ReloadJobFile(dir.Write("fresh.Bin", image)), LOAD_OK);
    EXPECT_EQ(job.info().bootChksum, 0x1234);
    EXPECT_EQ(job.ReloadJobFile(dir.Write("fresh.srp", image)), LOAD_OK);
    EXPECT_TRUE(IsCleared(job.info()));
}

}  // namespace
}  // namespace zolt
