// The page catalogue of a line: which calibration pages a backup reads, and the name lookups
// that turn the names written in a calibration text back into numbers.
//
// The catalogue comes from "calibration.ini" in the working directory. Each bracketed header
// of the file takes one slot, in file order, whether it names a page or the count section
// "MAXPAGECONUT"; the slot's numbers and page name are looked up by that header's name.
// Every line loads its own copy once and only reads it afterwards, so no locking is needed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "io/prompt.h"

namespace zolt {

// One slot of the catalogue: the read request of one page and its name in calibration files.
struct CalMessageEntry {
    std::uint16_t etsId = 0;    // message id of the page read request
    std::uint8_t dbId = 0;      // database: 0 = CP, 1 = RF
    std::uint8_t segment = 0;   // segment within the database
    std::uint16_t offset = 0;   // start offset within the segment
    std::uint16_t bytes = 0;    // data bytes of the page
    std::string msgString;      // the page's name, at most MSG_STRING_LIMIT characters
    std::string kindName;       // "CP DB Write" for every loaded slot
    std::string dbName;         // "CP Write", "RF Write", or empty for another dbId
};

class CalMessageCatalog {
public:
    static constexpr int SLOT_COUNT = 100;
    // Bytes of the file that are scanned for section headers; the rest is not catalogue.
    static constexpr std::size_t FILE_LIMIT = 9216;
    static constexpr std::size_t MSG_STRING_LIMIT = 49;
    static constexpr std::string_view FILE_NAME = "calibration.ini";
    static constexpr std::string_view COUNT_SECTION = "MAXPAGECONUT";

    // Replaces the catalogue with the one in `text`, the contents of a catalogue file, of
    // which only the first FILE_LIMIT bytes count. Headers are found by a raw scan: every
    // ']' closes a header named by the text since the last '[' (so a ']' inside a value
    // takes a slot of its own); headers beyond the SLOT_COUNT-th are ignored. Keys are looked
    // up by INI rules (names without regard to case, the first section of a name wins);
    // missing keys and non-numbers give 0, a missing page name "Msgstring". Numbers keep
    // their low 8 or 16 bits. pageCount is the Count of the section named exactly
    // MAXPAGECONUT, limited to 0..SLOT_COUNT, and 0 without such a section.
    void LoadFromText(std::string_view text);

    // Loads `file`, which must be a regular file. Returns false, leaving the catalogue empty
    // and putting the operator's text for the file error into `reason` (it names the file),
    // when the file cannot be opened or read.
    [[nodiscard]] bool LoadFile(const std::string& file, std::string& reason);

    // Loads FILE_NAME from `folder` (the current working directory when empty); when it
    // cannot be opened, shows "Couldn't open file: " and the reason through `prompt` (without
    // an icon) and leaves the catalogue empty. Call on the owner's thread.
    void LoadCatalog(Prompt& prompt, std::string_view folder);

    // The `segment` of the first slot, of all SLOT_COUNT, whose msgString equals `name`
    // exactly; 0 when none does.
    [[nodiscard]] std::uint8_t SegmentFromMsgString(std::string_view name) const;

    std::array<CalMessageEntry, SLOT_COUNT> entries{};
    // Entries that a backup reads, from slot 0 on.
    std::int32_t pageCount = 0;
    // Slots filled by the last load.
    int sectionCount = 0;
};

// "CP DB Write" gives 0x0130, "CP FFS SIDB WRITE" 0x07A2, any other text 0xFFFF (exact,
// case-sensitive).
[[nodiscard]] std::uint16_t MessageIdFromName(std::string_view name);

// "CP Write" gives 0, "RF Write" 1, any other text 0xFF (exact, case-sensitive).
[[nodiscard]] std::uint8_t DbIdFromName(std::string_view name);

// The text as a signed decimal number: leading white space skipped, an optional sign, then
// digits up to the first other character, 0 without digits; the low 16 bits of the result.
// "0x10" gives 0; "-1" gives 0xFFFF.
[[nodiscard]] std::uint16_t ParseNumber(std::string_view text);

}  // namespace zolt
