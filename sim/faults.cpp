#include "sim/faults.h"

#include <algorithm>

#include "link/ets_frame.h"

namespace zolt::sim {

namespace {
constexpr std::uint64_t MOST_NOISE = 8;
constexpr std::size_t ID_BYTES = 2;
}  // namespace

const FaultRule* RuleFor(const FaultOptions& faults, RequestKind kind, std::uint64_t nth) {
    for (const FaultRule& rule : faults.rules) {
        if (rule.target == kind && (rule.nth == 0 || rule.nth == nth)) return &rule;
    }
    return nullptr;
}

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
        const auto v = static_cast<std::uint8_t>(random.Between(0, 255));
        b = v == EtsFrame::START && !faults.noiseStartBytes ? 0xFF : v;
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

void CorruptOneByte(SimRandom& random, std::vector<std::uint8_t>& wire) {
    if (wire.size() < 2) return;
    auto& b = wire[random.Between(1, wire.size() - 1)];
    b = static_cast<std::uint8_t>(b ^ random.Between(1, 255));
}

std::span<const std::uint8_t> ShortBody(std::span<const std::uint8_t> body) {
    return body.first(std::min(body.size(), std::max(ID_BYTES, body.size() / 2)));
}

Millis ReplyDelayFault(const FaultOptions& faults, SimRandom& random, bool late) {
    Millis delay{0};
    if (faults.jitter.count() > 0) {
        delay += Millis(static_cast<long>(random.Between(0, static_cast<std::uint64_t>(faults.jitter.count()))));
    }
    if (late) delay += faults.lateBy;
    return delay;
}

}  // namespace zolt::sim
