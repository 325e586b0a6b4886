// Message ids of the phone link as the phone sees them: the first two body bytes read as a
// little-endian number (a one-byte body is its own id).
#pragma once

#include <cstdint>

namespace zolt::sim {

inline constexpr std::uint16_t ID_LOOPBACK = 0x0000;        // 00 00 01: echo, or the boot loader's E0 00
inline constexpr std::uint16_t ID_SIDB_WRITE = 0x07A2;      // A2 07: file-system setting write
inline constexpr std::uint16_t ID_RELEASE_FIRST = 0x03F3;   // F3 03
inline constexpr std::uint16_t ID_RELEASE_SECOND = 0x00CE;  // CE 00 00
inline constexpr std::uint16_t ID_BOOT_CONFIRM = 0x00E0;    // E0 00
inline constexpr std::uint16_t ID_FLASH = 0x04B2;           // B2 04: erase and write
inline constexpr std::uint16_t ID_RESET = 0x00DC;           // DC 00

// The file-system access request is a setting write of type 18, id 8.
inline constexpr std::uint16_t SIDB_FS_ACCESS_TYPE = 18;
inline constexpr std::uint16_t SIDB_FS_ACCESS_ID = 8;

}  // namespace zolt::sim
