// What a message handler may do with the phone it runs in. Handlers run on the phone's own
// thread, one request at a time, with the phone's state locked.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "link/timing.h"
#include "sim/phone_options.h"
#include "sim/phone_state.h"

namespace zolt::sim {

class FlashStore;
class SimRandom;

class PhoneContext {
public:
    virtual ~PhoneContext() = default;

    virtual PhoneState& State() = 0;
    // The phone's number, from 1.
    virtual int Number() const = 0;
    virtual const PhoneOptions& Options() const = 0;
    virtual FlashStore& Flash() = 0;
    virtual SimRandom& Random() = 0;

    // Queues a reply with this body. `work` is the phone's time on the request (programming
    // a block, say): the reply starts that long after the request has arrived, or after the
    // phone's earlier work is done, whichever is later. Fault options may lose or damage it.
    virtual void Reply(std::span<const std::uint8_t> body, Millis work = Millis{0}) = 0;

    // Whether a fault rule aimed at the request being handled does `action`, for the faults
    // that a handler plays itself (Miswrite).
    virtual bool Plays(FaultAction action) const = 0;

    // Switches between firmware and boot loader; noted in the trace.
    virtual void SetMode(PhoneMode mode) = 0;
    // A line in the trace, for what the frames alone do not show.
    virtual void Note(std::string_view text) = 0;
};

}  // namespace zolt::sim
