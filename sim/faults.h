// The line faults a simulated phone plays on its replies, each decided from the phone's own
// random sequence, so that a seed replays them for the same requests.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/phone_options.h"
#include "sim/sim_random.h"

namespace zolt::sim {

// Whether the reply to request `number` is lost: named in dropReplyTo, or by dropRate.
bool LosesReply(const FaultOptions& faults, SimRandom& random, std::uint64_t number);

// Noise to send before a reply (noiseRate): 1 to 8 bytes, none of them a start byte. Empty
// for none.
std::vector<std::uint8_t> NoiseBurst(const FaultOptions& faults, SimRandom& random);

// Changes each byte with probability corruptRate to another value. Returns whether any byte
// changed.
bool CorruptBytes(const FaultOptions& faults, SimRandom& random, std::vector<std::uint8_t>& wire);

}  // namespace zolt::sim
