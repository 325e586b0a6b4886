// Fuzzes the calibration text reader with arbitrary bytes, against a catalogue parsed from the
// same bytes. Every record is read and built into both request kinds, and each result must
// stay within its buffer; a text that CheckRecords accepts for a run is then played as that
// run plays it, and every request the run sends must fit a frame: a body of at most 796 bytes
// whose escaped frame is at most 800.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cal/cal_catalog.h"
#include "cal/srp_reader.h"
#include "fuzz_input.h"
#include "link/ets_frame.h"

namespace {

using namespace zolt;
using fuzz::Require;

constexpr int MAX_BODY = EtsFrame::BUFFER_SIZE - 4;

bool SameValues(const SrpMessage& a, const SrpMessage& b) {
    return a.messageId == b.messageId && a.dbId == b.dbId && a.segment == b.segment &&
           a.offset == b.offset && a.bytes == b.bytes && a.writeThru == b.writeThru &&
           a.sidbType == b.sidbType && a.sidbId == b.sidbId && a.sidbLen == b.sidbLen &&
           a.fieldText == b.fieldText;
}

void CheckEveryRecord(SrpReader& reader, const CalMessageCatalog& catalog, std::size_t size,
                      SrpReader::Frame& frame) {
    for (int r = 0; r < reader.recordsFound; ++r) {
        const SrpReader::Parsed parsed = reader.ReadRecord(r, catalog);
        if (r < reader.recordCount) {
            const SrpRecord& record = reader.recordTable[static_cast<std::size_t>(r)];
            Require(record.start < record.end && record.end <= size);
        }
        for (SrpRecordKind kind : {SRP_DB_WRITE, SRP_SIDB_WRITE}) {
            int txLength = -1;
            const SrpRefusal refusal = reader.BuildRecordRequest(kind, parsed.dataCount, frame, txLength);
            if (refusal == SrpRefusal::None) {
                Require(parsed.dataCount >= 0 && parsed.dataCount <= SrpReader::DATA_SIZE);
                Require(txLength == (kind == SRP_DB_WRITE ? 12 : 13) + parsed.dataCount);
                Require(txLength < static_cast<int>(frame.size()));
            } else {
                Require(txLength == 0);
            }
        }
        (void)reader.RefusalText(SrpRefusal::LineTooLong, r);
        (void)SidbStatusLine(reader.message);
    }
}

// Plays the text as `run` would after CheckRecords accepted it.
void PlayAccepted(SrpReader& reader, SrpRun run, const CalMessageCatalog& catalog,
                  SrpReader::Frame& frame) {
    for (int r = 0; r < reader.recordsFound; ++r) {
        const SrpReader::Parsed parsed = reader.ReadRecord(r, catalog);
        Require(parsed.refusal == SrpRefusal::None);
        if (!RunSends(run, parsed.kind)) continue;
        int txLength = 0;
        Require(reader.BuildRecordRequest(parsed.kind, parsed.dataCount, frame, txLength) == SrpRefusal::None);
        const int body = txLength - 3;
        Require(body > 0 && body <= MAX_BODY);
        const auto wire = EncodeFrame(std::span<const std::uint8_t>(frame).subspan(3, static_cast<std::size_t>(body)));
        Require(wire.size() <= static_cast<std::size_t>(EtsFrame::BUFFER_SIZE));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CalMessageCatalog catalog;
    static SrpReader reader;  // reused, as a line reuses its reader from run to run
    static SrpReader::Frame frame{};

    catalog.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    Require(SrpReader::CountEtsMarks(data, size) >= 0);
    const int found = reader.SplitRecords(data, size);
    Require(found == reader.recordsFound && reader.recordCount <= SrpReader::MAX_RECORDS);
    Require(reader.recordCount == std::min(found, SrpReader::MAX_RECORDS));
    CheckEveryRecord(reader, catalog, size, frame);

    for (SrpRun run : {SrpRun::Restore, SrpRun::Script}) {
        const SrpMessage before = reader.message;
        const SrpReader::Check check = reader.CheckRecords(run, catalog);
        Require(SameValues(before, reader.message));
        if (check.refusal != SrpRefusal::None) {
            Require(check.index >= 0 && check.index < found);
            continue;
        }
        Require(check.index == found);
        PlayAccepted(reader, run, catalog, frame);
        reader.message = before;
    }
    return 0;
}
