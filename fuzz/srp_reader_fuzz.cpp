// Fuzzes the calibration text reader and the page catalogue with arbitrary bytes: every
// record is copied, parsed and built into both request kinds, and every result must stay
// within its buffer. The catalogue parses the same bytes and serves the reader's lookups.
//
// Not part of the main build. Build and run from the repository root:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     fuzz/srp_reader_fuzz.cpp cal/srp_reader.cpp cal/cal_catalog.cpp job/ini_file.cpp \
//     job/input_file_posix.cpp job/file_error.cpp -o /tmp/srp_reader_fuzz
//   /tmp/srp_reader_fuzz -max_total_time=60 -max_len=20000 fuzz/corpus/srp_reader
// (that last argument grows the seed corpus in place; name a scratch copy to keep it clean)
// or configure fuzz/ on its own: cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cal/cal_catalog.h"
#include "cal/srp_reader.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zolt;
    static CalMessageCatalog catalog;
    static SrpReader reader;  // reused, as a line reuses its reader from run to run
    static SrpReader::Frame frame{};

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    catalog.LoadFromText(text);
    Require(catalog.pageCount >= 0 && catalog.pageCount <= CalMessageCatalog::SLOT_COUNT);
    Require(catalog.sectionCount <= CalMessageCatalog::SLOT_COUNT);
    for (const CalMessageEntry& entry : catalog.entries) {
        Require(entry.msgString.size() <= CalMessageCatalog::MSG_STRING_LIMIT);
    }

    Require(SrpReader::CountEtsMarks(data, size) >= 0);
    const int found = reader.SplitRecords(data, size);
    Require(found >= reader.recordCount && reader.recordCount <= SrpReader::MAX_RECORDS);
    for (int r = 0; r < found; ++r) {
        const SrpReader::Parsed parsed = reader.ReadRecord(r, catalog);
        if (r < reader.recordCount) {
            const SrpRecord& record = reader.recordTable[static_cast<std::size_t>(r)];
            Require(record.start < record.end && record.end <= size);
        }
        for (SrpRecordKind kind : {SRP_DB_WRITE, SRP_SIDB_WRITE}) {
            int txLength = -1;
            const SrpRefusal refusal =
                reader.BuildRecordRequest(kind, parsed.dataCount, frame, txLength);
            if (refusal == SrpRefusal::None) {
                Require(parsed.dataCount <= SrpReader::DATA_SIZE);
                Require(txLength == (kind == SRP_DB_WRITE ? 12 : 13) + parsed.dataCount);
                Require(txLength < static_cast<int>(frame.size()));
            } else {
                Require(txLength == 0);
            }
        }
        (void)reader.RefusalText(SrpRefusal::LineTooLong, r);
        (void)SidbStatusLine(reader.message);
    }
    return 0;
}
