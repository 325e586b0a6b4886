// The SQLite history keeps every field of an entry, finds what a filter asks for, stores an
// entry forwarded twice once, refuses files that are not its own without changing them, and
// the recorder writes every entry it was given, even when the store failed for a while.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <set>

#include "history/history_recorder.h"
#include "support/history_entries.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using test::SampleEntry;

void ExpectSameEntry(const HistoryEntry& got, const HistoryEntry& want, bool withText) {
    const LineRecord &g = got.line, &w = want.line;
    EXPECT_EQ(got.uid, want.uid);
    EXPECT_EQ(got.station, want.station);
    EXPECT_EQ(std::tie(g.line, g.port, g.device, g.usbSerial, g.startedMs, g.endedMs),
              std::tie(w.line, w.port, w.device, w.usbSerial, w.startedMs, w.endedMs));
    EXPECT_EQ(std::tie(g.imageName, g.imageSize, g.imageSha256, g.bootVersion, g.cpVersion, g.update),
              std::tie(w.imageName, w.imageSize, w.imageSha256, w.bootVersion, w.cpVersion, w.update));
    EXPECT_EQ(std::tie(g.status, g.outcome), std::tie(w.status, w.outcome));
    ASSERT_EQ(g.tasks.size(), w.tasks.size());
    for (std::size_t k = 0; k < g.tasks.size(); ++k) {
        EXPECT_EQ(std::tie(g.tasks[k].name, g.tasks[k].outcome, g.tasks[k].status),
                  std::tie(w.tasks[k].name, w.tasks[k].outcome, w.tasks[k].status));
    }
    EXPECT_EQ(std::tie(g.backup.taken, g.backup.sha256, g.backup.setting, g.backup.file),
              std::tie(w.backup.taken, w.backup.sha256, w.backup.setting, w.backup.file));
    EXPECT_EQ(g.backup.text, withText ? w.backup.text : "");
}

// Runs one statement on the file behind the store's back.
void Poke(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

struct HistorySqlite : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.File(HISTORY_FILE_NAME);
};

TEST_F(HistorySqlite, EveryFieldOfAnEntryComesBackAfterReopening) {
    const std::vector<HistoryEntry> entries = {SampleEntry(1, true), SampleEntry(2), SampleEntry(3, true)};
    std::vector<std::int64_t> ids;
    {
        auto store = OpenSqliteHistory(path, true);
        for (const HistoryEntry& e : entries) ids.push_back(store->Append(e));
    }
    auto store = OpenHistoryForReading(path);
    const std::vector<HistoryEntry> all = store->Query({});
    ASSERT_EQ(all.size(), entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        EXPECT_EQ(all[k].id, ids[k]);
        ExpectSameEntry(all[k], entries[k], false);  // a query leaves the backups' texts behind
        const auto found = store->Find(ids[k]);
        ASSERT_TRUE(found);
        ExpectSameEntry(*found, entries[k], true);
    }
    EXPECT_FALSE(store->Find(ids.back() + 1));
    EXPECT_EQ(store->Where(), path);
}

TEST_F(HistorySqlite, FiltersSelectByOutcomeLineStationAndTime) {
    auto store = OpenSqliteHistory(path, true);
    // Appended newest first: a query returns them oldest first all the same.
    for (int n = 12; n >= 1; --n) (void)store->Append(SampleEntry(n));
    auto numbers = [&](const HistoryFilter& filter) {
        std::vector<int> found;
        for (const HistoryEntry& e : store->Query(filter)) found.push_back(std::stoi(e.uid.substr(e.uid.find("ab") + 2)));
        return found;
    };
    HistoryFilter failed, line2, stationB, since, all4;
    failed.failedOnly = true;
    line2.line = 2;
    stationB.station = "bench-B";
    since.sinceMs = SampleEntry(10).line.startedMs;
    all4 = failed;
    all4.line = 1;
    all4.station = "bench-B";
    all4.sinceMs = 0;
    EXPECT_EQ(numbers({}), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(numbers(failed), (std::vector<int>{3, 6, 9, 12}));
    EXPECT_EQ(numbers(line2), (std::vector<int>{2, 10}));
    EXPECT_EQ(numbers(stationB), (std::vector<int>{2, 4, 6, 8, 10, 12}));
    EXPECT_EQ(numbers(since), (std::vector<int>{10, 11, 12}));
    EXPECT_EQ(numbers(all4), (std::vector<int>{}));
    all4.line = 4;
    EXPECT_EQ(numbers(all4), (std::vector<int>{12}));
}

TEST_F(HistorySqlite, AnEntryForwardedTwiceIsStoredOnce) {
    auto store = OpenSqliteHistory(path, true);
    const std::int64_t first = store->Append(SampleEntry(1, true));
    HistoryEntry again = SampleEntry(1, true);
    again.line.status = "changed on the way";
    EXPECT_EQ(store->Append(again), first);
    EXPECT_NE(store->Append(SampleEntry(2)), first);
    const auto all = store->Query({});
    ASSERT_EQ(all.size(), 2U);
    ExpectSameEntry(all[0], SampleEntry(1, true), false);
    HistoryEntry noUid = SampleEntry(3);
    noUid.uid.clear();
    EXPECT_THROW((void)store->Append(noUid), HistoryError);
}

TEST_F(HistorySqlite, FilesThatAreNotAHistoryOfThisZoltAreRefusedUntouched) {
    struct Case {
        const char* name;
        const char* sql;      // run on a fresh history, or on a new database when not a history
        const char* content;  // the file's bytes when no SQL makes it
        std::string error;
        bool readOnly = false;  // refused only for reading
    };
    const Case cases[] = {
        {"a text file", nullptr, "line=1\nport=COM3\n", "is not a ZOLT history"},
        {"a text file the size of a page", nullptr, nullptr, "is not a ZOLT history"},
        {"another program's database", "CREATE TABLE entries (id INTEGER)", nullptr, "is not a ZOLT history"},
        {"a newer schema", "UPDATE zolt_meta SET value = '3' WHERE name = 'schema_version'", nullptr,
         "was written by a newer ZOLT (schema 3; this one knows 1)"},
        {"another application's meta table", "UPDATE zolt_meta SET value = 'x' WHERE name = 'application'", nullptr,
         "is not a ZOLT history"},
        {"an empty file", nullptr, "", "is not a ZOLT history", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        const bool history = c.sql && std::string(c.sql).rfind("CREATE", 0) != 0;
        if (history) (void)OpenSqliteHistory(path, true);
        if (c.sql) {
            Poke(path, c.sql);
        } else {
            (void)dir.Write(HISTORY_FILE_NAME, c.content ? std::string(c.content) : std::string(4096, 'x'));
        }
        const std::string before = test::ReadFile(path);
        for (bool create : {true, false}) {
            if (create && c.readOnly) continue;
            try {
                (void)OpenSqliteHistory(path, create);
                ADD_FAILURE() << "opened for " << (create ? "writing" : "reading");
            } catch (const HistoryError& e) {
                EXPECT_EQ(std::string(e.what()), path + " " + c.error);
            }
        }
        EXPECT_EQ(test::ReadFile(path), before);
    }
}

TEST_F(HistorySqlite, APathInAMissingFolderOrAMissingFileToReadIsRefused) {
    const std::string nowhere = dir.File("missing") + "/" + HISTORY_FILE_NAME;
    for (bool create : {true, false}) {
        EXPECT_THROW((void)OpenSqliteHistory(nowhere, create), HistoryError);
    }
    try {
        (void)OpenHistoryForReading(path);
        ADD_FAILURE();
    } catch (const HistoryError& e) {
        EXPECT_EQ(std::string(e.what()), path + " was not found");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    auto written = OpenHistoryForWriting("", dir.path().string(), {});
    EXPECT_EQ(written->Where(), path);
}

// Fails its first `failures` appends, then stores in memory.
class FlakyStore final : public HistoryStore {
public:
    explicit FlakyStore(int failures) : failures_(failures) {}
    std::int64_t Append(const HistoryEntry& entry) override {
        if (failures_-- > 0) throw HistoryError("the disk is full");
        std::lock_guard lock(mutex_);
        entries_.push_back(entry);
        return static_cast<std::int64_t>(entries_.size());
    }
    std::vector<HistoryEntry> Query(const HistoryFilter&) override {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    std::optional<HistoryEntry> Find(std::int64_t) override { return std::nullopt; }
    std::string Where() const override { return "flaky"; }

private:
    std::atomic<int> failures_;
    std::mutex mutex_;
    std::vector<HistoryEntry> entries_;
};

TEST(HistoryRecorder, WritesEveryEntryWithAFreshUidAndDrainsWhenDestroyed) {
    test::TempDir dir;
    const std::string path = dir.File(HISTORY_FILE_NAME);
    {
        HistoryRecorder recorder(OpenSqliteHistory(path, true), "bench-C", {});
        for (int n = 1; n <= 40; ++n) recorder.Record(SampleEntry(n).line);
    }
    const auto all = OpenSqliteHistory(path, false)->Query({});
    ASSERT_EQ(all.size(), 40U);
    std::set<std::string> uids;
    for (const HistoryEntry& e : all) {
        EXPECT_EQ(e.station, "bench-C");
        EXPECT_EQ(e.uid.size(), 32U);
        EXPECT_EQ(e.uid.find_first_not_of("0123456789abcdef"), std::string::npos) << e.uid;
        uids.insert(e.uid);
    }
    EXPECT_EQ(uids.size(), 40U);
}

TEST(HistoryRecorder, AFailingStoreIsToldOnceAndItsEntriesAreTriedAgain) {
    auto flaky = std::make_unique<FlakyStore>(1);
    FlakyStore& store = *flaky;
    std::vector<std::string> notices;
    std::mutex noticeMutex;
    {
        HistoryRecorder recorder(std::move(flaky), "bench", [&](const std::string& text) {
            std::lock_guard lock(noticeMutex);
            notices.push_back(text);
        });
        recorder.Record(SampleEntry(1).line);
        recorder.Flush();  // returns once the write failed
        recorder.Record(SampleEntry(2).line);  // a new entry tries the waiting one again at once
        recorder.Flush();
        EXPECT_EQ(store.Query({}).size(), 2U);
    }
    ASSERT_EQ(notices.size(), 2U);
    EXPECT_EQ(notices[0], "History: the disk is full. Its entries wait and are tried again.");
    EXPECT_EQ(notices[1], "History: written to flaky again.");
}

TEST(HistoryRecorder, ClosingOnAStoreThatKeepsFailingTellsWhatWasLost) {
    std::vector<std::string> notices;
    {
        HistoryRecorder recorder(std::make_unique<FlakyStore>(1000), "bench",
                                 [&](const std::string& text) { notices.push_back(text); });
        for (int n = 1; n <= 3; ++n) recorder.Record(SampleEntry(n).line);
    }
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), "History: 3 entries were not written: the disk is full");
}

}  // namespace
}  // namespace zolt
