// Fuzzes the page catalogue with arbitrary catalogue files. The backup never reads more pages
// than there are slots, every name fits its buffer, and a load depends on nothing but the
// text: a catalogue loaded over another one equals one loaded fresh.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "cal/cal_catalog.h"
#include "fuzz_input.h"

namespace {

using zolt::CalMessageCatalog;
using zolt::CalMessageEntry;
using zolt::fuzz::Require;

bool Same(const CalMessageEntry& a, const CalMessageEntry& b) {
    return a.etsId == b.etsId && a.dbId == b.dbId && a.segment == b.segment &&
           a.offset == b.offset && a.bytes == b.bytes && a.msgString == b.msgString &&
           a.kindName == b.kindName && a.dbName == b.dbName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Kept from input to input, as a line keeps its catalogue from load to load.
    static CalMessageCatalog reused;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    reused.LoadFromText(text);
    const auto fresh = std::make_unique<CalMessageCatalog>();
    fresh->LoadFromText(text);

    Require(reused.pageCount >= 0 && reused.pageCount <= CalMessageCatalog::SLOT_COUNT);
    Require(reused.sectionCount >= 0 && reused.sectionCount <= CalMessageCatalog::SLOT_COUNT);
    Require(reused.pageCount == fresh->pageCount && reused.sectionCount == fresh->sectionCount);
    for (std::size_t i = 0; i < reused.entries.size(); ++i) {
        const CalMessageEntry& entry = reused.entries[i];
        Require(Same(entry, fresh->entries[i]));
        Require(entry.msgString.size() <= CalMessageCatalog::MSG_STRING_LIMIT);
        Require(entry.kindName.size() <= CalMessageCatalog::MSG_STRING_LIMIT);
        Require(entry.dbName.size() <= CalMessageCatalog::MSG_STRING_LIMIT);
        // Slots past the loaded ones stay empty: a backup must not read a page of an older file.
        if (static_cast<int>(i) >= reused.sectionCount) Require(Same(entry, CalMessageEntry{}));
    }
    return 0;
}
