// The page catalogue: which slots a catalogue file fills and with what, its limits, the name
// lookups of the calibration text reader, and the report of a missing file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cal/cal_catalog.h"
#include "io/file_error.h"
#include "support/catalog_text.h"
#include "support/recording_prompt.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

const std::vector<test::CatalogPage> TWO_PAGES = {{"PageA", 1, 2, 0, 64}, {"PageB", 0, 5, 128, 32}};

CalMessageCatalog Load(std::string_view text) {
    CalMessageCatalog catalog;
    catalog.LoadFromText(text);
    return catalog;
}

TEST(CalMessageCatalog, FillsOneSlotPerHeaderInFileOrder) {
    const CalMessageCatalog c = Load(test::CatalogText(TWO_PAGES));
    EXPECT_EQ(c.sectionCount, 3);
    EXPECT_EQ(c.pageCount, 2);
    const CalMessageEntry& a = c.entries[0];
    EXPECT_EQ(a.etsId, 17);
    EXPECT_EQ(a.dbId, 1);
    EXPECT_EQ(a.dbName, "RF Write");
    EXPECT_EQ(a.kindName, "CP DB Write");
    EXPECT_EQ(a.msgString, "PageA");
    EXPECT_EQ(a.segment, 2);
    EXPECT_EQ(a.bytes, 64);
    const CalMessageEntry& b = c.entries[1];
    EXPECT_EQ(b.dbName, "CP Write");
    EXPECT_EQ(b.offset, 128);
    // The count section takes a slot of its own, with the defaults.
    EXPECT_EQ(c.entries[2].msgString, "Msgstring");
    EXPECT_EQ(c.entries[2].dbName, "CP Write");
    EXPECT_EQ(c.entries[2].bytes, 0);
    EXPECT_EQ(c.entries[3].msgString, "");
    EXPECT_EQ(c.entries[3].kindName, "");
}

TEST(CalMessageCatalog, CountComesOnlyFromTheExactlyNamedSectionAndStaysWithinTheSlots) {
    EXPECT_EQ(Load("[PageA]\nBytes=4\n").pageCount, 0);
    EXPECT_EQ(Load("[maxpageconut]\nCount=2\n").pageCount, 0);
    EXPECT_EQ(Load("[MAXPAGECONUT]\nCount=500\n").pageCount, CalMessageCatalog::SLOT_COUNT);
    EXPECT_EQ(Load("[MAXPAGECONUT]\nCount=-3\n").pageCount, 0);
    EXPECT_EQ(Load("[MAXPAGECONUT]\nCount=two\n").pageCount, 0);

    // Standing first, the count section is slot 0, which a backup then reads as a page.
    const CalMessageCatalog first = Load("[MAXPAGECONUT]\nCount=2\n[PageA]\nMsgstring=PageA\n");
    EXPECT_EQ(first.pageCount, 2);
    EXPECT_EQ(first.entries[0].msgString, "Msgstring");
    EXPECT_EQ(first.entries[0].etsId, 0);
    EXPECT_EQ(first.entries[1].msgString, "PageA");
}

TEST(CalMessageCatalog, KeepsTheLowBitsAndTheFirst49CharactersOfValues) {
    const CalMessageCatalog c = Load(
        "[P]\nETS, Id=70000\nDB Id=2\nSegment=300\nOffset=-1\nBytes=abc\nMsgstring=" +
        std::string(60, 'n') + "\n");
    const CalMessageEntry& e = c.entries[0];
    EXPECT_EQ(e.etsId, 70000 & 0xFFFF);
    EXPECT_EQ(e.dbId, 2);
    EXPECT_EQ(e.dbName, "");  // neither database
    EXPECT_EQ(e.segment, 44);
    EXPECT_EQ(e.offset, 0xFFFF);
    EXPECT_EQ(e.bytes, 0);
    EXPECT_EQ(e.msgString, std::string(49, 'n'));
}

TEST(CalMessageCatalog, EveryClosingBracketTakesASlotLookedUpByTheTextSinceTheLastOpening) {
    // Same-named sections both read the first; "a]b" closes a header of its own whose name
    // (from "[Two" up to that bracket) finds nothing.
    const CalMessageCatalog c = Load(
        "[One]\nSegment=3\nMsgstring=first\n"
        "[one]\nSegment=9\nMsgstring=second\n"
        "[Two]\nSegment=4\nMsgstring=a]b\n"
        "[Three]\nSegment=6\n");
    ASSERT_EQ(c.sectionCount, 5);
    EXPECT_EQ(c.entries[0].segment, 3);
    EXPECT_EQ(c.entries[1].segment, 3);
    EXPECT_EQ(c.entries[1].msgString, "first");
    EXPECT_EQ(c.entries[2].msgString, "a]b");
    EXPECT_EQ(c.entries[3].segment, 0);
    EXPECT_EQ(c.entries[3].msgString, "Msgstring");
    EXPECT_EQ(c.entries[4].segment, 6);

    // Brackets with no header line at all still take slots; none may overrun the table.
    EXPECT_EQ(Load("]]]").sectionCount, 3);
    std::string many;
    for (int i = 0; i < 150; ++i) many += "[S" + std::to_string(i) + "]\nSegment=" + std::to_string(i) + "\n";
    const CalMessageCatalog full = Load(many);
    EXPECT_EQ(full.sectionCount, CalMessageCatalog::SLOT_COUNT);
    EXPECT_EQ(full.entries[99].segment, 99);
}

TEST(CalMessageCatalog, ReadsOnlyTheFirst9216Bytes) {
    std::string text = "[PageA]\nSegment=1\n";
    text += std::string(CalMessageCatalog::FILE_LIMIT - text.size(), ';');
    const CalMessageCatalog c = Load(text + "\n[PageB]\nSegment=2\n");
    EXPECT_EQ(c.sectionCount, 1);
    EXPECT_EQ(c.entries[0].segment, 1);
}

TEST(CalMessageCatalog, SegmentLookupTakesTheFirstSlotOfAName) {
    const CalMessageCatalog c = Load(
        "[A]\nMsgstring=Same\nSegment=3\n[B]\nMsgstring=Same\nSegment=4\n[C]\nMsgstring=Other\nSegment=5\n");
    EXPECT_EQ(c.SegmentFromMsgString("Same"), 3);
    EXPECT_EQ(c.SegmentFromMsgString("Other"), 5);
    EXPECT_EQ(c.SegmentFromMsgString("other"), 0);
    EXPECT_EQ(c.SegmentFromMsgString("Missing"), 0);
}

TEST(CatalogLookups, NamesMatchExactlyAndNumbersReadAsSignedDecimal) {
    EXPECT_EQ(MessageIdFromName("CP DB Write"), 0x0130);
    EXPECT_EQ(MessageIdFromName("CP FFS SIDB WRITE"), 0x07A2);
    EXPECT_EQ(MessageIdFromName("CP FFS SIDB Write"), 0xFFFF);
    EXPECT_EQ(MessageIdFromName(" CP DB Write"), 0xFFFF);
    EXPECT_EQ(DbIdFromName("CP Write"), 0);
    EXPECT_EQ(DbIdFromName("RF Write"), 1);
    EXPECT_EQ(DbIdFromName("rf write"), 0xFF);
    EXPECT_EQ(DbIdFromName(""), 0xFF);

    EXPECT_EQ(ParseNumber(" 42"), 42);
    EXPECT_EQ(ParseNumber("\t\n+7"), 7);
    EXPECT_EQ(ParseNumber("-1"), 0xFFFF);
    EXPECT_EQ(ParseNumber("0x10"), 0);
    EXPECT_EQ(ParseNumber("12abc"), 12);
    EXPECT_EQ(ParseNumber("70000"), 70000 & 0xFFFF);
    EXPECT_EQ(ParseNumber("99999999999999999999"), 0xFFFF);  // 10^20 - 1, modulo 2^16
    EXPECT_EQ(ParseNumber(""), 0);
    EXPECT_EQ(ParseNumber("- 5"), 0);
}

TEST(CalMessageCatalog, LoadsFromTheWorkingDirectoryOrSaysWhyNot) {
    test::TempDir dir;
    test::RecordingPrompt prompt;
    const test::CurrentDirectoryGuard inDir(dir.path());

    const std::string path = (std::filesystem::current_path() / "calibration.ini").string();

    CalMessageCatalog c;
    c.LoadCatalog(prompt, {});
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].text,
              "Couldn't open file: " + FileErrorText(FileError::NotFound, path));
    EXPECT_EQ(prompt.messages()[0].icon, PromptIcon::None);

    // Something under the name that is not a file is refused, not read.
    std::filesystem::create_directory(path);
    c.LoadCatalog(prompt, {});
    ASSERT_EQ(prompt.messages().size(), 2u);
    EXPECT_EQ(prompt.messages()[1].text,
              "Couldn't open file: " + FileErrorText(FileError::AccessDenied, path));
    std::filesystem::remove(path);

    test::WriteCatalog(dir.path(), TWO_PAGES);
    c.LoadCatalog(prompt, {});
    EXPECT_EQ(prompt.messages().size(), 2u);
    EXPECT_EQ(c.pageCount, 2);
    EXPECT_EQ(c.entries[1].msgString, "PageB");

    // A failed load leaves nothing of an earlier one.
    std::string reason;
    EXPECT_FALSE(c.LoadFile(dir.File("missing.ini"), reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(c.pageCount, 0);
    EXPECT_EQ(c.sectionCount, 0);
    EXPECT_EQ(c.entries[0].msgString, "");
}

}  // namespace
}  // namespace zolt
