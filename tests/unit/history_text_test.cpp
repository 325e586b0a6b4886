// How `zolt history` reads and writes times and lays out its table and CSV: a --since that
// does not name a real moment is refused, UTC is exact to the millisecond, a table fits the
// terminal, and a CSV field with a comma, quote or line break stays one field.
#include <gtest/gtest.h>

#include "cli/history_output.h"
#include "history/time_text.h"
#include "support/history_entries.h"

namespace zolt {
namespace {

TEST(HistoryTime, UtcTextsAreReadAndWrittenToTheMillisecond) {
    struct Case {
        std::int64_t ms;
        const char* text;
    };
    for (const Case& c : {Case{0, "1970-01-01T00:00:00.000Z"}, Case{1'796'797'801'250LL, "2026-12-09T06:30:01.250Z"},
                          Case{951'782'400'000LL, "2000-02-29T00:00:00.000Z"}, Case{-1, "1969-12-31T23:59:59.999Z"}}) {
        EXPECT_EQ(UtcTimeText(c.ms), c.text);
        EXPECT_EQ(ParseTimeText(c.text), c.ms) << c.text;
    }
    EXPECT_EQ(ParseTimeText("2026-12-09T06:30Z"), 1'796'797'800'000LL);
}

TEST(HistoryTime, LocalTimesRoundTripAndNonsenseIsRefused) {
    const auto midnight = ParseTimeText("2026-12-09"), later = ParseTimeText("2026-12-09 00:30:01");
    ASSERT_TRUE(midnight && later);
    EXPECT_EQ(*later - *midnight, 1'801'000);
    EXPECT_EQ(ParseTimeText("2026-12-09T00:30:01"), later);
    EXPECT_EQ(ParseTimeText("2026-12-09 00:30"), *later - 1000);
    EXPECT_EQ(LocalTimeText(*later + 999), "2026-12-09 00:30:01");
    for (const char* bad : {"", "yesterday", "2026-13-01", "2026-02-29", "2026-12-9", "2026-12-09 24:00",
                            "2026-12-09 10:60", "2026-12-09 10", "2026-12-09T10:00:00+01:00", "2026-12-09Z",
                            "2026-12-09 10:00:00 ", "2026-12-09T10:00:00.5Z"}) {
        EXPECT_FALSE(ParseTimeText(bad)) << bad;
    }
}

TEST(HistoryOutput, TheTableFitsTheTerminalAndKeepsEveryEntry) {
    std::vector<HistoryEntry> entries = {test::SampleEntry(1), test::SampleEntry(3)};
    entries[1].line.status = std::string(200, 's');
    for (int columns : {0, 80, 100}) {
        const std::string table = cli::FormatHistoryTable(entries, columns);
        std::size_t lines = 0, widest = 0;
        for (std::size_t at = 0, end; (end = table.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
            widest = std::max(widest, end - at);
        }
        EXPECT_EQ(lines, 3U) << table;  // a line break in a status is no row of its own
        if (columns) {
            EXPECT_LE(widest, static_cast<std::size_t>(columns)) << table;
        } else {
            EXPECT_NE(table.find(entries[1].line.status), std::string::npos);
        }
    }
}

TEST(HistoryOutput, CsvQuotesFieldsThatWouldSplitARow) {
    const std::string csv = cli::FormatHistoryCsv({test::SampleEntry(3, true)});
    EXPECT_EQ(csv.rfind("id,uid,station,line,port,", 0), 0U);
    EXPECT_NE(csv.find(",\"C:\\roms\\\"\"new\"\", v3.bin\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"No answer, line\n2\","), std::string::npos) << csv;
    EXPECT_NE(csv.find(",Backup Cal-Data: Done; Update Boot: Fail; Restore Cal-Data: Wait,"), std::string::npos);
}

}  // namespace
}  // namespace zolt
