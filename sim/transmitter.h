// The phone's sending side of the line: hands queued replies to the line in order, each no
// earlier than its own time, and, on an emulated wire, no faster than the line's speed: the
// bytes of a frame go out in small groups as they would have left a UART, and a frame starts
// only when the previous one is out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "sim/phone_core.h"

namespace zolt::sim {

class Transmitter {
public:
    // Hands `count` bytes to the line. Returns how many it took (0 when the line is full and
    // must be waited on) or -1 when the line is broken and the frame is to be given up.
    using WriteFn = std::function<long(const std::uint8_t* bytes, std::size_t count)>;
    // Told about every queued item once its last byte was taken, or once it was given up.
    using DoneFn = std::function<void(const Outgoing& item, bool written)>;

    // `byteTime` zero: no pacing, every item goes out whole at its time. Otherwise bytes are
    // written in groups of up to `groupBytes`, each once its last byte is due.
    explicit Transmitter(Clock::duration byteTime, std::size_t groupBytes = 16);

    struct Step {
        std::optional<TimePoint> wakeAt;  // call again then; none: only when more is queued
        bool waitWritable = false;        // call again when the line has room
    };
    // Writes what is due at `now`, taking items from the front of `queue`.
    Step Service(std::deque<Outgoing>& queue, TimePoint now, const WriteFn& write,
                 const DoneFn& done);

    // Nothing is partly written and nothing is waiting in the transmitter itself.
    bool Idle() const { return !current_.has_value(); }

private:
    Clock::duration byteTime_;
    std::size_t groupBytes_;
    std::optional<Outgoing> current_;
    TimePoint start_{};      // when the current item's first byte started
    std::size_t written_ = 0;
    TimePoint lineFreeAt_{};  // the previous item's last byte was out
};

}  // namespace zolt::sim
