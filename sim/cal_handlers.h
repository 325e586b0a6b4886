// The phone's calibration side as the backup, restore and script runs meet it, and the odd
// answers to their records that tests ask a phone to give.
//
// Standard behaviour (InstallCalibrationHandlers, installed with every phone):
//  - page reads, setting reads, database writes and setting writes are answered only while
//    the file system is open (see firmware_handlers.cpp), but for the write of the
//    calibration setting, which the restore makes after the release;
//  - a page read (a request of 8 body bytes whose id is one of PhoneOptions::pageReadIds:
//    id, database, segment, offset, byte count) is answered with the request echoed and
//    that many bytes of the phone's calibration;
//  - a setting read (A1 07: type, id, len, offset) is answered A1 07, type, id and the
//    setting's byte (L = 7); Type 18, id 3 is the calibration setting;
//  - a setting write of Type 18, id 3 also stores the calibration setting (the firmware's
//    setting write stores and answers it as any other);
//  - a database write (30 01: database, segment, offset, byte count, write-through, data)
//    stores the data at its own offset and is answered 30 01 and its header, after
//    PhoneOptions::writeTime (a Miswrite rule stores its middle byte inverted); one whose
//    byte count differs from the data it carries is refused (9B 08);
//  - the record markers 31 01 00 00 and 31 01 01 00 are not answered;
//  - erasing the Data area (image type 6) wipes the calibration.
// The calibration is kept per phone, in the phone's state folder when it has one (see
// CalDatabase).
#pragma once

#include <cstdint>
#include <vector>

#include "link/messages.h"
#include "sim/message_table.h"

namespace zolt::sim {

using msg::ID_DB_WRITE;
using msg::ID_SIDB_READ;
inline constexpr std::uint16_t ID_CAL_MARKER = msg::ID_MARKER;  // 31 01 00 00 opens, 31 01 01 00 closes
inline constexpr std::uint16_t SIDB_CAL_SETTING_TYPE = msg::SIDB_TYPE;
inline constexpr std::uint16_t SIDB_CAL_SETTING_ID = msg::SIDB_SETTING_ID;

// Odd answers to the records of a restore or script: the database and setting writes
// between the markers 31 01 00 00 and 31 01 01 00. Records are numbered from 0 in the order
// the phone takes them, a record sent again keeping its number; the numbering starts again
// at every opening marker.
struct CalFaults {
    enum class Answer {
        Refuse,   // 9B 08
        Ignore,   // no answer: the tool's receive times out
        Chatter,  // a frame that answers nothing (CHATTER_BODY, 55 01 00)
    };
    struct Rule {
        std::uint64_t record = 0;
        Answer answer = Answer::Refuse;
        int times = 1;  // the first `times` arrivals of the record; then it is taken
    };
    std::vector<Rule> rules;
};

// Lets the phone answer records as `faults` says, in front of the handlers installed so far.
// Call on a phone's table before the phone starts.
void InstallCalibrationFaults(MessageTable& table, const CalFaults& faults);

}  // namespace zolt::sim
