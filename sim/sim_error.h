// What the simulator throws when it cannot set a phone up (no pseudo-terminal, a device that
// will not open, an unwritable state folder). Only ever thrown on the caller's thread.
#pragma once

#include <stdexcept>

namespace zolt::sim {

struct SimError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace zolt::sim
