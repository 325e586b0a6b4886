#include "cal/srp_reader.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "link/messages.h"

namespace zolt {
namespace {

constexpr std::string_view KIND_DB_WRITE = "CP DB Write";
constexpr std::string_view KIND_SIDB_WRITE = "CP FFS SIDB WRITE";
constexpr std::size_t LONGEST_KIND_NAME = std::max(KIND_DB_WRITE.size(), KIND_SIDB_WRITE.size());

// Whether `mark` stands at `position` of `text`; bytes past `length` match nothing.
bool MarkAt(const std::uint8_t* text, std::size_t length, std::size_t position,
            std::string_view mark) {
    if (position > length || length - position < mark.size()) return false;
    return std::memcmp(text + position, mark.data(), mark.size()) == 0;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool NeedsEscape(std::uint8_t b) { return b == EtsFrame::START || b == EtsFrame::ESCAPE; }

int ClampLength(int length) { return std::clamp(length, 0, SrpReader::LINE_SIZE); }

}  // namespace

std::string SidbStatusLine(const SrpMessage& message) {
    const auto& f = message.fieldText;
    return "Script " + f[0] + "Type=" + f[1] + " id=" + f[2] + " len=" + f[3] + " offset=" + f[4];
}

std::uint8_t HexPairToByte(char first, char second) {
    const int high = HexDigitValue(first);
    if (high < 0) return 0;
    const int low = HexDigitValue(second);
    if (low < 0) return static_cast<std::uint8_t>(high);
    return static_cast<std::uint8_t>(high << 4 | low);
}

std::string RefusalReason(SrpRefusal refusal) {
    switch (refusal) {
    case SrpRefusal::None: return "nothing wrong";
    case SrpRefusal::TooManyRecords:
        return "more than " + std::to_string(SrpReader::MAX_RECORDS) + " records";
    case SrpRefusal::LineTooLong:
        return "longer than " + std::to_string(SrpReader::LINE_SIZE) + " bytes";
    case SrpRefusal::TooManyDataBytes:
        return "more than " + std::to_string(SrpReader::DATA_SIZE) + " data bytes";
    case SrpRefusal::RequestTooLong: return "too long for one request";
    case SrpRefusal::NoRequest: return "not a write record";
    case SrpRefusal::NoPageToCheck: return "no page of calibration.ini reads it back";
    }
    return {};
}

bool RunSends(SrpRun run, SrpRecordKind kind) {
    return kind == SRP_SIDB_WRITE || (kind == SRP_DB_WRITE && run == SrpRun::Restore);
}

int SrpReader::CountEtsMarks(const std::uint8_t* text, std::size_t length) {
    if (text == nullptr) return 0;
    int marks = 0;
    for (std::size_t p = 0; p + 3 <= length; ++p) {
        if (MarkAt(text, length, p, "ETS")) ++marks;
    }
    // The first line of a backup file and its closing line are not pages; a text with fewer
    // marks has no progress to show rather than a negative total.
    return std::max(marks - 2, 0);
}

int SrpReader::SplitRecords(const std::uint8_t* text, std::size_t length) {
    text_ = text;
    textLength_ = text != nullptr ? length : 0;
    recordCount = 0;
    recordsFound = 0;
    firstUnlistedStart_ = 0;
    if (textLength_ <= 3) return 0;

    auto addRecord = [this](std::size_t start, std::size_t end) {
        if (recordCount < MAX_RECORDS) {
            recordTable[static_cast<std::size_t>(recordCount++)] = {start, end};
        } else if (recordsFound == MAX_RECORDS) {
            firstUnlistedStart_ = start;
        }
        ++recordsFound;
    };

    // Position 0 is never looked at: a backup file's opening "ETS, Id=CP Power" line stands
    // there and is not a record.
    bool open = false;
    std::size_t start = 0;
    std::size_t p = 3;
    while (p < textLength_) {
        if (!open && MarkAt(text_, textLength_, p, "ETS")) {
            start = p;
            open = true;
            p += 2;
        } else if (open &&
                   (MarkAt(text_, textLength_, p, "ETS") || MarkAt(text_, textLength_, p, "//"))) {
            // The record stops before the line feed that precedes the mark. p is at least
            // start + 3 here, so stepping back two never reopens the same record, and the
            // mark at p is found again as a possible start.
            addRecord(start, p - 1);
            open = false;
            p -= 2;
        } else {
            ++p;
        }
    }
    // The last record runs to the end of the text: stopping short of it would lose the last
    // digit or the closing comma of a text that ends in a single line feed.
    if (open) addRecord(start, textLength_);
    return recordsFound;
}

int SrpReader::CopyRecord(int index) {
    recordLine.fill(0);
    lineCut_ = false;
    if (index < 0 || index >= recordCount || text_ == nullptr) return 0;
    const SrpRecord& record = recordTable[static_cast<std::size_t>(index)];
    const std::size_t size = record.end - record.start;
    const std::size_t copied = std::min<std::size_t>(size, LINE_SIZE);
    std::memcpy(recordLine.data(), text_ + record.start, copied);
    lineCut_ = size > copied;
    return static_cast<int>(copied);
}

SrpRecordKind SrpReader::ParseRecordFields(int length, const CalMessageCatalog& catalog) {
    const int n = ClampLength(length);
    const auto* line = reinterpret_cast<const char*>(recordLine.data());
    SrpMessage& m = message;
    m.taken.fill(false);
    m.accumulator.clear();
    SrpRecordKind kind = SRP_NONE;
    int valueStart = 0;

    for (int i = 0; i < n; ++i) {
        if (line[i] == '=' && !(i >= 4 && std::memcmp(line + i - 4, "Data", 4) == 0)) {
            valueStart = i;
        }
        if (line[i] != ',' || (i >= 2 && line[i - 1] == 'S' && line[i - 2] == 'T')) continue;

        for (int k = valueStart + 1; k < i; ++k) {
            m.accumulator.push_back(line[k]);
            if (m.accumulator == KIND_DB_WRITE) kind = SRP_DB_WRITE;
            if (m.accumulator == KIND_SIDB_WRITE) kind = SRP_SIDB_WRITE;
        }
        if (m.accumulator.empty()) continue;
        if (kind == SRP_NONE) {
            // Unnamed values pile up in the accumulator; once it is longer than any kind name
            // nothing later in the record can change the outcome.
            if (m.accumulator.size() > LONGEST_KIND_NAME) return SRP_NONE;
            continue;
        }

        const std::string& value = m.accumulator;
        const int slots = kind == SRP_DB_WRITE ? 6 : 5;
        int slot = 0;
        while (slot < slots && m.taken[static_cast<std::size_t>(slot)]) ++slot;
        if (slot < slots) {
            m.taken[static_cast<std::size_t>(slot)] = true;
            if (kind == SRP_DB_WRITE) {
                switch (slot) {
                case 0: m.messageId = MessageIdFromName(value); break;
                case 1: m.dbId = DbIdFromName(value); break;
                case 2: m.segment = catalog.SegmentFromMsgString(value); break;
                case 3: m.offset = ParseNumber(value); break;
                case 4: m.bytes = ParseNumber(value); break;
                default: m.writeThru = static_cast<std::uint8_t>(ParseNumber(value)); break;
                }
            } else {
                m.fieldText[static_cast<std::size_t>(slot)] = value;
                switch (slot) {
                case 0: m.messageId = MessageIdFromName(value); break;
                case 1: m.sidbType = ParseNumber(value); break;
                case 2: m.sidbId = ParseNumber(value); break;
                case 3: m.sidbLen = ParseNumber(value); break;
                default: m.offset = ParseNumber(value); break;
                }
            }
        }
        m.accumulator.clear();
        if (slot == slots - 1) return kind;
    }
    // A record cut at the line's end keeps its kind, so that it is refused rather than
    // skipped as if it were no write at all.
    return lineCut_ ? kind : SRP_NONE;
}

int SrpReader::ParseRecordData(int length) {
    const int n = ClampLength(length);
    const auto* line = reinterpret_cast<const char*>(recordLine.data());
    const auto* bytes = recordLine.data();
    const auto size = static_cast<std::size_t>(n);

    // Every "Data=" takes in all items behind it, so a second "Data=" repeats the items that
    // follow it. Collecting the item positions once keeps this linear in the record length.
    std::array<int, LINE_SIZE / 2> items{};
    int itemCount = 0;
    for (int k = 0; k + 1 < n; ++k) {
        if (line[k] == '0' && line[k + 1] == 'x') items[static_cast<std::size_t>(itemCount++)] = k;
    }

    int count = 0;
    int firstItem = 0;
    for (int j = 0; j + 5 <= n; ++j) {
        if (!MarkAt(bytes, size, static_cast<std::size_t>(j), "Data=")) continue;
        while (firstItem < itemCount && items[static_cast<std::size_t>(firstItem)] < j + 5) {
            ++firstItem;
        }
        for (int t = firstItem; t < itemCount; ++t) {
            const int k = items[static_cast<std::size_t>(t)];
            // Behind the record, recordLine holds zeros: an item cut by the record's end
            // reads what it has.
            const char high = k + 2 < n ? line[k + 2] : '\0';
            const char low = k + 3 < n ? line[k + 3] : '\0';
            // Items beyond DATA_SIZE are counted, so that the builders refuse the record.
            if (count < DATA_SIZE) {
                recordData[static_cast<std::size_t>(count)] = HexPairToByte(high, low);
            }
            ++count;
        }
    }
    return count;
}

SrpRefusal SrpReader::CheckRecord(int dataCount) const {
    if (lineCut_) return SrpRefusal::LineTooLong;
    if (dataCount < 0 || dataCount > DATA_SIZE) return SrpRefusal::TooManyDataBytes;
    return SrpRefusal::None;
}

bool SrpReader::FillFrame(Frame& frame, int& txLength, int bodyLength) {
    // The checksum goes at txLength, inside the buffer, and the escaped frame with its start
    // byte must fit the wire buffer: what SendFrame would refuse is refused here, before
    // anything of the record is built.
    if (bodyLength < 0 || 3 + bodyLength >= EtsFrame::BUFFER_SIZE) return false;
    const int length = 3 + bodyLength;
    const auto lengthLow = static_cast<std::uint8_t>(bodyLength & 0xFF);
    const auto lengthHigh = static_cast<std::uint8_t>(bodyLength >> 8);
    unsigned sum = lengthLow + lengthHigh;
    int wire = 1 + (NeedsEscape(lengthLow) ? 2 : 1) + (NeedsEscape(lengthHigh) ? 2 : 1);
    for (int i = 3; i < length; ++i) {
        sum += frame[static_cast<std::size_t>(i)];
        wire += NeedsEscape(frame[static_cast<std::size_t>(i)]) ? 2 : 1;
    }
    const auto checksum = static_cast<std::uint8_t>(0u - sum);
    wire += NeedsEscape(checksum) ? 2 : 1;
    if (wire > EtsFrame::BUFFER_SIZE) return false;
    txLength = length;
    return true;
}

SrpRefusal SrpReader::BuildDbWriteRequest(int dataCount, Frame& frame, int& txLength) const {
    frame.fill(0);
    txLength = 0;
    if (const SrpRefusal refusal = CheckRecord(dataCount); refusal != SrpRefusal::None) {
        return refusal;
    }
    if (3 + msg::DB_WRITE_HEADER + dataCount >= EtsFrame::BUFFER_SIZE) return SrpRefusal::RequestTooLong;
    const int bodyLength =
        msg::DbWrite(std::span<std::uint8_t>(frame).subspan(3), message.messageId, message.dbId,
                     message.segment, message.offset, message.bytes, message.writeThru, Data(dataCount));
    if (!FillFrame(frame, txLength, bodyLength)) {
        frame.fill(0);
        return SrpRefusal::RequestTooLong;
    }
    return SrpRefusal::None;
}

SrpRefusal SrpReader::BuildSidbWriteRequest(int dataCount, Frame& frame, int& txLength) const {
    frame.fill(0);
    txLength = 0;
    if (const SrpRefusal refusal = CheckRecord(dataCount); refusal != SrpRefusal::None) {
        return refusal;
    }
    if (3 + msg::SIDB_WRITE_HEADER + dataCount >= EtsFrame::BUFFER_SIZE) {
        return SrpRefusal::RequestTooLong;
    }
    const int bodyLength =
        msg::SidbWrite(std::span<std::uint8_t>(frame).subspan(3), message.messageId, message.sidbType,
                       message.sidbId, message.sidbLen, message.offset, Data(dataCount));
    if (!FillFrame(frame, txLength, bodyLength)) {
        frame.fill(0);
        return SrpRefusal::RequestTooLong;
    }
    return SrpRefusal::None;
}

SrpRefusal SrpReader::BuildRecordRequest(SrpRecordKind kind, int dataCount, Frame& frame,
                                         int& txLength) const {
    switch (kind) {
    case SRP_DB_WRITE: return BuildDbWriteRequest(dataCount, frame, txLength);
    case SRP_SIDB_WRITE: return BuildSidbWriteRequest(dataCount, frame, txLength);
    default:
        frame.fill(0);
        txLength = 0;
        return SrpRefusal::NoRequest;
    }
}

SrpReader::Parsed SrpReader::ReadRecord(int index, const CalMessageCatalog& catalog) {
    Parsed parsed;
    if (index >= MAX_RECORDS && index < recordsFound) {
        recordLine.fill(0);
        parsed.refusal = SrpRefusal::TooManyRecords;
        return parsed;
    }
    const int length = CopyRecord(index);
    parsed.kind = ParseRecordFields(length, catalog);
    parsed.dataCount = ParseRecordData(length);
    return parsed;
}

SrpReader::Check SrpReader::CheckRecords(SrpRun run, const CalMessageCatalog& catalog) {
    const SrpMessage kept = message;
    Check check{recordsFound, SrpRefusal::None};
    Frame frame{};
    for (int r = 0; r < recordsFound; ++r) {
        const Parsed parsed = ReadRecord(r, catalog);
        SrpRefusal refusal = parsed.refusal;
        if (refusal == SrpRefusal::None && RunSends(run, parsed.kind)) {
            int txLength = 0;
            refusal = BuildRecordRequest(parsed.kind, parsed.dataCount, frame, txLength);
        }
        if (refusal != SrpRefusal::None) {
            check = {r, refusal};
            break;
        }
    }
    message = kept;
    return check;
}

int CountRecordsOfKind(std::string_view text, SrpRecordKind kind) {
    SrpReader reader;
    const CalMessageCatalog noPages;  // a record's kind does not depend on its page names
    const int records = std::min(reader.SplitRecords(text), SrpReader::MAX_RECORDS);
    int count = 0;
    for (int r = 0; r < records; ++r) count += reader.ReadRecord(r, noPages).kind == kind ? 1 : 0;
    return count;
}

std::string SrpReader::RefusalText(SrpRefusal refusal, int index) const {
    std::string text = "Record " + std::to_string(index + 1);
    std::size_t start = textLength_;
    if (index >= 0 && index < recordCount) {
        start = recordTable[static_cast<std::size_t>(index)].start;
    } else if (index == MAX_RECORDS && recordsFound > MAX_RECORDS) {
        start = firstUnlistedStart_;
    }
    if (start < textLength_) {
        const auto lineFeeds = std::count(text_, text_ + start, std::uint8_t{'\n'});
        text += " (line " + std::to_string(lineFeeds + 1) + ")";
    }
    return text + " refused: " + RefusalReason(refusal);
}

}  // namespace zolt
