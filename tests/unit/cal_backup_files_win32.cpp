// The calibration file on Windows: no other program may open it while the backup writes its
// replacement, and a file that another program holds open is left alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <fstream>
#include <string>

#include "cal/backup.h"
#include "io/file_error.h"
#include "support/recording_prompt.h"
#include "support/scripted_phone.h"
#include "support/short_timing.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

// Opens `path` as a reader that shares everything; the handle is closed at once.
DWORD OpenError(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    ::CloseHandle(file);
    return ERROR_SUCCESS;
}

using test::ReadFile;

TEST(CalibrationFileWin32, NoOtherProgramOpensItWhileTheBackupWritesIt) {
    LinkSession line;
    test::ScriptedDevice device{line.stop};
    test::ScriptedPhone phone{device, false};
    CalState cal;
    test::RecordingPrompt prompt;
    test::TempDir dir;
    line.device = &device;
    line.timing = test::ShortTiming();
    line.timing.receiveFrameLimit = 60ms;
    cal.catalog.LoadFromText(
        "[PageA]\nETS, Id=17\nDB Id=0\nMsgstring=PageA\nSegment=1\nOffset=0\nBytes=4\n"
        "[MAXPAGECONUT]\nCount=1\n");
    const std::string path = CalibrationFilePath(dir.path().string(), 0);
    auto backup = [&] { return BackupCalibration(line, cal, 0, dir.path().string(), prompt); };

    ASSERT_EQ(backup(), RESULT_OK) << line.statusText.Get();
    DWORD errorAtPageRead = ERROR_SUCCESS;
    phone.script = [&](const Bytes& body) -> std::optional<std::vector<Bytes>> {
        if (body.size() == 8) errorAtPageRead = OpenError(path);
        return std::nullopt;
    };
    ASSERT_EQ(backup(), RESULT_OK) << line.statusText.Get();
    EXPECT_EQ(errorAtPageRead, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(OpenError(path), static_cast<DWORD>(ERROR_SUCCESS));

    // Another program has the file open: the backup leaves it as it is and sends nothing.
    const std::string before = ReadFile(path);
    HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    phone.requests.clear();
    EXPECT_EQ(backup(), RESULT_FAIL);
    ::CloseHandle(other);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"Couldn't open file: " +
                                                       FileErrorText(FileError::SharingViolation, path)});
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(phone.requests.empty());
}

}  // namespace
}  // namespace zolt
