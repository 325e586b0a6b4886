#include "cal/phone_reads.h"

#include <algorithm>
#include <array>

#include "io/texts.h"
#include "link/messages.h"

namespace zolt {
namespace {

void SendSettingRead(LinkSession& line) {
    line.BuildRequest(msg::SETTING_READ);
    if (line.SendFrame() < 0) line.SetStatusText(texts::LOOPBACK_TIMEOUT);
}

}  // namespace

PageReading ReadCalPage(LinkSession& line, const CalMessageEntry& entry, int attempts) {
    std::array<std::uint8_t, msg::PAGE_READ_LENGTH> request{};
    (void)msg::PageRead(request, entry.etsId, entry.dbId, entry.segment, entry.offset, entry.bytes);
    PageReading reading;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        line.BuildRequest(request);
        line.DiscardInput();
        if (line.SendFrame() < 0) {
            reading.outcome = PageReading::Outcome::NotSent;
            return reading;
        }
        const Deadline deadline(line.timing.receiveFrameLimit);
        while (line.ReceiveFrameBy(deadline) > 0) {
            const ReceivedFrame reply = line.Received();
            if (!IsPageReply(request, reply)) continue;
            const auto data = reply.Body().subspan(msg::PAGE_READ_LENGTH, entry.bytes);
            reading.data.assign(data.begin(), data.end());
            reading.outcome = PageReading::Outcome::Read;
            return reading;
        }
    }
    return reading;
}

std::optional<std::uint8_t> ReadCalSetting(LinkSession& line, bool passOverFirstFrame) {
    const Deadline wait = line.PhoneWait();
    SendSettingRead(line);
    Deadline ask = line.AskAgainAt();
    if (passOverFirstFrame) (void)line.ReceiveOrAskAgain(ask, wait);
    for (;;) {
        if (line.ReceiveOrAskAgain(ask, wait) == 0) {
            if (wait.Passed()) {
                (void)line.PhoneWaitFailed("setting read");
                return std::nullopt;
            }
            SendSettingRead(line);
            ask = line.AskAgainAt();
            continue;
        }
        const ReceivedFrame reply = line.Received();
        if (IsSettingReadReply(msg::SETTING_READ, reply)) return reply.Body()[msg::SETTING_READ_VALUE_AT];
    }
}

}  // namespace zolt
