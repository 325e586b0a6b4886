#include "ui/control_logic.h"

namespace zolt {

namespace {

// (pos - lower) * scale / (upper - lower), truncated toward zero. Integer arithmetic on
// purpose: through a double fraction 29/100 * 100 comes out as 28.999..., and the bar at 29
// would read 28% and fill a pixel short.
int ScaleToRange(int pos, int lower, int upper, int scale) {
    if (upper <= lower) return 0;
    const std::int64_t covered = static_cast<std::int64_t>(pos) - lower;
    return static_cast<int>(covered * scale / (static_cast<std::int64_t>(upper) - lower));
}

}  // namespace

int NextProgressPos(int pos, int requested, int lower, int upper) {
    if (requested >= pos || requested == lower) pos = requested;
    return pos > upper ? upper : pos;
}

int ProgressFillWidth(int pos, int lower, int upper, int width) {
    return ScaleToRange(pos, lower, upper, width);
}

int ProgressPercent(int pos, int lower, int upper) {
    return ScaleToRange(pos, lower, upper, 100);
}

std::wstring ProgressBarText(const std::wstring& windowText, int pos, int lower, int upper) {
    if (!windowText.empty()) return windowText;
    return std::to_wstring(ProgressPercent(pos, lower, upper)) + L'%';
}

std::size_t TextCopyLength(std::size_t textLength, std::size_t bufferSize) {
    if (bufferSize == 0) return 0;
    return textLength < bufferSize ? textLength : bufferSize - 1;
}

std::uint32_t DrawFlagsForStaticStyle(std::uint32_t style) {
    // Win32 DT_* values.
    constexpr std::uint32_t DT_CENTER_ = 0x1, DT_RIGHT_ = 0x2, DT_VCENTER_ = 0x4,
                            DT_WORDBREAK_ = 0x10, DT_SINGLELINE_ = 0x20, DT_NOPREFIX_ = 0x800,
                            DT_PATH_ELLIPSIS_ = 0x4000, DT_END_ELLIPSIS_ = 0x8000,
                            DT_WORD_ELLIPSIS_ = 0x40000;
    std::uint32_t flags = 0;
    if (style & 0x1) flags |= DT_CENTER_;
    if (style & 0x2) flags |= DT_RIGHT_;
    if (style & 0x200) flags |= DT_VCENTER_ | DT_SINGLELINE_;
    if (style & 0x80) flags |= DT_NOPREFIX_;
    if (style & 0xC000) flags |= DT_WORD_ELLIPSIS_;
    if (style & 0x4000) flags |= DT_END_ELLIPSIS_;
    if (style & 0x8000) flags |= DT_PATH_ELLIPSIS_;
    if ((style & 0xC20C) == 0) flags |= DT_WORDBREAK_;
    return flags;
}

PixelOffset IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight,
                       bool pressed) {
    PixelOffset origin{(clientWidth - iconWidth) / 2, (clientHeight - iconHeight) / 2};
    if (pressed) {
        origin.dx += PRESSED_ICON_OFFSET.dx;
        origin.dy += PRESSED_ICON_OFFSET.dy;
    }
    return origin;
}

}  // namespace zolt
