// The simulator's one source of randomness: a small generator whose sequence is the same on
// every platform and library, so that a seed replays the same faults anywhere.
#pragma once

#include <cstdint>

namespace zolt::sim {

class SimRandom {
public:
    explicit SimRandom(std::uint64_t seed) : state_(seed) {}

    // SplitMix64.
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    // True with probability p (never for p <= 0, always for p >= 1). Draws only when it must,
    // so an option left at 0 does not shift the sequence of the others.
    bool Chance(double p) {
        if (p <= 0) return false;
        if (p >= 1) return true;
        return Unit() < p;
    }
    // Uniform in [low, high].
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
        return low + Next() % (high - low + 1);
    }

private:
    std::uint64_t state_;
};

}  // namespace zolt::sim
