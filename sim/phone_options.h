// How one simulated phone behaves: its line, its timing, how it reaches its boot loader,
// where it keeps its flash, and which faults it plays.
#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#include "link/timing.h"

namespace zolt::sim {

struct FaultOptions {
    // Numbers (from 1, counting every good frame received) of requests whose reply is lost.
    std::vector<std::uint64_t> dropReplyTo;
    // Share of replies lost, of reply bytes changed on the wire, and of replies that are
    // preceded by a burst of noise (1 to 8 bytes, never a start byte, so a sound receiver can
    // always find the next frame). Each 0 to 1.
    double dropRate = 0;
    double corruptRate = 0;
    double noiseRate = 0;
    // Flash blocks that the phone asks for again (status 1) the first time they come.
    std::vector<std::uint32_t> repeatBlock;
    // (N, M): the first time block N comes, the phone asks for block M instead, leaving the
    // blocks between unwritten.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> skipBlock;
    // After this many good frames the phone stops answering (it still reads); -1: never.
    std::int64_t silentAfter = -1;
    // After this many good frames, and once their replies are out, the phone closes its line
    // as if unplugged; -1: never.
    std::int64_t vanishAfter = -1;
    // Every random choice comes from this seed (and the phone's number), so a run with the
    // same seed and the same requests plays the same faults.
    std::uint64_t seed = 1;
};

struct PhoneOptions {
    // Line speed. With wireTime, every byte in either direction takes 10 bit times: replies are
    // paced, and no reply starts before the request's last byte would have arrived.
    int baud = 115200;
    bool wireTime = true;

    // The phone's own time, between the request's last byte and the first byte of its reply.
    Millis replyDelay{0};
    Millis blockTime{0};  // programming one flash block
    Millis eraseTime{0};  // erasing a flash area

    // Start in the boot loader instead of the firmware.
    bool startInBootLoader = false;
    // The firmware hands over to its boot loader on the tool's boot-loader handshake: a lone
    // loopback probe, a pause, another probe. Precisely: on a probe that comes at least
    // bootGap after a probe that itself came at least bootGap after the request before it
    // (or was the first). The file-system handshake sends its probes 100 ms apart and so
    // never matches. Off with enterBootOnGap = false.
    bool enterBootOnGap = true;
    Millis bootGap{500};

    // Folder for the flash areas (flash-<type>.bin); empty: kept in memory only.
    std::filesystem::path stateDir;

    FaultOptions faults;
};

}  // namespace zolt::sim
