// The messages of the phone link, for the tool and the simulated phone alike: message ids, the
// fixed request bodies, the builders of the variable ones, and what a few replies look like.
// Bodies start with the message id; the frame around them (start byte, length, checksum,
// escapes) is the link's. Multi-byte fields are little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zolt::msg {

// Ids: the first two body bytes read as a little-endian number (a one-byte body is its own).
inline constexpr std::uint16_t ID_LOOPBACK = 0x0000;        // 00 00 01, echoed; E0 00 from a boot loader
inline constexpr std::uint16_t ID_DB_WRITE = 0x0130;        // 30 01: database write, and its acceptance
inline constexpr std::uint16_t ID_MARKER = 0x0131;          // 31 01: before and after a text's records
inline constexpr std::uint16_t ID_SIDB_READ = 0x07A1;       // A1 07: file-system setting read
inline constexpr std::uint16_t ID_SIDB_WRITE = 0x07A2;      // A2 07: file-system setting write
inline constexpr std::uint16_t ID_RELEASE_FIRST = 0x03F3;   // F3 03
inline constexpr std::uint16_t ID_RELEASE_SECOND = 0x00CE;  // CE 00 00
inline constexpr std::uint16_t ID_BOOT_CONFIRM = 0x00E0;    // E0 00
inline constexpr std::uint16_t ID_FLASH = 0x04B2;           // B2 04: erase and write, and their replies
inline constexpr std::uint16_t ID_RESET = 0x00DC;           // DC 00
inline constexpr std::uint16_t ID_REFUSED = 0x089B;         // 9B 08: the phone refused a request
// The receiver's own time-out frame read as a reply: its id 32 and its checksum CD.
inline constexpr std::uint16_t ID_TIMED_OUT = 0xCD32;

// The file-system access request is a setting write of type 18, id 8; the saved setting is
// type 18, id 3.
inline constexpr std::uint16_t SIDB_TYPE = 18;
inline constexpr std::uint16_t SIDB_FS_ACCESS_ID = 8;
inline constexpr std::uint16_t SIDB_SETTING_ID = 3;

// Fixed request bodies.
inline constexpr std::array<std::uint8_t, 3> PROBE = {0x00, 0x00, 0x01};
inline constexpr std::array<std::uint8_t, 11> FS_ACCESS = {0xA2, 0x07, 0x12, 0x00, 0x08, 0x00,
                                                           0x01, 0x00, 0x00, 0x00, 0x30};
inline constexpr std::array<std::uint8_t, 2> FS_RELEASE_FIRST = {0xF3, 0x03};
inline constexpr std::array<std::uint8_t, 3> FS_RELEASE_SECOND = {0xCE, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 2> BOOT_CONFIRM = {0xE0, 0x00};
inline constexpr std::array<std::uint8_t, 2> RESET = {0xDC, 0x00};
inline constexpr std::array<std::uint8_t, 10> SETTING_READ = {0xA1, 0x07, 0x12, 0x00, 0x03,
                                                              0x00, 0x01, 0x00, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 4> MARKER_BEGIN = {0x31, 0x01, 0x00, 0x00};
inline constexpr std::array<std::uint8_t, 4> MARKER_END = {0x31, 0x01, 0x01, 0x00};

// Replies, by their body length and checksum byte where that is how they are known.
inline constexpr int ECHO_LENGTH = 3;  // the probe's own echo
inline constexpr std::uint8_t ECHO_CHECKSUM = 0xFC;
inline constexpr int BOOT_REPLY_LENGTH = 2;  // E0 00 from the boot loader
inline constexpr std::uint8_t BOOT_REPLY_CHECKSUM = 0x1E;
inline constexpr int FS_REPLY_LENGTH = 4;  // A2 07 00 00 to the access request
inline constexpr std::uint8_t FS_REPLY_CHECKSUM = 0x53;
inline constexpr int SETTING_READ_REPLY_LENGTH = 7;  // A1 07 ..., the setting at body offset 6
inline constexpr int SETTING_READ_VALUE_AT = 6;
inline constexpr int SETTING_WRITE_REPLY_LENGTH = 4;  // A2 07 ...

// Body sizes of the variable requests before their data.
inline constexpr int FLASH_HEADER = 12;     // B2 04, block, operation, type, sum, count
inline constexpr int PAGE_READ_LENGTH = 8;  // id, database, segment, offset, bytes (no data)
inline constexpr int DB_WRITE_HEADER = 9;   // 30 01, database, segment, offset, bytes, write-through
inline constexpr int SIDB_WRITE_HEADER = 10;  // A2 07, type, id, len, offset

// The body length of a frame held unescaped from its start byte on.
constexpr int BodyLength(const std::uint8_t* frame) { return frame[1] | (frame[2] << 8); }

// The id of a body (its first two bytes, little-endian).
constexpr std::uint16_t IdOf(const std::uint8_t* body) {
    return static_cast<std::uint16_t>(body[0] | (body[1] << 8));
}

// Builders: each writes a body into `body` and returns its length, or -1 when its data do
// not fit `body` behind the header (`body` must hold the header). -1 as a request's length
// leaves txLength below 3, which SendFrame refuses.
int FlashRequest(std::span<std::uint8_t> body, std::uint32_t block, std::uint8_t operation, int type,
                 std::span<const std::uint8_t> data);
int PageRead(std::span<std::uint8_t> body, std::uint16_t etsId, std::uint8_t dbId, std::uint8_t segment,
             std::uint16_t offset, std::uint16_t bytes);
int SettingWrite(std::span<std::uint8_t> body, std::uint8_t value);
int DbWrite(std::span<std::uint8_t> body, std::uint16_t id, std::uint8_t dbId, std::uint8_t segment,
            std::uint16_t offset, std::uint16_t bytes, std::uint8_t writeThru, std::span<const std::uint8_t> data);
int SidbWrite(std::span<std::uint8_t> body, std::uint16_t id, std::uint16_t type, std::uint16_t sidbId,
              std::uint16_t len, std::uint16_t offset, std::span<const std::uint8_t> data);

}  // namespace zolt::msg
