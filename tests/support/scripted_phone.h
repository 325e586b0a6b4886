// A phone played over a ScriptedDevice, for unit tests of the flash operations, the backup,
// the restore and scripts. By default a healthy phone: in its firmware it echoes loopback
// probes, grants file-system access, answers page reads from its pages (the request echoed,
// then the data) and the setting read, and accepts database writes (storing them as pages)
// and FFS SIDB writes (storing Type 18 id 3 as the setting); in its boot loader it answers
// probes with E0 00 and takes erases and blocks into its flash areas. `script` may take over
// any request.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "link/ets_frame.h"
#include "link/messages.h"
#include "support/scripted_device.h"

namespace zolt::test {

// The body of a frame as the tool wrote it on the wire. A frame that is not well formed is a
// test failure (the tool never sends one) and gives an empty body.
inline Bytes BodyOf(const Bytes& wire) {
    Bytes plain;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (i > 0 && wire[i] == EtsFrame::ESCAPE && i + 1 < wire.size()) {
            plain.push_back(static_cast<std::uint8_t>(~wire[++i]));
        } else {
            plain.push_back(wire[i]);
        }
    }
    const bool framed = plain.size() >= 4 && plain[0] == EtsFrame::START &&
                        plain.size() == msg::BodyLength(plain.data()) + 4u &&
                        FrameChecksum(plain.data(), static_cast<int>(plain.size()) - 1) == plain.back();
    if (!framed) {
        ADD_FAILURE() << "the tool wrote a malformed frame";
        return {};
    }
    return Bytes(plain.begin() + 3, plain.end() - 1);
}

inline Bytes ToBytes(std::span<const std::uint8_t> body) { return Bytes(body.begin(), body.end()); }

inline const Bytes CAL_PROBE = ToBytes(msg::PROBE);
inline const Bytes CAL_FS_ACCESS = ToBytes(msg::FS_ACCESS);
inline const Bytes CAL_SETTING_READ = ToBytes(msg::SETTING_READ);
inline const Bytes CAL_OPEN = ToBytes(msg::MARKER_BEGIN);
inline const Bytes CAL_CLOSE = ToBytes(msg::MARKER_END);
inline const Bytes CAL_FS_DONE_1 = ToBytes(msg::FS_RELEASE_FIRST);
inline const Bytes CAL_FS_DONE_2 = ToBytes(msg::FS_RELEASE_SECOND);
inline const Bytes BOOT_ANSWER = ToBytes(msg::BOOT_CONFIRM);  // E0 00, as the boot loader answers

inline Bytes SettingWrite(std::uint8_t setting) {
    return {0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, setting};
}
inline bool IsDbWrite(const Bytes& body) { return body.size() >= 9 && msg::IdOf(body.data()) == msg::ID_DB_WRITE; }
inline bool IsSidbWrite(const Bytes& body) {
    return body.size() >= 10 && msg::IdOf(body.data()) == msg::ID_SIDB_WRITE && body != CAL_FS_ACCESS;
}
inline bool IsFlashRequest(const Bytes& body, std::uint8_t op) {
    return body.size() >= 12 && msg::IdOf(body.data()) == msg::ID_FLASH && body[6] == op;
}
inline std::uint32_t BlockOf(const Bytes& body) {
    return body[2] | (body[3] << 8) | (body[4] << 16) | (static_cast<std::uint32_t>(body[5]) << 24);
}
inline Bytes FlashReplyFrame(std::uint32_t block, std::uint8_t status) {
    return EncodeFrame(Bytes{0xB2, 0x04, static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8),
                             static_cast<std::uint8_t>(block >> 16), static_cast<std::uint8_t>(block >> 24), status});
}

struct ScriptedPhone {
    // Page reads are requests of 8 body bytes with this id.
    static constexpr std::uint16_t PAGE_READ_ID = 17;
    using Key = std::pair<int, int>;  // database, segment
    using Script = std::function<std::optional<std::vector<Bytes>>(const Bytes& body)>;

    ScriptedPhone(ScriptedDevice& device, bool inBootLoader) : bootLoader(inBootLoader), device_(device) {
        device.onWrite = [this](const Bytes& wire) { Answer(wire); };
    }

    bool bootLoader;
    // Every request as sent, in order, and when it came.
    std::vector<Bytes> requests;
    std::vector<std::chrono::steady_clock::time_point> times;
    // Flash areas by image type; page contents by database and segment (a page not listed
    // reads as a pattern of its key); the setting the backup reads and the restore writes.
    std::map<int, Bytes> flash;
    std::map<Key, Bytes> pages;
    // Pages at an offset, which reads and writes of that offset take instead of `pages`: two
    // pages of one segment and size apart.
    std::map<std::tuple<int, int, int>, Bytes> pagesAt;
    // How long the phone takes over a request before its answer goes out; answers go out in
    // the order of the requests, each after the one before.
    std::function<Millis(const Bytes& body)> answerTime;
    std::uint8_t setting = 0x5A;
    Script script;

    std::vector<Bytes> Requests(const std::function<bool(const Bytes&)>& which) const {
        std::vector<Bytes> found;
        for (const Bytes& body : requests) {
            if (which(body)) found.push_back(body);
        }
        return found;
    }
    // The requests after the file-system access was granted, probes left out: what a run
    // sends once the handshake is through.
    std::vector<Bytes> AfterAccess() const {
        std::vector<Bytes> after;
        bool granted = false;
        for (const Bytes& body : requests) {
            if (body == CAL_FS_ACCESS) {
                granted = true;
                after.clear();
            } else if (granted && body != CAL_PROBE) {
                after.push_back(body);
            }
        }
        return after;
    }
    std::vector<std::uint32_t> WrittenBlocks() const {
        std::vector<std::uint32_t> blocks;
        for (const Bytes& body : requests) {
            if (IsFlashRequest(body, 0x01)) blocks.push_back(BlockOf(body));
        }
        return blocks;
    }

    static Bytes PatternPage(Key key, std::size_t size) {
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<std::uint8_t>(key.first * 91 + key.second * 37 + i * 13);
        }
        return data;
    }
    static Bytes PageReply(const Bytes& request, const Bytes& data) {
        Bytes body = request;
        body.insert(body.end(), data.begin(), data.end());
        return EncodeFrame(body);
    }

private:
    void Answer(const Bytes& wire) {
        const Bytes body = BodyOf(wire);
        requests.push_back(body);
        times.push_back(std::chrono::steady_clock::now());
        const Millis after = Delay(body);
        if (script) {
            if (auto chunks = script(body)) {
                for (Bytes& chunk : *chunks) device_.Queue(std::move(chunk), after);
                return;
            }
        }
        if (auto reply = bootLoader ? BootLoaderReply(body) : FirmwareReply(body)) {
            device_.Queue(std::move(*reply), after);
        }
    }

    // When the answer to `body` is due, after the answers before it.
    Millis Delay(const Bytes& body) {
        if (!answerTime) return Millis(0);
        const auto now = std::chrono::steady_clock::now();
        busyUntil_ = std::max(busyUntil_, now) + answerTime(body);
        return std::chrono::ceil<Millis>(busyUntil_ - now);
    }

    std::optional<Bytes> BootLoaderReply(const Bytes& body) {
        if (body == CAL_PROBE) return EncodeFrame(BOOT_ANSWER);
        if (IsFlashRequest(body, 0x00)) {
            flash[body[7]].clear();
            return FlashReplyFrame(1, 0);
        }
        if (IsFlashRequest(body, 0x01)) {
            const std::size_t at = (BlockOf(body) - 2) * 350u;
            Bytes& area = flash[body[7]];
            if (area.size() < at + body.size() - 12) area.resize(at + body.size() - 12);
            std::copy(body.begin() + 12, body.end(), area.begin() + static_cast<long>(at));
            return FlashReplyFrame(BlockOf(body), 0);
        }
        return std::nullopt;
    }

    std::optional<Bytes> FirmwareReply(const Bytes& body) {
        if (body == CAL_PROBE) return EncodeFrame(body);
        if (body == CAL_FS_ACCESS) return EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00});
        if (body == CAL_SETTING_READ) return EncodeFrame(Bytes{0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, setting});
        if (body.size() == 8 && msg::IdOf(body.data()) == PAGE_READ_ID) {
            const Key key{body[2], body[3]};
            const std::size_t size = body[6] | (body[7] << 8);
            const auto at = pagesAt.find({body[2], body[3], body[4] | (body[5] << 8)});
            const auto page = pages.find(key);
            Bytes data = at != pagesAt.end() ? at->second : page != pages.end() ? page->second : PatternPage(key, size);
            data.resize(size);
            return PageReply(body, data);
        }
        if (IsDbWrite(body)) {
            const auto at = pagesAt.find({body[2], body[3], body[4] | (body[5] << 8)});
            (at != pagesAt.end() ? at->second : pages[{body[2], body[3]}]) = Bytes(body.begin() + 9, body.end());
            return EncodeFrame(Bytes{0x30, 0x01, 0x00});
        }
        if (IsSidbWrite(body)) {
            if (body.size() == 11 && body[2] == 0x12 && body[3] == 0 && body[4] == 0x03 && body[5] == 0) {
                setting = body[10];
            }
            return EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00});
        }
        return std::nullopt;
    }

    ScriptedDevice& device_;
    std::chrono::steady_clock::time_point busyUntil_{};
};

}  // namespace zolt::test
