#include "ui/control_logic.h"

namespace zolt {

int NextProgressPos(int pos, int requested, int lower, int upper) {
    if (requested >= pos || requested == lower) pos = requested;
    return pos > upper ? upper : pos;
}

int ProgressFillWidth(int pos, int lower, int upper, int width) {
    if (upper <= lower) return 0;
    return static_cast<int>(static_cast<double>(pos - lower) / (upper - lower) * width);
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

}  // namespace zolt
