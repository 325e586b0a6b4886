#include "cal/cal_catalog.h"

#include "io/paths.h"

#include <algorithm>
#include <system_error>

#include "io/file_error.h"
#include "io/ini_file.h"
#include "io/input_file.h"
#include "io/texts.h"

namespace zolt {
namespace {

constexpr std::string_view KIND_DB_WRITE = "CP DB Write";
constexpr std::string_view KIND_SIDB_WRITE = "CP FFS SIDB WRITE";

void FillSlot(CalMessageEntry& entry, std::string_view section, const IniFile& ini) {
    // Numbers keep their low bits, as the fields are narrower than the INI reader's result.
    entry.etsId = static_cast<std::uint16_t>(ini.GetInt(section, "ETS, Id", 0));
    entry.kindName = std::string(KIND_DB_WRITE);
    entry.dbId = static_cast<std::uint8_t>(ini.GetInt(section, "DB Id", 0));
    entry.msgString = ini.GetString(section, "Msgstring", "Msgstring",
                                    CalMessageCatalog::MSG_STRING_LIMIT);
    if (entry.dbId == 0) entry.dbName = "CP Write";
    if (entry.dbId == 1) entry.dbName = "RF Write";
    entry.segment = static_cast<std::uint8_t>(ini.GetInt(section, "Segment", 0));
    entry.offset = static_cast<std::uint16_t>(ini.GetInt(section, "Offset", 0));
    entry.bytes = static_cast<std::uint16_t>(ini.GetInt(section, "Bytes", 0));
}

}  // namespace

void CalMessageCatalog::LoadFromText(std::string_view text) {
    entries = {};
    pageCount = 0;
    sectionCount = 0;
    text = text.substr(0, std::min(text.size(), FILE_LIMIT));
    const IniFile ini = IniFile::Parse(text);

    // Headers come from a scan of the raw bytes, not from the INI reader, so a ']' anywhere
    // closes a header: files written for the program rely on nothing else.
    std::size_t sectionStart = 0;
    for (std::size_t i = 0; i < text.size() && sectionCount < SLOT_COUNT; ++i) {
        if (text[i] == '[') {
            sectionStart = i;
        } else if (text[i] == ']') {
            const std::size_t nameStart = sectionStart + 1;
            const std::string_view name =
                i > nameStart ? text.substr(nameStart, i - nameStart) : std::string_view();
            FillSlot(entries[static_cast<std::size_t>(sectionCount)], name, ini);
            if (name == COUNT_SECTION) {
                pageCount = std::clamp<std::int32_t>(ini.GetInt(name, "Count", 0), 0, SLOT_COUNT);
            }
            ++sectionCount;
        }
    }
}

bool CalMessageCatalog::LoadFile(const std::string& name, std::string& reason) {
    LoadFromText({});
    // InputFile takes regular files only: a pipe or device under the catalogue's name is
    // refused instead of being waited on.
    InputFile in;
    std::uint64_t length = 0;
    FileError error = in.Open(name);
    if (error == FileError::None) error = in.Length(length);
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(length, FILE_LIMIT)), '\0');
    if (error == FileError::None) {
        error = in.ReadAll(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    }
    if (error != FileError::None) {
        reason = FileErrorText(error, name);
        return false;
    }
    LoadFromText(text);
    return true;
}

void CalMessageCatalog::LoadCatalog(Prompt& prompt, std::string_view folder) {
    std::string reason;
    const std::string directory = folder.empty() ? CurrentDirectory() : std::string(folder);
    if (!LoadFile(JoinPath(directory, FILE_NAME), reason)) {
        prompt.ShowMessage(texts::COULDNT_OPEN_FILE + reason, PromptIcon::None);
    }
}

std::uint8_t CalMessageCatalog::SegmentFromMsgString(std::string_view name) const {
    for (const CalMessageEntry& entry : entries) {
        if (entry.msgString == name) return entry.segment;
    }
    return 0;
}

std::uint16_t MessageIdFromName(std::string_view name) {
    if (name == KIND_DB_WRITE) return 0x0130;
    if (name == KIND_SIDB_WRITE) return 0x07A2;
    return 0xFFFF;
}

std::uint8_t DbIdFromName(std::string_view name) {
    if (name == "CP Write") return 0;
    if (name == "RF Write") return 1;
    return 0xFF;
}

std::uint16_t ParseNumber(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    // Unsigned arithmetic wraps where a signed one would overflow; the low 16 bits are the
    // same either way.
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<std::uint16_t>(value);
}

}  // namespace zolt
