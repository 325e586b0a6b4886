#include "link/replies.h"

#include <algorithm>

#include "link/flash.h"
#include "link/messages.h"

namespace zolt {
namespace {

// Body bytes of a database write that name its page: database, segment, offset, byte count.
constexpr std::size_t DB_WRITE_PAGE_FROM = 2;
constexpr std::size_t DB_WRITE_PAGE_TO = 8;
// Body bytes of the setting read that its reply echoes: id, type, setting id.
constexpr std::size_t SETTING_ECHO = 6;

bool Starts(std::span<const std::uint8_t> body, std::uint16_t id) {
    return body.size() >= 2 && msg::IdOf(body.data()) == id;
}

}  // namespace

int ReceivedFrame::BodyLength() const { return bytes.size() < 3 ? 0 : msg::BodyLength(bytes.data()); }

bool ReceivedFrame::Intact() const {
    const int length = BodyLength();
    const int end = length + 3;  // where the checksum stands
    if (count < 5 || end >= static_cast<int>(bytes.size()) || end >= count) return false;
    return FrameChecksum(bytes.data(), end) == bytes[static_cast<std::size_t>(end)];
}

std::span<const std::uint8_t> ReceivedFrame::Body() const {
    if (!Intact()) return {};
    return bytes.subspan(3, static_cast<std::size_t>(BodyLength()));
}

bool ReceivedFrame::TimedOut() const {
    return count >= 5 && BodyLength() == 1 && bytes[3] == 0x32 && bytes[4] == 0xCD;
}

Verdict JudgeDbWrite(std::span<const std::uint8_t> request, const ReceivedFrame& reply) {
    if (reply.TimedOut()) return Verdict::TimedOut;
    const auto body = reply.Body();
    if (Starts(body, msg::ID_REFUSED)) return Verdict::Refused;
    if (!Starts(body, msg::ID_DB_WRITE)) return Verdict::Other;
    if (body.size() >= DB_WRITE_PAGE_TO && request.size() >= DB_WRITE_PAGE_TO &&
        !std::equal(body.begin() + DB_WRITE_PAGE_FROM, body.begin() + DB_WRITE_PAGE_TO,
                    request.begin() + DB_WRITE_PAGE_FROM)) {
        return Verdict::Other;  // the acceptance of another page's write
    }
    return Verdict::Answer;
}

Verdict JudgeSidbWrite(const ReceivedFrame& reply) {
    if (reply.TimedOut()) return Verdict::TimedOut;
    const auto body = reply.Body();
    if (Starts(body, msg::ID_REFUSED)) return Verdict::Refused;
    return Starts(body, msg::ID_SIDB_WRITE) ? Verdict::Answer : Verdict::Other;
}

bool IsPageReply(std::span<const std::uint8_t> request, const ReceivedFrame& reply) {
    if (request.size() != msg::PAGE_READ_LENGTH) return false;
    const auto body = reply.Body();
    const std::size_t bytes = request[6] | (request[7] << 8);
    return body.size() >= msg::PAGE_READ_LENGTH + bytes &&
           std::equal(request.begin(), request.end(), body.begin());
}

bool IsSettingReadReply(std::span<const std::uint8_t> request, const ReceivedFrame& reply) {
    const auto body = reply.Body();
    return body.size() == msg::SETTING_READ_REPLY_LENGTH && request.size() >= SETTING_ECHO &&
           std::equal(request.begin(), request.begin() + SETTING_ECHO, body.begin());
}

bool IsSettingWriteReply(const ReceivedFrame& reply) {
    const auto body = reply.Body();
    return body.size() == msg::SETTING_WRITE_REPLY_LENGTH && Starts(body, msg::ID_SIDB_WRITE);
}

bool IsProbeAnswer(const ReceivedFrame& reply) {
    if (!reply.Intact()) return false;
    const auto body = reply.Body();
    return std::equal(body.begin(), body.end(), msg::PROBE.begin(), msg::PROBE.end()) ||
           std::equal(body.begin(), body.end(), msg::BOOT_CONFIRM.begin(), msg::BOOT_CONFIRM.end());
}

std::optional<FlashAnswer> ReadFlashAnswer(const ReceivedFrame& reply) {
    const auto body = reply.Body();
    if (body.size() < FLASH_REPLY_LENGTH || !Starts(body, msg::ID_FLASH)) return std::nullopt;
    const std::uint32_t block = static_cast<std::uint32_t>(body[2]) | (static_cast<std::uint32_t>(body[3]) << 8) |
                                (static_cast<std::uint32_t>(body[4]) << 16) |
                                (static_cast<std::uint32_t>(body[5]) << 24);
    return FlashAnswer{block, body[6]};
}

}  // namespace zolt
