// Local-file failures of the calibration backup that only POSIX can provoke on demand: a
// write refused in the middle of the file, a writer killed before its commit. Each leaves the
// previous backup as it was. And the lock that keeps cooperating programs out of the file
// while it is written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "cal/backup.h"
#include "io/atomic_file.h"
#include "io/file_error.h"
#include "support/recording_prompt.h"
#include "support/scripted_phone.h"
#include "support/short_timing.h"
#include "support/temp_dir.h"

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
    // Every file below the work folder, by its path, with its bytes.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path().string());
        }
        return files;
    }
    std::string Status() const { return line.statusText.Get(); }
};

TEST_F(BackupFilesFixture, WriteErrorFailsTheBackupAndLeavesThePreviousFilesAsTheyWere) {
    ASSERT_EQ(Backup(), RESULT_OK);
    const auto before = Files();
    phone.requests.clear();
    phone.pages[{0, 1}] = Bytes(40, 7);
    {
        // Room for the first line and part of the first record of the new backup.
        const FileSizeLimit limit(60);
        EXPECT_EQ(Backup(), RESULT_FAIL);
    }
    EXPECT_EQ(Status().rfind("Couldn't write the calibration file", 0), 0u) << Status();
    EXPECT_EQ(Files(), before);
    EXPECT_FALSE(cal.backupHeld);
    // The backup stopped at the failed page: no setting read, no release.
    EXPECT_TRUE(phone.Requests([](const Bytes& b) { return b == test::CAL_SETTING_READ; }).empty());
}

// A process killed while it writes the new content leaves the line's file whole; what it
// leaves behind is no backup.
TEST_F(BackupFilesFixture, WriterKilledBeforeItsCommitLeavesTheFileWhole) {
    ASSERT_EQ(Backup(), RESULT_OK);
    const std::string before = ReadFile(path);
    {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            AtomicFile file;
            if (file.Begin(path) != FileError::None) ::_exit(1);
            (void)file.Write("ETS, Id=CP Power, Power=Down\n");
            ::kill(::getpid(), SIGKILL);
            ::_exit(2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        EXPECT_EQ(ReadFile(path), before);
        CalState saved;
        saved.catalog.LoadFromText(CATALOG);
        std::string reason;
        EXPECT_TRUE(LoadSavedBackup(saved, path, reason)) << reason;
        // The left-over temporary file is refused, and the next backup takes no notice of it.
        int leftOver = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().string();
            if (!name.ends_with(".tmp")) continue;
            ++leftOver;
            EXPECT_FALSE(LoadSavedBackup(saved, name, reason)) << name;
        }
        EXPECT_EQ(leftOver, 1);
        ASSERT_EQ(Backup(), RESULT_OK);
        EXPECT_TRUE(LoadSavedBackup(saved, path, reason)) << reason;
    }
}

TEST_F(BackupFilesFixture, FileIsLockedWhileWrittenAndAFileLockedElsewhereIsLeftAlone) {
    ASSERT_EQ(Backup(), RESULT_OK) << Status();
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
