// A file another program holds: the Windows reason reaches the operator in its own words.
#include <gtest/gtest.h>

#include <windows.h>

#include "job/rom_image.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

struct HeldFile {
    HANDLE handle;
    HeldFile(const std::string& path, DWORD access, DWORD share)
        : handle(::CreateFileA(path.c_str(), access, share, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
};

TEST(JobFileWin32, FileOpenedExclusivelyElsewhereIsASharingViolation) {
    test::TempDir dir;
    Config config;
    test::RecordingPrompt prompt;
    JobFile job(config, prompt);
    const std::string path = dir.Write("held.bin", std::string(64, 'x'));
    HeldFile other(path, GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(other.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(job.LoadPlainFile(path), LOAD_FAILED);
    EXPECT_EQ(prompt.texts(),
              std::vector<std::string>{"A sharing violation occurred while accessing " + path + "."});
}

}  // namespace
}  // namespace zolt
