// The phone's dispatch: which handler answers which message id in which mode.
//
// Every behaviour of the phone is a handler in this table, so that further message families
// (calibration pages, settings, database writes) are added in files of their own by an
// installer function, without touching the existing handlers. A later entry for the same
// mode and id replaces the earlier one, which is how tests give a phone odd behaviour.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "sim/phone_state.h"

namespace zolt::sim {

class PhoneContext;

// Returns false when the request is not one it takes after all (the table then tries the
// catch-all handlers); a handler that takes a request but does not answer returns true. A
// handler that switches the phone's mode and returns false hands the request over to the
// new mode's handlers.
using Handler = std::function<bool(PhoneContext& phone, const Request& request)>;

class MessageTable {
public:
    void On(PhoneMode mode, std::uint16_t id, Handler handler);
    // Tried in the order added for requests that no id handler took: for messages whose id
    // is not fixed (a page read carries the page's own id).
    void Otherwise(PhoneMode mode, Handler handler);
    // The handler for `mode` and `id`, empty when there is none: for a family that adds to
    // what another family's handler does (calibration wiped by a flash erase).
    [[nodiscard]] Handler Find(PhoneMode mode, std::uint16_t id) const;

    // Returns true when a handler took the request.
    bool Dispatch(PhoneContext& phone, const Request& request) const;

private:
    std::map<std::pair<PhoneMode, std::uint16_t>, Handler> byId_;
    std::vector<std::pair<PhoneMode, Handler>> otherwise_;
};

}  // namespace zolt::sim
