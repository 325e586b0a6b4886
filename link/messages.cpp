#include "link/messages.h"

#include <algorithm>

namespace zolt::msg {

namespace {

void Put16(std::uint8_t* at, unsigned value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int WithData(std::span<std::uint8_t> body, int header, std::span<const std::uint8_t> data) {
    if (data.size() > body.size() - static_cast<std::size_t>(header)) return -1;
    std::copy(data.begin(), data.end(), body.begin() + header);
    return header + static_cast<int>(data.size());
}

}  // namespace

int FlashRequest(std::span<std::uint8_t> body, std::uint32_t block, std::uint8_t operation, int type,
                 std::span<const std::uint8_t> data) {
    unsigned sum = 0;
    for (std::uint8_t b : data) sum += b;
    Put16(body.data(), ID_FLASH);
    Put32(body.data() + 2, block);
    body[6] = operation;
    body[7] = static_cast<std::uint8_t>(type);
    Put16(body.data() + 8, sum & 0xFFFF);
    Put16(body.data() + 10, static_cast<unsigned>(data.size()));
    return WithData(body, FLASH_HEADER, data);
}

int PageRead(std::span<std::uint8_t> body, std::uint16_t etsId, std::uint8_t dbId, std::uint8_t segment,
             std::uint16_t offset, std::uint16_t bytes) {
    Put16(body.data(), etsId);
    body[2] = dbId;
    body[3] = segment;
    Put16(body.data() + 4, offset);
    Put16(body.data() + 6, bytes);
    return PAGE_READ_LENGTH;
}

int SettingWrite(std::span<std::uint8_t> body, std::uint8_t value) {
    const std::uint8_t value1[] = {value};
    return SidbWrite(body, ID_SIDB_WRITE, SIDB_TYPE, SIDB_SETTING_ID, 1, 0, value1);
}

int DbWrite(std::span<std::uint8_t> body, std::uint16_t id, std::uint8_t dbId, std::uint8_t segment,
            std::uint16_t offset, std::uint16_t bytes, std::uint8_t writeThru, std::span<const std::uint8_t> data) {
    Put16(body.data(), id);
    body[2] = dbId;
    body[3] = segment;
    Put16(body.data() + 4, offset);
    Put16(body.data() + 6, bytes);
    body[8] = writeThru;
    return WithData(body, DB_WRITE_HEADER, data);
}

int SidbWrite(std::span<std::uint8_t> body, std::uint16_t id, std::uint16_t type, std::uint16_t sidbId,
              std::uint16_t len, std::uint16_t offset, std::span<const std::uint8_t> data) {
    Put16(body.data(), id);
    Put16(body.data() + 2, type);
    Put16(body.data() + 4, sidbId);
    Put16(body.data() + 6, len);
    Put16(body.data() + 8, offset);
    return WithData(body, SIDB_WRITE_HEADER, data);
}

}  // namespace zolt::msg
