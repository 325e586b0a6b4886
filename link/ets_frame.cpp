#include "link/ets_frame.h"

namespace zolt {

std::uint8_t FrameChecksum(const std::uint8_t* frame, int n) {
    std::uint8_t sum = 0;
    for (int i = 1; i < n; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
    return static_cast<std::uint8_t>(0 - sum);
}

int EscapeBytes(const std::uint8_t* in, int count, std::uint8_t* out, int room) {
    int o = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = in[i];
        const bool escaped = b == EtsFrame::START || b == EtsFrame::ESCAPE;
        if (o + (escaped ? 2 : 1) > room) return -1;
        if (escaped) {
            out[o++] = EtsFrame::ESCAPE;
            out[o++] = static_cast<std::uint8_t>(~b);
        } else {
            out[o++] = b;
        }
    }
    return o;
}

std::vector<std::uint8_t> EncodeFrame(std::span<const std::uint8_t> body) {
    std::vector<std::uint8_t> plain;
    plain.reserve(body.size() + 4);
    plain.push_back(EtsFrame::START);
    plain.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
    plain.push_back(static_cast<std::uint8_t>((body.size() >> 8) & 0xFF));
    plain.insert(plain.end(), body.begin(), body.end());
    plain.push_back(FrameChecksum(plain.data(), static_cast<int>(plain.size())));

    std::vector<std::uint8_t> wire(2 * plain.size());
    wire[0] = EtsFrame::START;
    int n = EscapeBytes(plain.data() + 1, static_cast<int>(plain.size()) - 1, wire.data() + 1,
                        static_cast<int>(wire.size()) - 1);
    wire.resize(static_cast<std::size_t>(n) + 1);
    return wire;
}

}  // namespace zolt
