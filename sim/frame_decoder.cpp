#include "sim/frame_decoder.h"

#include "link/ets_frame.h"
#include "link/messages.h"

namespace zolt::sim {

const char* FrameDropName(FrameDrop why) {
    switch (why) {
        case FrameDrop::BadChecksum: return "bad checksum";
        case FrameDrop::TooLong: return "too long";
        case FrameDrop::Cut: return "cut short";
    }
    return "?";
}

void PhoneFrameDecoder::Start() {
    frame_.clear();
    frame_.push_back(EtsFrame::START);
    inFrame_ = true;
    escape_ = false;
    expected_ = 0;
}

void PhoneFrameDecoder::Feed(std::span<const std::uint8_t> chunk, const FrameFn& onFrame,
                             const DropFn& onDrop) {
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        const std::uint8_t b = chunk[i];
        if (b == EtsFrame::START) {
            if (inFrame_) onDrop(FrameDrop::Cut, frame_);
            Start();
            continue;
        }
        if (!inFrame_) {
            ++noiseBytes_;
            continue;
        }
        if (escape_) {
            escape_ = false;
            Take(static_cast<std::uint8_t>(~b), i, onFrame, onDrop);
        } else if (b == EtsFrame::ESCAPE) {
            escape_ = true;
        } else {
            Take(b, i, onFrame, onDrop);
        }
    }
}

void PhoneFrameDecoder::Take(std::uint8_t byte, std::size_t index, const FrameFn& onFrame,
                             const DropFn& onDrop) {
    frame_.push_back(byte);
    if (frame_.size() == 3) {
        const auto length = static_cast<std::size_t>(msg::BodyLength(frame_.data()));
        if (length > MAX_BODY) {
            inFrame_ = false;
            onDrop(FrameDrop::TooLong, frame_);
            return;
        }
        expected_ = length + 4;
    }
    if (expected_ == 0 || frame_.size() < expected_) return;

    inFrame_ = false;
    const int n = static_cast<int>(frame_.size()) - 1;
    if (FrameChecksum(frame_.data(), n) != frame_.back()) {
        onDrop(FrameDrop::BadChecksum, frame_);
        return;
    }
    onFrame(frame_, index);
}

}  // namespace zolt::sim
