// The link's message ids as the simulated phone names them: one vocabulary for the tool and
// the phone (link/messages.h).
#pragma once

#include <cstdint>

#include "link/messages.h"

namespace zolt::sim {

using msg::ID_BOOT_CONFIRM;
using msg::ID_FLASH;
using msg::ID_LOOPBACK;
using msg::ID_RELEASE_FIRST;
using msg::ID_RELEASE_SECOND;
using msg::ID_RESET;
using msg::ID_SIDB_WRITE;

// The file-system access request is a setting write of type 18, id 8.
inline constexpr std::uint16_t SIDB_FS_ACCESS_TYPE = msg::SIDB_TYPE;
inline constexpr std::uint16_t SIDB_FS_ACCESS_ID = msg::SIDB_FS_ACCESS_ID;

}  // namespace zolt::sim
