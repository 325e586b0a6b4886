// The simulator's trace: one line per frame received or sent and per notable event, with the
// time since the trace began, the phone's number and the direction. Several phones may share
// one trace; lines are written whole and flushed at once, so a trace survives a crash.
//
//   12.345678 #2 RX FE 03 00 00 00 01 FC
//   12.346512 #2 TX FE 03 00 00 00 01 FC
//   12.346600 #2 -- boot loader
//
// Frames are shown unescaped, start byte to checksum, except where a note says otherwise.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "sim/phone_state.h"

namespace zolt::sim {

class TraceSink {
public:
    // Writes to `out`, which must outlive the sink.
    explicit TraceSink(std::ostream& out);
    // Creates or truncates the file; throws SimError when it cannot.
    static std::shared_ptr<TraceSink> ToFile(const std::string& path);

    // `direction` is "RX", "TX" or a variant naming a fault ("TX-LOST", "RX-BAD").
    void Frame(int phone, std::string_view direction, std::span<const std::uint8_t> bytes,
               std::string_view note = {});
    void Event(int phone, std::string_view text);

private:
    TraceSink() = default;
    void Line(int phone, std::string_view direction, std::string_view text);

    std::mutex mutex_;
    std::ofstream file_;
    std::ostream* out_ = nullptr;
    TimePoint origin_ = Clock::now();
};

// "FE 03 00" style.
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace zolt::sim
