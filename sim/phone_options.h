// How one simulated phone behaves: its line, its timing, how it reaches its boot loader,
// where it keeps its flash, and which faults it plays.
#pragma once

#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#include "link/timing.h"

namespace zolt::sim {

// The body of the frames a chattering phone sends: an id no request of the tool uses.
inline constexpr std::uint8_t CHATTER_BODY[] = {0x55, 0x01, 0x00};

// The tool's requests as the phone tells them apart, for fault rules that aim at one phase.
enum class RequestKind {
    Other,
    Probe,         // a loopback probe the firmware echoes (the file-system handshake)
    BootProbe,     // a probe of the boot-loader handshake: the one the boot loader answers
    Access,        // the file-system access request
    PageRead,      // a calibration page read
    SettingRead,   // A1 07: a file-system setting read
    SettingWrite,  // A2 07 of the calibration setting (Type 18, id 3)
    SidbWrite,     // any other A2 07 setting write
    DbWrite,       // 30 01: a calibration database write
    Write,         // any of the three writes above, numbered as records (see FaultRule)
    Erase,         // B2 04 with operation 0
    Block,         // B2 04 with operation 1: a flash block
    Reset,         // DC 00
};

// What a fault rule does to the request it aims at.
enum class FaultAction {
    Lose,       // no reply
    Short,      // the reply loses the back half of its body: a well-formed but short frame
    Cut,        // the reply stops halfway on the wire; the rest never comes
    Late,       // the reply goes out FaultOptions::lateBy after it was due
    Duplicate,  // the reply goes out twice
    Corrupt,    // one byte of the reply changes on the wire
    Silent,     // no reply, to this request or to any after it
    Vanish,     // the phone closes its line instead of answering, as if unplugged
    Slow,       // the phone works FaultOptions::slowBy longer on it; later requests wait behind it
    Refuse,     // answered 9B 08 instead, and not acted on
    Miswrite,   // a database write is accepted but stored with one byte wrong (its middle one)
};

struct FaultRule {
    FaultAction action = FaultAction::Lose;
    RequestKind target = RequestKind::Other;
    // The nth request of the target kind since the phone started, from 1 (a flash block sent
    // again counts again). 0: every request of that kind. Writes as the target kind Write are
    // numbered as records instead: a write that comes again with the same bytes keeps its
    // number, and the rule plays on every arrival of it. A rule aimed at a write's own kind
    // goes before one aimed at Write.
    std::uint64_t nth = 1;
};

// How the boot loader answers an erase it has done.
enum class EraseReply {
    Accepted,    // B2 04, block 1, status 0
    SendBlock2,  // B2 04, block 2, status 1 ("send block 2"): the same, as the protocol allows
};

struct FaultOptions {
    // Numbers (from 1, counting every good frame received) of requests whose reply is lost.
    std::vector<std::uint64_t> dropReplyTo;
    // Share of replies lost, of reply bytes changed on the wire, of replies preceded by a
    // burst of noise (1 to 8 bytes), of replies that come lateBy late, and of replies sent
    // twice. Each 0 to 1.
    double dropRate = 0;
    double corruptRate = 0;
    double noiseRate = 0;
    double lateRate = 0;
    double duplicateRate = 0;
    // Noise is any byte, start and escape bytes included, as on a real line; false keeps
    // start bytes out of it, for a test that wants every frame behind the noise to arrive.
    bool noiseStartBytes = true;
    // Each reply is held back by up to this much more, at random.
    Millis jitter{0};
    // How much a late reply is late: past both of the tool's reply limits.
    Millis lateBy{1200};
    // Faults aimed at one kind of request (see FaultRule).
    std::vector<FaultRule> rules;
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
    // How much longer the phone works on a request aimed at by a Slow rule: past the tool's
    // receive limit.
    Millis slowBy{1500};
    // Unsolicited frames (CHATTER_BODY, an id no request uses) every chatterEvery from the
    // phone's start, for as long as its firmware runs (not in the boot loader, not while it
    // restarts, not once silent); 0: none. With chatterWhileWriting, only while a write (see
    // RequestKind::Write) waits for its answer: every chatterEvery from its arrival until the
    // answer is due.
    Millis chatterEvery{0};
    bool chatterWhileWriting = false;
    EraseReply eraseReply = EraseReply::Accepted;
    // Every random choice comes from this seed (and the phone's number), so a run with the
    // same seed and the same requests plays the same faults.
    std::uint64_t seed = 1;
};

struct PhoneOptions {
    // Line speed. With wireTime, every byte in either direction takes 10 bit times: replies are
    // paced, and no reply starts before the request's last byte would have arrived.
    int baud = 115200;
    bool wireTime = true;

    // The phone's own time, between the request's last byte and the first byte of its reply:
    // a phone's turnaround, programming a 350-byte block, erasing an area. Defaults in the
    // order of a real phone's, well inside the tool's reply limits.
    Millis replyDelay{1};
    Millis blockTime{3};
    Millis eraseTime{800};
    // Time to store a database or setting write (not the access request) before accepting it.
    Millis writeTime{0};
    // After a reset the phone restarts and hears nothing for this long.
    Millis restartTime{1000};

    // Start in the boot loader (already confirmed) instead of the firmware.
    bool startInBootLoader = false;
    // The firmware hands over to its boot loader on the tool's boot-loader handshake: a lone
    // loopback probe, a pause, another probe. Precisely: on a probe that comes at least
    // bootGap after a probe that itself came at least bootGap after the request before it
    // (or was the first). The file-system handshake sends its probes 100 ms apart and so
    // never matches. Off with enterBootOnGap = false.
    bool enterBootOnGap = true;
    Millis bootGap{500};

    // Message ids of 8-byte requests that the firmware takes as page reads.
    std::vector<std::uint16_t> pageReadIds{17};

    // Folder for the flash areas (flash-<type>.bin); empty: kept in memory only.
    std::filesystem::path stateDir;

    FaultOptions faults;
};

}  // namespace zolt::sim
