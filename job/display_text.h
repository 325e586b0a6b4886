// Texts that every front end shows the same way.
#pragma once

#include <cstdint>
#include <string>

namespace zolt {

// A line's progress text: "Waiting..." at 0 (and below), "Downloading ( 07 % )" on the way,
// "Download Finished ( 100 % )" from 100 on (the counter runs one block ahead and ends past 100).
std::string ProgressText(int percent);

// "COM05" for port 5, "COM12" for 12; a single blank for a line without a port.
std::string ComLabel(int comPort);

// "%02d M %02d S" of whole seconds; minutes are not cut to two digits ("100 M 05 S").
std::string ElapsedText(std::uint32_t seconds);

}  // namespace zolt
