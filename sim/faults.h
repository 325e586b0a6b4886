// The line faults a simulated phone plays on its replies, each decided from the phone's own
// random sequence, so that a seed replays them for the same requests.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "link/timing.h"
#include "sim/phone_options.h"
#include "sim/sim_random.h"

namespace zolt::sim {

// The rule aimed at the nth request of `kind`, or null; the first listed wins.
const FaultRule* RuleFor(const FaultOptions& faults, RequestKind kind, std::uint64_t nth);

// Whether the reply to request `number` is lost: named in dropReplyTo, or by dropRate.
bool LosesReply(const FaultOptions& faults, SimRandom& random, std::uint64_t number);

// Noise to send before a reply (noiseRate): 1 to 8 bytes, start bytes only when
// noiseStartBytes allows. Empty for none.
std::vector<std::uint8_t> NoiseBurst(const FaultOptions& faults, SimRandom& random);

// Changes each byte with probability corruptRate to another value. Returns whether any byte
// changed.
bool CorruptBytes(const FaultOptions& faults, SimRandom& random, std::vector<std::uint8_t>& wire);

// Changes one byte after the start byte to another value.
void CorruptOneByte(SimRandom& random, std::vector<std::uint8_t>& wire);

// The front half of a reply body (at least its two id bytes), for a short reply.
std::span<const std::uint8_t> ShortBody(std::span<const std::uint8_t> body);

// How much later than due a reply goes out: jitter, and lateBy for a late one.
Millis ReplyDelayFault(const FaultOptions& faults, SimRandom& random, bool late);

}  // namespace zolt::sim
