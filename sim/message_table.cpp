#include "sim/message_table.h"

#include "sim/phone_context.h"

namespace zolt::sim {

void MessageTable::On(PhoneMode mode, std::uint16_t id, Handler handler) {
    byId_[{mode, id}] = std::move(handler);
}

void MessageTable::Otherwise(PhoneMode mode, Handler handler) {
    otherwise_.emplace_back(mode, std::move(handler));
}

Handler MessageTable::Find(PhoneMode mode, std::uint16_t id) const {
    const auto it = byId_.find({mode, id});
    return it != byId_.end() ? it->second : Handler{};
}

bool MessageTable::Dispatch(PhoneContext& phone, const Request& request) const {
    // One hand-over at most: a handler that switches the mode and declines the request passes
    // it to the new mode's handlers (the firmware restarting into its boot loader on a probe
    // that the boot loader then answers).
    for (int round = 0; round < 2; ++round) {
        const PhoneMode mode = phone.State().mode;
        if (auto it = byId_.find({mode, request.id}); it != byId_.end()) {
            if (it->second(phone, request)) return true;
        }
        if (phone.State().mode != mode) continue;
        for (const auto& [m, handler] : otherwise_) {
            if (m == mode && handler(phone, request)) return true;
        }
        return false;
    }
    return false;
}

}  // namespace zolt::sim
