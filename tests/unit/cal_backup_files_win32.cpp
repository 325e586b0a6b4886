// The calibration file on Windows: no other program may open it while the backup writes its
// replacement, and a file that another program holds open is left alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "cal/backup.h"
#include "io/file_error.h"
#include "support/cal_line_fixture.h"

namespace zolt {
namespace {

using test::Bytes;
using test::ReadFile;

// Opens `path` as a reader that shares everything; the handle is closed at once.
DWORD OpenError(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    ::CloseHandle(file);
    return ERROR_SUCCESS;
}

using CalibrationFileWin32 = test::CalLineFixture;

TEST_F(CalibrationFileWin32, NoOtherProgramOpensItWhileTheBackupWritesIt) {
    Catalog({{"PageA", 0, 1, 0, 4}});
    ASSERT_EQ(Backup(), RESULT_OK) << Status();
    DWORD errorAtPageRead = ERROR_SUCCESS;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (test::IsPageRead(body)) errorAtPageRead = OpenError(path);
        return std::nullopt;
    };
    ASSERT_EQ(Backup(), RESULT_OK) << Status();
    EXPECT_EQ(errorAtPageRead, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(OpenError(path), static_cast<DWORD>(ERROR_SUCCESS));

    // Another program has the file open: the backup leaves it as it is and sends nothing.
    const std::string before = ReadFile(path);
    HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    phone.requests.clear();
    EXPECT_EQ(Backup(), RESULT_FAIL);
    ::CloseHandle(other);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"Couldn't open file: " +
                                                       FileErrorText(FileError::SharingViolation, path)});
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(phone.requests.empty());
}

}  // namespace
}  // namespace zolt
