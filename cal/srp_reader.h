// The reader of calibration and script texts: cuts a text into records, parses one record at
// a time into an SrpMessage and its data bytes, and builds the write request that the record
// becomes. Restore and script runs call it on their line's worker thread, in this order for
// each record: CopyRecord, ParseRecordFields, ParseRecordData, then a Build...Request.
//
// The reader works by position and punctuation, not by key names:
// - a record starts at an "ETS" at position 3 or later and ends before the character that
//   precedes the next "ETS" or "//" (so "//" starts a comment running up to the next "ETS");
//   a record still open at the end of the text runs to the end of the text;
// - a value is the text between an '=' (not one of "Data=") and the next ',' (not the one of
//   "ETS,"); the first values name the kind and carry the numbers;
// - the data are the items "0x" after "Data=", each read with the two characters behind it
//   (HexPairToByte); no item is refused.
//
// Nothing here can overrun its buffers: a record that does not fit them (a line longer than
// LINE_SIZE, more than DATA_SIZE data bytes, a request longer than a frame) is refused by the
// request builders with an SrpRefusal, and nothing of it is built. A run finds such records
// with CheckRecords before it sends anything, so that a text is played whole or not at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cal/cal_catalog.h"
#include "link/ets_frame.h"

namespace zolt {

// What ParseRecordFields makes of a record.
enum SrpRecordKind : int {
    SRP_NONE = 0,        // not sent
    SRP_DB_WRITE = 1,    // a database write, first value "CP DB Write"
    SRP_SIDB_WRITE = 2,  // an FFS SIDB write, first value "CP FFS SIDB WRITE"
};

// Why a record cannot be sent. The runner fails its task with SrpReader::RefusalText.
enum class SrpRefusal {
    None,
    TooManyRecords,    // the record comes after the first MAX_RECORDS
    LineTooLong,       // the record is longer than LINE_SIZE bytes
    TooManyDataBytes,  // more than DATA_SIZE data items
    RequestTooLong,    // the request would not fit a frame
    NoRequest,         // the record is of no kind that becomes a request
    NoPageToCheck,     // a database write that no catalogue page reads back
};

// Why a record cannot be sent, in the operator's words: "longer than 3000 bytes" and the like.
[[nodiscard]] std::string RefusalReason(SrpRefusal refusal);

// The runs that play a text: a restore sends both kinds of write, a script only the FFS SIDB
// writes; every other record is skipped.
enum class SrpRun { Restore, Script };
[[nodiscard]] bool RunSends(SrpRun run, SrpRecordKind kind);

// Start and end (exclusive) of one record in the text.
struct SrpRecord {
    std::size_t start = 0;
    std::size_t end = 0;
};

// The values of the current record. They stay from one record to the next until a record
// overwrites them or the runner clears them.
struct SrpMessage {
    std::uint16_t messageId = 0;
    std::uint8_t dbId = 0;
    std::uint8_t segment = 0;
    std::uint16_t offset = 0;
    std::uint16_t bytes = 0;     // sent as written, whatever the number of data items
    std::uint8_t writeThru = 0;
    std::uint16_t sidbType = 0;
    std::uint16_t sidbId = 0;
    std::uint16_t sidbLen = 0;
    std::array<std::string, 5> fieldText;  // an SIDB write's five values as written
    std::array<bool, 6> taken{};           // which value slots the current record filled
    std::string accumulator;               // the value being collected
};

// The status line of an accepted SIDB write: "Script CP FFS SIDB WRITEType=18 id=3 len=1
// offset=0" for the values CP FFS SIDB WRITE, 18, 3, 1 and 0.
[[nodiscard]] std::string SidbStatusLine(const SrpMessage& message);

// The byte that the two characters after an item's "0x" stand for, read as C reads a
// hexadecimal literal: hexadecimal digits (lower- or upper-case) from `first` on, as many as
// there are, at most two. So "0x" followed by '1' and a blank (an item written with one digit)
// is 0x01, '1' and 'g' give 0x01 too, and a pair that does not start with a digit gives 0.
// No item is refused: backup never writes such items, and a hand-written "0x1 " means 1.
[[nodiscard]] std::uint8_t HexPairToByte(char first, char second);

class SrpReader {
public:
    static constexpr int MAX_RECORDS = 1000;
    static constexpr int LINE_SIZE = 3000;
    static constexpr int DATA_SIZE = 800;
    using Frame = std::array<std::uint8_t, EtsFrame::BUFFER_SIZE>;

    // The number of positions at which "ETS" stands entirely within the text, minus 2, and
    // never below 0: the script run's progress total (a backup file of three pages gives 2).
    [[nodiscard]] static int CountEtsMarks(const std::uint8_t* text, std::size_t length);

    // Finds the records of the text and remembers the text, which must stay unchanged while
    // its records are read. Returns the number of records found; only the first MAX_RECORDS
    // go into recordTable, so a result above MAX_RECORDS means the text does not fit
    // (CheckRecords refuses it with SrpRefusal::TooManyRecords).
    int SplitRecords(const std::uint8_t* text, std::size_t length);
    int SplitRecords(std::string_view text) {
        return SplitRecords(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    // Clears recordLine and copies record `index` into it. Returns the record's length, at
    // most LINE_SIZE; a longer record is copied as far as it fits and then refused by the
    // builders. An index outside the table copies nothing and returns 0.
    int CopyRecord(int index);

    // Parses the values of the record in recordLine (`length` as CopyRecord returned) into
    // `message`, looking page names up in `catalog`. Returns the kind when the record has
    // all the values of its kind, each closed by a comma, and SRP_NONE otherwise (the values
    // taken so far stay in `message`). A record cut at LINE_SIZE gives the kind its first
    // value names, so that the runner comes to refuse it instead of skipping it.
    SrpRecordKind ParseRecordFields(int length, const CalMessageCatalog& catalog);

    // Converts the data items after each "Data=" of recordLine into recordData. Returns the
    // number n of items found; at most DATA_SIZE of them are stored.
    int ParseRecordData(int length);

    // Build the request of the current record into `frame` (cleared first; body from offset
    // 3, as LinkSession::SendFrame expects) and set `txLength` = 3 + body length. `dataCount`
    // is ParseRecordData's result. When the record is refused, `frame` is left cleared,
    // `txLength` is 0 and the reason is returned.
    //   database write:  id, dbId, segment, offset, bytes, writeThru, data (txLength 12 + n)
    //   FFS SIDB write:  id, sidbType, sidbId, sidbLen, offset, data        (txLength 13 + n)
    [[nodiscard]] SrpRefusal BuildDbWriteRequest(int dataCount, Frame& frame, int& txLength) const;
    [[nodiscard]] SrpRefusal BuildSidbWriteRequest(int dataCount, Frame& frame,
                                                   int& txLength) const;
    // The builder of `kind`; SrpRefusal::NoRequest for SRP_NONE.
    [[nodiscard]] SrpRefusal BuildRecordRequest(SrpRecordKind kind, int dataCount, Frame& frame,
                                                int& txLength) const;

    // The three reading steps for record `index`. `refusal` is TooManyRecords for an index
    // past the table (the kind is then unknown and the record must not be skipped).
    struct Parsed {
        SrpRecordKind kind = SRP_NONE;
        int dataCount = 0;
        SrpRefusal refusal = SrpRefusal::None;
    };
    Parsed ReadRecord(int index, const CalMessageCatalog& catalog);

    // Reads every record of the text split last, in order, and builds the request of each
    // that `run` sends, as the run will: the first record that could not be sent and why, or
    // {recordsFound, SrpRefusal::None} when every one can. A record beyond MAX_RECORDS is
    // refused whatever its kind. `message` is left as it was, so that a run played after the
    // check builds exactly the requests that were checked.
    struct Check {
        int index = 0;
        SrpRefusal refusal = SrpRefusal::None;
    };
    [[nodiscard]] Check CheckRecords(SrpRun run, const CalMessageCatalog& catalog);

    // A status text naming record `index` (counted from 1 in the text, with its text line)
    // and why it is refused.
    [[nodiscard]] std::string RefusalText(SrpRefusal refusal, int index) const;

    std::array<SrpRecord, MAX_RECORDS> recordTable{};
    int recordCount = 0;   // records in recordTable
    int recordsFound = 0;  // records in the text, recordCount or more
    std::array<std::uint8_t, LINE_SIZE> recordLine{};
    std::array<std::uint8_t, DATA_SIZE> recordData{};
    SrpMessage message;

private:
    SrpRefusal CheckRecord(int dataCount) const;
    std::span<const std::uint8_t> Data(int dataCount) const {
        return std::span<const std::uint8_t>(recordData.data(), static_cast<std::size_t>(dataCount));
    }
    static bool FillFrame(Frame& frame, int& txLength, int bodyLength);

    const std::uint8_t* text_ = nullptr;
    std::size_t textLength_ = 0;
    std::size_t firstUnlistedStart_ = 0;  // where record MAX_RECORDS + 1 starts, if found
    bool lineCut_ = false;                // the current record did not fit recordLine
};

// How many of the records of `text` that a run reads (the first MAX_RECORDS) are of `kind`:
// a script counts the database writes it will skip, so that the operator hears of them.
[[nodiscard]] int CountRecordsOfKind(std::string_view text, SrpRecordKind kind);

}  // namespace zolt
