#include <gtest/gtest.h>

#include "job/display_text.h"

namespace zolt {
namespace {

TEST(DisplayText, ProgressTextAtEachStage) {
    EXPECT_EQ(ProgressText(0), "Waiting...");
    EXPECT_EQ(ProgressText(-100), "Waiting...");
    EXPECT_EQ(ProgressText(7), "Downloading ( 07 % )");
    EXPECT_EQ(ProgressText(42), "Downloading ( 42 % )");
    EXPECT_EQ(ProgressText(100), "Download Finished ( 100 % )");
    EXPECT_EQ(ProgressText(110), "Download Finished ( 100 % )");
}

TEST(DisplayText, PortAndElapsedLabels) {
    EXPECT_EQ(ComLabel(5), "COM05");
    EXPECT_EQ(ComLabel(12), "COM12");
    EXPECT_EQ(ComLabel(-1), " ");
    EXPECT_EQ(ElapsedText(0), "00 M 00 S");
    EXPECT_EQ(ElapsedText(725), "12 M 05 S");
    EXPECT_EQ(ElapsedText(6005), "100 M 05 S");
}

}  // namespace
}  // namespace zolt
