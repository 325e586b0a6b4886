// Files that are not regular files: a pipe named as a configuration file or an image must
// be refused at once, never waited on.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "io/ini_file.h"
#include "job/rom_image.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

TEST(SpecialFiles, PipeIsRefusedWithoutWaitingForAWriter) {
    test::TempDir dir;
    const std::string pipe = dir.File("pipe.ini");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    EXPECT_EQ(IniFile::Load(pipe).GetInt("MainConfig", "UpdateFlag ", 6), 6);

    Config config;
    test::RecordingPrompt prompt;
    JobFile job(config, prompt);
    EXPECT_EQ(job.LoadRomImage(pipe), LOAD_FAILED);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"An unknown error occurred while accessing " + pipe + "."});

    // A device is refused too, even one that would read without end.
    EXPECT_EQ(IniFile::Load("/dev/zero").GetString("S", "K", "d"), "d");
}

}  // namespace
}  // namespace zolt
