#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ui/control_logic.h"

namespace zolt {
namespace {

TEST(ControlLogic, ProgressMovesForwardOrBackToTheStartAndStopsAtTheTop) {
    struct Case { int pos, requested, expected; };
    for (const Case& c : {Case{0, 40, 40}, Case{40, 30, 40}, Case{40, 0, 0}, Case{40, 150, 100},
                          Case{100, 100, 100}, Case{0, -5, 0}, Case{60, -5, 60}}) {
        EXPECT_EQ(NextProgressPos(c.pos, c.requested, 0, 100), c.expected)
            << c.pos << " -> " << c.requested;
    }
}

TEST(ControlLogic, PercentAndFillAreExactForEveryPosition) {
    // Through a double fraction, 29 / 100.0 * 100 truncates to 28.
    for (int pos = 0; pos <= 100; ++pos) {
        EXPECT_EQ(ProgressPercent(pos, 0, 100), pos);
        EXPECT_EQ(ProgressFillWidth(pos, 0, 100, 100), pos);
    }
    struct Case { int pos, lower, upper, width, fill; };
    for (const Case& c : {Case{37, 0, 100, 166, 61}, Case{1, 0, 100, 99, 0},
                          Case{100, 0, 100, 166, 166}, Case{5, 10, 10, 100, 0}}) {
        EXPECT_EQ(ProgressFillWidth(c.pos, c.lower, c.upper, c.width), c.fill) << c.pos;
    }
    EXPECT_EQ(ProgressPercent(5, 10, 10), 0);
}

TEST(ControlLogic, BarShowsItsTextElseThePercentage) {
    EXPECT_EQ(ProgressBarText(L"", 37, 0, 100), L"37%");
    EXPECT_EQ(ProgressBarText(L"Waiting...", 37, 0, 100), L"Waiting...");
}

TEST(ControlLogic, TextCopyLeavesRoomForTheZeroAndNeverUnderflows) {
    struct Case { std::size_t length, buffer, copied; };
    for (const Case& c : {Case{5, 0, 0}, Case{5, 1, 0}, Case{5, 3, 2}, Case{5, 6, 5},
                          Case{5, 100, 5}}) {
        EXPECT_EQ(TextCopyLength(c.length, c.buffer), c.copied) << c.buffer;
    }
}

TEST(ControlLogic, StaticStylesGiveTheirDrawTextFlags) {
    struct Case { std::uint32_t style, flags; };
    for (const Case& c : {Case{0x0, 0x10},            // SS_LEFT: word break
                          Case{0x201, 0x25},          // centred both ways on one line
                          Case{0x82, 0x812},          // right, no prefix
                          Case{0x4000, 0x48000},      // end ellipsis
                          Case{0x8000, 0x44000},      // path ellipsis
                          Case{0xC20C, 0x4C024}}) {   // every bit that stops word breaks
        EXPECT_EQ(DrawFlagsForStaticStyle(c.style), c.flags) << std::hex << c.style;
    }
}

TEST(ControlLogic, IconIsCentredAndMovesWhenPressed) {
    EXPECT_EQ(IconOrigin(26, 29, 16, 16, false), (PixelOffset{5, 6}));
    EXPECT_EQ(IconOrigin(26, 29, 16, 16, true), (PixelOffset{6, 7}));
    EXPECT_EQ(IconOrigin(10, 10, 16, 16, false), (PixelOffset{-3, -3}));
}

}  // namespace
}  // namespace zolt
