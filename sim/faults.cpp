#include "sim/faults.h"

#include <algorithm>

#include "link/ets_frame.h"

namespace zolt::sim {

namespace {
constexpr std::uint64_t MOST_NOISE = 8;
}  // namespace

bool LosesReply(const FaultOptions& faults, SimRandom& random, std::uint64_t number) {
    const auto& named = faults.dropReplyTo;
    if (std::find(named.begin(), named.end(), number) != named.end()) return true;
    return random.Chance(faults.dropRate);
}

std::vector<std::uint8_t> NoiseBurst(const FaultOptions& faults, SimRandom& random) {
    std::vector<std::uint8_t> noise;
    if (!random.Chance(faults.noiseRate)) return noise;
    noise.resize(random.Between(1, MOST_NOISE));
    for (auto& b : noise) {
        // Any of the 255 values but the start byte: noise that looked like a frame start
        // would eat the frame behind it in any receiver, which is not what is simulated.
        const auto v = static_cast<std::uint8_t>(random.Between(0, 254));
        b = v == EtsFrame::START ? 0xFF : v;
    }
    return noise;
}

bool CorruptBytes(const FaultOptions& faults, SimRandom& random, std::vector<std::uint8_t>& wire) {
    if (faults.corruptRate <= 0) return false;
    bool changed = false;
    for (auto& b : wire) {
        if (random.Chance(faults.corruptRate)) {
            b = static_cast<std::uint8_t>(b ^ random.Between(1, 255));
            changed = true;
        }
    }
    return changed;
}

}  // namespace zolt::sim
