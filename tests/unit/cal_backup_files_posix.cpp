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

#include <csignal>
#include <filesystem>
#include <string>

#include "cal/backup.h"
#include "io/atomic_file.h"
#include "io/file_error.h"
#include "support/cal_line_fixture.h"

namespace zolt {
namespace {

using test::Bytes;
using test::ReadFile;
using test::RecordingPrompt;

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

struct BackupFilesFixture : test::CalLineFixture {
    BackupFilesFixture() { Catalog({{"PageA", 0, 1, 0, 40}, {"PageB", 0, 2, 0, 40}}); }
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
    EXPECT_EQ(Sent(test::CAL_SETTING_READ), 0u);
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
        EXPECT_EQ(Load(path), "");
        // The left-over temporary file is refused, and the next backup takes no notice of it.
        int leftOver = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().string();
            if (!name.ends_with(".tmp")) continue;
            ++leftOver;
            EXPECT_NE(Load(name), "") << name;
        }
        EXPECT_EQ(leftOver, 1);
        ASSERT_EQ(Backup(), RESULT_OK);
        EXPECT_EQ(Load(path), "");
    }
}

TEST_F(BackupFilesFixture, FileIsLockedWhileWrittenAndAFileLockedElsewhereIsLeftAlone) {
    ASSERT_EQ(Backup(), RESULT_OK) << Status();
    std::vector<bool> lockableAtPageRead;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (test::IsPageRead(body)) lockableAtPageRead.push_back(OthersCanLock(path));
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
