// Flash programming terms shared by the flash operations of LinkSession, the task runners and
// the simulated phone: image types, block layout and the B2 04 request and reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zolt {

// Image type codes; the code travels in every flash request.
inline constexpr int IMAGE_BOOT = 0;
inline constexpr int IMAGE_CP = 1;
inline constexpr int IMAGE_DSPM = 2;
inline constexpr int IMAGE_DSPV = 3;
inline constexpr int IMAGE_ALL = 4;
inline constexpr int IMAGE_4M = 5;
inline constexpr int IMAGE_DATA = 6;

// The display name of an image type ("Boot", "CP", "DSPM", "DSPV", "All", "4M", "1M Data"),
// or nothing for a code that is not a valid type (7, negative codes and codes above 7).
std::optional<std::string_view> ImageTypeName(int code);

// A section goes to the phone in blocks of this many bytes (the last one may be shorter).
inline constexpr int FLASH_BLOCK_SIZE = 350;
// Block numbers: 1 stands for the erase; block b >= 2 carries the section bytes from
// (b - 2) * FLASH_BLOCK_SIZE on.
inline constexpr std::uint32_t ERASE_BLOCK = 1;
inline constexpr std::uint32_t FIRST_DATA_BLOCK = 2;

// Flash request and reply: id B2, sub-command 04, block number (32-bit little-endian).
// Request: then operation, image type, 16-bit data sum, 16-bit data length, data.
// Reply: then status.
inline constexpr std::uint8_t FLASH_ID = 0xB2;
inline constexpr std::uint8_t FLASH_SUBCOMMAND = 0x04;
inline constexpr std::uint8_t FLASH_OP_ERASE = 0x00;
inline constexpr std::uint8_t FLASH_OP_WRITE = 0x01;
inline constexpr int FLASH_REQUEST_HEADER = 12;  // body bytes before the data
inline constexpr int FLASH_REPLY_LENGTH = 7;     // body bytes of a reply
// Reply status: the named block was accepted (go on with the next), or is to be sent (again).
inline constexpr std::uint8_t FLASH_ACCEPTED = 0;
inline constexpr std::uint8_t FLASH_SEND_BLOCK = 1;

// Offset of the section byte that block `block` starts with, as a signed 32-bit value; negative
// below block 2. A phone's block number that puts the offset beyond 32 bits wraps as it does
// in the phone's own arithmetic: into a negative offset (0xFFFFFFFF gives -1050), which fails
// the write, or into some other offset, which the write goes on from.
constexpr std::int32_t FlashBlockPosition(std::uint32_t block) {
    return static_cast<std::int32_t>(block * static_cast<std::uint32_t>(FLASH_BLOCK_SIZE) -
                                     2u * FLASH_BLOCK_SIZE);
}

// Number of blocks a section of `length` bytes is written in.
constexpr std::int64_t FlashBlockCountOf(std::int64_t length) {
    return (length + FLASH_BLOCK_SIZE - 1) / FLASH_BLOCK_SIZE;
}

}  // namespace zolt
