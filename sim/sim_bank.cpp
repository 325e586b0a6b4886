#include "sim/sim_bank.h"

namespace zolt::sim {

SimBank::SimBank(const PhoneOptions& options, const BankSetup& setup, std::shared_ptr<TraceSink> trace) {
    const bool devices = !setup.devices.empty();
    const int count = devices ? static_cast<int>(setup.devices.size()) : setup.count;
    for (int k = 0; k < count; ++k) {
        PhoneOptions own = options;
        if (!options.stateDir.empty() && count > 1) {
            own.stateDir = options.stateDir / ("phone-" + std::to_string(k + 1));
        }
        LineSetup line;
        if (devices) line.device = setup.devices[static_cast<std::size_t>(k)];
        if (!devices && static_cast<std::size_t>(k) < setup.links.size()) {
            line.link = setup.links[static_cast<std::size_t>(k)];
        }
        phones_.push_back(SimPhone::Create(own, line, k + 1, trace));
    }
}

void SimBank::Start() {
    for (auto& phone : phones_) phone->Start();
}

void SimBank::Stop() {
    for (auto& phone : phones_) phone->Stop();
}

}  // namespace zolt::sim
