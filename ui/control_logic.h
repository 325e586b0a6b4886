// The arithmetic of the self-drawn controls, apart from any window so that it can be tested
// everywhere.
#pragma once

#include <cstdint>

namespace zolt {

// The progress bar's position after SetPos(requested): it moves forward only, or back to the
// lower bound, and never past the upper bound.
int NextProgressPos(int pos, int requested, int lower, int upper);

// Pixels of a `width`-pixel bar filled at `pos` in [lower, upper], truncated toward zero.
int ProgressFillWidth(int pos, int lower, int upper, int width);

// DrawText flags for a static control's style bits. The values are those of the Win32
// DT_* constants, so the result goes to DrawText unchanged.
std::uint32_t DrawFlagsForStaticStyle(std::uint32_t style);

}  // namespace zolt
