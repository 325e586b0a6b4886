// Local-file failures of the calibration backup that only POSIX can provoke on demand: a
// write refused in the middle of the file, a file gone before it is read back, a file too
// large to hold. Each fails the backup, so that no flash runs without a usable backup. And
// the lock that keeps cooperating programs out of the file while it is written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "cal/backup.h"
#include "io/file_error.h"
#include "support/recording_prompt.h"
#include "support/scripted_phone.h"
#include "support/short_timing.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZOLT_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZOLT_TEST_SANITIZED 1
#endif
#endif

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ScriptedPhone;
using test::RecordingPrompt;
using test::ScriptedDevice;
using test::TempDir;

constexpr const char* CATALOG =
    "[PageA]\nETS, Id=17\nDB Id=0\nMsgstring=PageA\nSegment=1\nOffset=0\nBytes=40\n"
    "[PageB]\nETS, Id=17\nDB Id=0\nMsgstring=PageB\nSegment=2\nOffset=0\nBytes=40\n"
    "[MAXPAGECONUT]\nCount=2\n";

using test::ReadFile;

// Whether another program that asks for a lock of its own gets the file.
bool OthersCanLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

// Files written by this process may grow to `limit` bytes; a write beyond fails with EFBIG
// instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

struct BackupFilesFixture : ::testing::Test {
    LinkSession line;
    ScriptedDevice device{line.stop};
    ScriptedPhone phone{device, false};
    CalState cal;
    RecordingPrompt prompt;
    TempDir dir;
    std::string path;

    void SetUp() override {
        line.device = &device;
        line.timing = test::ShortTiming();
        line.timing.receiveFrameLimit = 60ms;
        cal.catalog.LoadFromText(CATALOG);
        path = CalibrationFilePath(dir.path().string(), 0);
    }
    int Backup() { return BackupCalibration(line, cal, 0, dir.path().string(), prompt); }
    // Runs `action` when the phone's file system is released, just before the file is closed.
    void OnRelease(std::function<void()> action) {
        phone.script = [this, action](const Bytes& body) -> std::optional<std::vector<Bytes>> {
            if (body == test::CAL_FS_DONE_2) action();
            return std::nullopt;
        };
    }
    std::string Status() const { return line.statusText.Get(); }
};

TEST_F(BackupFilesFixture, WriteErrorFailsTheBackupAndKeepsWhatWasWritten) {
    // Room for the first line and the first page's record, not for the second.
    ASSERT_EQ(Backup(), RESULT_OK);
    const std::string whole = ReadFile(path);
    const std::size_t secondRecordStart = whole.find("ETS, Id=CP DB Write", 30);
    ASSERT_NE(secondRecordStart, std::string::npos);
    phone.requests.clear();

    {
        const FileSizeLimit limit(secondRecordStart);
        EXPECT_EQ(Backup(), RESULT_FAIL);
    }
    EXPECT_EQ(Status().rfind("Couldn't write the calibration file", 0), 0u) << Status();
    EXPECT_EQ(ReadFile(path), whole.substr(0, secondRecordStart));
    EXPECT_FALSE(cal.backupHeld);
    // The backup stopped at the failed page: no setting read, no release.
    EXPECT_TRUE(phone.Requests([](const Bytes& b) { return b == test::CAL_SETTING_READ; }).empty());
}

TEST_F(BackupFilesFixture, FileGoneBeforeTheReadBackFailsWithTheFileErrorReport) {
    cal.backupText = {1};
    cal.backupHeld = true;
    OnRelease([this] { std::filesystem::remove(path); });
    EXPECT_EQ(Backup(), RESULT_FAIL);
    const std::vector<RecordingPrompt::Message> expected = {
        {FileErrorText(FileError::NotFound, path), PromptIcon::Error},
        {"File format error !", PromptIcon::Error},
    };
    EXPECT_EQ(prompt.messages(), expected);
    EXPECT_EQ(Status().rfind("Couldn't read the calibration file back", 0), 0u) << Status();
    EXPECT_FALSE(cal.backupHeld);
    EXPECT_TRUE(cal.backupText.empty());
}

TEST_F(BackupFilesFixture, FileTooLargeToHoldFailsWithNoEnoughMemory) {
#ifdef ZOLT_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizers abort on an impossible allocation instead of failing it";
#endif
    // A sparse file far beyond the machine's memory; the allocation for it must fail.
    bool grown = false;
    OnRelease([this, &grown] {
        std::error_code error;
        std::filesystem::resize_file(path, std::uintmax_t{1} << 43, error);
        grown = !error;
    });
    const int result = Backup();
    if (!grown) GTEST_SKIP() << "the file system holds no sparse file of 8 TiB";
    EXPECT_EQ(result, RESULT_FAIL);
    EXPECT_EQ(prompt.messages(),
              (std::vector<RecordingPrompt::Message>{{"No Enough Memory!", PromptIcon::Error}}));
    EXPECT_EQ(Status(), "No memory to hold the calibration file!");
    EXPECT_FALSE(cal.backupHeld);
}

TEST_F(BackupFilesFixture, FileIsLockedWhileWrittenAndAFileLockedElsewhereIsLeftAlone) {
    std::vector<bool> lockableAtPageRead;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body.size() == 8) lockableAtPageRead.push_back(OthersCanLock(path));
        return std::nullopt;
    };
    ASSERT_EQ(Backup(), RESULT_OK) << Status();
    EXPECT_EQ(lockableAtPageRead, (std::vector<bool>{false, false}));
    EXPECT_TRUE(OthersCanLock(path));

    // Another program holds the file locked: the backup leaves it as it is and sends nothing.
    const std::string before = ReadFile(path);
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    phone.requests.clear();
    EXPECT_EQ(Backup(), RESULT_FAIL);
    ::close(other);
    EXPECT_EQ(prompt.messages(),
              (std::vector<RecordingPrompt::Message>{
                  {"Couldn't open file: " + FileErrorText(FileError::SharingViolation, path), PromptIcon::None}}));
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(phone.requests.empty());
}

}  // namespace
}  // namespace zolt
