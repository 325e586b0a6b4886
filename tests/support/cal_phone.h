// A phone's calibration side, played over a ScriptedDevice for unit tests of backup, restore
// and scripts. By default a healthy phone: it echoes loopback probes, grants file-system
// access, answers page reads from its pages (the request echoed, then the data), answers
// the setting read, and accepts database writes (storing them as pages) and FFS SIDB writes
// (storing Type 18 id 3 as the setting). `script` may take over any request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "link/ets_frame.h"
#include "support/scripted_device.h"

namespace zolt::test {

// The body of a frame as written on the wire, unescaped; empty when the frame is malformed.
inline Bytes CalBodyOf(const Bytes& wire) {
    Bytes plain;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (i > 0 && wire[i] == EtsFrame::ESCAPE && i + 1 < wire.size()) {
            plain.push_back(static_cast<std::uint8_t>(~wire[++i]));
        } else {
            plain.push_back(wire[i]);
        }
    }
    if (plain.size() < 4 || plain[0] != EtsFrame::START) return {};
    const std::size_t length = plain[1] | (plain[2] << 8);
    if (plain.size() != length + 4) return {};
    if (FrameChecksum(plain.data(), static_cast<int>(length + 3)) != plain[length + 3]) return {};
    return Bytes(plain.begin() + 3, plain.begin() + 3 + static_cast<long>(length));
}

inline const Bytes CAL_PROBE = {0x00, 0x00, 0x01};
inline const Bytes CAL_FS_ACCESS = {0xA2, 0x07, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x30};
inline const Bytes CAL_SETTING_READ = {0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00};
inline const Bytes CAL_OPEN = {0x31, 0x01, 0x00, 0x00};
inline const Bytes CAL_CLOSE = {0x31, 0x01, 0x01, 0x00};
inline const Bytes CAL_FS_DONE_1 = {0xF3, 0x03};
inline const Bytes CAL_FS_DONE_2 = {0xCE, 0x00, 0x00};

inline Bytes SettingWrite(std::uint8_t setting) {
    return {0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, setting};
}
inline bool IsDbWrite(const Bytes& body) { return body.size() >= 9 && body[0] == 0x30 && body[1] == 0x01; }
inline bool IsSidbWrite(const Bytes& body) {
    return body.size() >= 10 && body[0] == 0xA2 && body[1] == 0x07 && body != CAL_FS_ACCESS;
}

struct CalPhone {
    // Page reads are requests of 8 body bytes with this id.
    static constexpr std::uint16_t PAGE_READ_ID = 17;
    using Key = std::pair<int, int>;  // database, segment

    explicit CalPhone(ScriptedDevice& device) : device_(device) {
        device.onWrite = [this](const Bytes& wire) { Answer(wire); };
    }

    // Every request as sent, in order.
    std::vector<Bytes> requests;
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
    std::vector<Bytes> Requests(const std::function<bool(const Bytes&)>& which) const {
        std::vector<Bytes> found;
        for (const Bytes& body : requests) {
            if (which(body)) found.push_back(body);
        }
        return found;
    }

    // Page contents by database and segment; a page not listed reads as a pattern of its key.
    std::map<Key, Bytes> pages;
    std::uint8_t setting = 0x5A;
    std::function<std::optional<std::vector<Bytes>>(const Bytes& body)> script;

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
        const Bytes body = CalBodyOf(wire);
        requests.push_back(body);
        if (script) {
            if (auto chunks = script(body)) {
                for (Bytes& chunk : *chunks) device_.Queue(std::move(chunk));
                return;
            }
        }
        if (body == CAL_PROBE) {
            device_.Queue(EncodeFrame(body));
        } else if (body == CAL_FS_ACCESS) {
            device_.Queue(EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00}));
        } else if (body == CAL_SETTING_READ) {
            device_.Queue(EncodeFrame(Bytes{0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, setting}));
        } else if (body.size() == 8 && (body[0] | body[1] << 8) == PAGE_READ_ID) {
            const Key key{body[2], body[3]};
            const std::size_t size = body[6] | (body[7] << 8);
            const auto page = pages.find(key);
            Bytes data = page != pages.end() ? page->second : PatternPage(key, size);
            data.resize(size);
            device_.Queue(PageReply(body, data));
        } else if (IsDbWrite(body)) {
            pages[{body[2], body[3]}] = Bytes(body.begin() + 9, body.end());
            device_.Queue(EncodeFrame(Bytes{0x30, 0x01, 0x00}));
        } else if (IsSidbWrite(body)) {
            if (body.size() == 11 && body[2] == 0x12 && body[3] == 0 && body[4] == 0x03 && body[5] == 0) {
                setting = body[10];
            }
            device_.Queue(EncodeFrame(Bytes{0xA2, 0x07, 0x00, 0x00}));
        }
    }

    ScriptedDevice& device_;
};

}  // namespace zolt::test
