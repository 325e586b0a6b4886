#include "sim/transmitter.h"

#include <algorithm>

namespace zolt::sim {

Transmitter::Transmitter(Clock::duration byteTime, std::size_t groupBytes)
    : byteTime_(byteTime), groupBytes_(std::max<std::size_t>(groupBytes, 1)) {}

Transmitter::Step Transmitter::Service(std::deque<Outgoing>& queue, TimePoint now,
                                       const WriteFn& write, const DoneFn& done) {
    for (;;) {
        if (!current_) {
            if (queue.empty()) return {};
            if (queue.front().notBefore > now) return {queue.front().notBefore, false};
            current_ = std::move(queue.front());
            queue.pop_front();
            start_ = std::max(current_->notBefore, lineFreeAt_);
            written_ = 0;
        }
        const std::size_t size = current_->wire.size();
        if (start_ > now) return {start_, false};

        // Bytes whose last bit has left the emulated UART by now.
        std::size_t due = size;
        if (byteTime_.count() > 0) {
            due = std::min<std::size_t>(size, static_cast<std::size_t>((now - start_) / byteTime_));
        }
        const std::size_t group = std::min(groupBytes_, size - written_);
        if (due >= written_ + group || due == size) {
            const std::size_t count = due - written_;
            const long taken = count ? write(current_->wire.data() + written_, count) : 0;
            if (taken < 0) {
                lineFreeAt_ = now;
                done(*current_, false);
                current_.reset();
                continue;
            }
            written_ += static_cast<std::size_t>(taken);
            if (static_cast<std::size_t>(taken) < count) return {std::nullopt, true};
        }
        if (written_ == size) {
            lineFreeAt_ = start_ + byteTime_ * static_cast<long>(size);
            done(*current_, true);
            current_.reset();
            continue;
        }
        const std::size_t next = std::min(size, written_ + groupBytes_);
        return {start_ + byteTime_ * static_cast<long>(next), false};
    }
}

}  // namespace zolt::sim
