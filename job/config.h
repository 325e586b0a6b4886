// The configuration values of a job: where the sections, checksum words and version blocks
// lie in the ROM image, the identification the image must carry, and the update choices.
#pragma once

#include <cstdint>
#include <string>

namespace zolt {

struct Config {
    std::string checkInfo = "CheckInfo";    // identification expected in the CP version block
    std::string mobileName = "MobileName";  // model name expected in the CP version block
    std::int32_t combineVer = 0;            // non-zero: version block 16 bytes after the checksum word
    std::int32_t updateFlag = 0;            // which update choices are offered
    std::int32_t bootStart = 0;
    std::int32_t bootSize = 0;
    std::int32_t bootChksumPos = 0;
    std::int32_t cpStart = 0;
    std::int32_t cpSize = 0;
    std::int32_t cpChksumPos = 0;
    std::int32_t dataStart = 0;
    std::int32_t dataSize = 0;
};

}  // namespace zolt
