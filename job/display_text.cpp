#include "job/display_text.h"

#include <cstdio>

namespace zolt {

std::string ProgressText(int percent) {
    if (percent >= 100) return "Download Finished ( 100 % )";
    if (percent <= 0) return "Waiting...";
    char text[32];
    std::snprintf(text, sizeof text, "Downloading ( %02d", percent);
    return std::string(text) + " % )";
}

std::string ComLabel(int comPort) {
    if (comPort < 0) return " ";
    char text[24];
    std::snprintf(text, sizeof text, "COM%02d", comPort);
    return text;
}

std::string ElapsedText(std::uint32_t seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%02u M %02u S", seconds / 60, seconds % 60);
    return text;
}

}  // namespace zolt
