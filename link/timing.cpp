#include "link/timing.h"

namespace zolt {

const Timing& Timing::Standard() {
    static const Timing standard{};
    return standard;
}

}  // namespace zolt
