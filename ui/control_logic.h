// The arithmetic of the self-drawn controls, apart from any window so that it can be tested
// everywhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zolt {

// The progress bar's position after SetPos(requested): it moves forward only, or back to the
// lower bound, and never past the upper bound.
int NextProgressPos(int pos, int requested, int lower, int upper);

// Pixels of a `width`-pixel bar filled at `pos` in [lower, upper], truncated toward zero;
// 0 for an empty range.
int ProgressFillWidth(int pos, int lower, int upper, int width);

// Whole percent of the range covered at `pos`, truncated toward zero; 0 for an empty range.
int ProgressPercent(int pos, int lower, int upper);

// What the progress bar draws: its window text when there is one, otherwise the percentage
// ("37%").
std::wstring ProgressBarText(const std::wstring& windowText, int pos, int lower, int upper);

// Characters of a `textLength`-character text that fit, with their terminating zero, into a
// buffer of `bufferSize` characters. A buffer of size 0 takes nothing, not even the zero.
std::size_t TextCopyLength(std::size_t textLength, std::size_t bufferSize);

// DrawText flags for a static control's style bits. The values are those of the Win32
// DT_* constants, so the result goes to DrawText unchanged.
std::uint32_t DrawFlagsForStaticStyle(std::uint32_t style);

// Where the outlined label draws its halo: the text rectangle shifted by each of these, in
// this order, before the text itself is drawn unshifted on top.
struct PixelOffset {
    int dx;
    int dy;
    bool operator==(const PixelOffset&) const = default;
};
inline constexpr std::array<PixelOffset, 8> OUTLINE_OFFSETS{{
    {-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}}};

// Top-left corner of an icon centred in a client area, moved right and down by
// PRESSED_ICON_OFFSET while the button is held down.
inline constexpr PixelOffset PRESSED_ICON_OFFSET{1, 1};
PixelOffset IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight,
                       bool pressed);

}  // namespace zolt
