#include "link/frame_receiver.h"

#include <cstring>

namespace zolt {

void FrameReceiver::Start() {
    frame.fill(0);
    count = 0;
    escapePending = 0;
    inFrame_ = false;
    complete_ = false;
    expected_ = -1;
    headCount_ = 0;
}

void FrameReceiver::Feed(std::span<const std::uint8_t> raw) {
    for (const std::uint8_t b : raw) Take(b);
}

void FrameReceiver::Take(std::uint8_t b) {
    if (!inFrame_) {
        if (b != EtsFrame::START) return;  // noise between frames
        Start();
        inFrame_ = true;
        frame[0] = EtsFrame::START;
        count = 1;
        return;
    }
    if (expected_ < 0 && headCount_ < static_cast<int>(head_.size())) {
        head_[static_cast<std::size_t>(headCount_++)] = b;
    }
    std::uint8_t value = b;
    if (escapePending) {
        value = static_cast<std::uint8_t>(~b);
        escapePending = 0;
    } else if (b == EtsFrame::ESCAPE) {
        escapePending = 1;
        return;
    }
    if (count >= EtsFrame::BUFFER_SIZE) return;  // only bytes behind a complete frame get here
    frame[static_cast<std::size_t>(count++)] = value;
    if (expected_ < 0 && count == 3) {
        expected_ = frame[1] | (frame[2] << 8);
        if (expected_ + 4 > EtsFrame::BUFFER_SIZE) {
            // No frame is that long: this start byte was noise, or a data byte of a frame
            // whose start was lost. The real start may be among the length bytes just taken.
            const auto head = head_;
            const int headCount = headCount_;
            Start();
            Feed(std::span<const std::uint8_t>(head.data(), static_cast<std::size_t>(headCount)));
            return;
        }
    }
    if (!complete_ && expected_ >= 0 && count > 3 && count >= expected_ + 4) complete_ = true;
}

void FrameReceiver::DeliverTimeoutFrame() {
    std::memcpy(frame.data(), EtsFrame::TIMEOUT_FRAME, sizeof EtsFrame::TIMEOUT_FRAME);
    count = static_cast<int>(sizeof EtsFrame::TIMEOUT_FRAME);
}

int FrameReceiver::UnescapeChunk(std::uint8_t* destination, const std::uint8_t* source, int n) {
    int o = 0;
    int k = 0;
    if (escapePending && n > 0) {
        destination[0] = static_cast<std::uint8_t>(~source[0]);
        escapePending = 0;
        o = k = 1;
    }
    while (k < n) {
        if (source[k] == EtsFrame::ESCAPE) {
            if (k + 1 == n) {
                escapePending = 1;
                break;
            }
            destination[o++] = static_cast<std::uint8_t>(~source[k + 1]);
            k += 2;
        } else {
            destination[o++] = source[k++];
        }
    }
    return o;
}

}  // namespace zolt
