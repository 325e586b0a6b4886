// What a simulated phone remembers and what tests look at: its mode, the file-system
// settings written to it, and counts of everything it received and sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "sim/phone_options.h"

namespace zolt::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

enum class PhoneMode { Firmware, BootLoader };

const char* PhoneModeName(PhoneMode mode);

// One good frame as the handlers see it.
struct Request {
    std::span<const std::uint8_t> body;
    std::uint16_t id = 0;         // body bytes 0 and 1, little-endian; byte 0 alone for a 1-byte body
    std::uint64_t number = 0;     // 1 for the first good frame the phone received
    TimePoint arrived{};          // when its last byte was in (on the emulated wire)
};

struct PhoneState {
    PhoneMode mode = PhoneMode::Firmware;
    // Opened by the access request (setting 18/8) after an echoed probe, closed by the
    // release (F3 03 then CE 00 00) and by a reset.
    bool fsAccessOpen = false;
    bool probed = false;  // a file-system probe came since the file system last closed
    // Restarting after a reset: frames that end before this are not heard.
    TimePoint deafUntil{};

    std::uint64_t framesReceived = 0;  // good frames
    std::uint64_t framesDropped = 0;   // bad checksum, cut short, too long
    std::uint64_t repliesQueued = 0;
    std::uint64_t repliesSent = 0;     // last byte written to the line
    std::uint64_t repliesLost = 0;     // not sent because of a fault option
    std::uint64_t unhandled = 0;       // good frames that no handler took (no reply)
    std::uint64_t unheard = 0;         // good frames that came while the phone restarted
    std::uint64_t bootLoaderEntries = 0;
    std::uint64_t resets = 0;
    std::uint64_t erases = 0;  // flash areas erased
    bool silent = false;     // stopped answering (fault option)
    bool vanishing = false;  // answers no more and closes its line once its replies are out
    bool vanished = false;   // has closed its line (fault option)
    bool lineLost = false;  // the device went away under the phone
    int portUsers = 0;      // programs that have the phone's pseudo-terminal open

    std::map<std::uint16_t, std::uint64_t> requestsById;
    // Heard requests by kind (see Classify), as fault rules count them; writes count under
    // Write too.
    std::map<RequestKind, std::uint64_t> requestsByKind;
    // Every write (RequestKind::Write) with different bytes, in the order each first came:
    // a write's number, as fault rules aimed at Write count them, is its place here, from 1.
    std::vector<std::vector<std::uint8_t>> writes;
    std::uint64_t chatterQueued = 0;  // unsolicited frames (FaultOptions::chatterEvery)
    // The bodies of the latest requests, oldest first, at most RECENT_LIMIT of them.
    static constexpr std::size_t RECENT_LIMIT = 1000;
    std::deque<std::vector<std::uint8_t>> recent;

    // File-system settings by (type, id), as written by setting writes.
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::vector<std::uint8_t>> settings;

    // The request before the one being handled, for rules that look at sequences: its id,
    // when it came, and how long the line had been quiet before it (max() for the first).
    bool havePrevious = false;
    std::uint16_t previousId = 0;
    TimePoint previousArrived{};
    Clock::duration previousQuietBefore = Clock::duration::max();

    // Jobs the tool has done on the phone. A job begins with the first request that is not a
    // loopback probe, and is over once only heard probes have followed, at least
    // JOB_OVER_PROBES of them over at least JOB_OVER_QUIET: the tool's presence probes while
    // it waits for the phone to be taken away. No job has such a stretch inside it: the
    // boot-loader handshake is two probes, and the file-system handshake's echo is followed
    // by the access request at once.
    static constexpr int JOB_OVER_PROBES = 4;
    static constexpr Millis JOB_OVER_QUIET{800};
    std::uint64_t jobs = 0;
    bool inJob = false;
    int quietProbes = 0;       // probes since the job's latest other request
    TimePoint quietSince{};    // when the first of them came
    bool JobOver() const { return jobs > 0 && !inJob; }

    std::uint64_t Count(std::uint16_t id) const {
        auto it = requestsById.find(id);
        return it == requestsById.end() ? 0 : it->second;
    }
};

}  // namespace zolt::sim
