// The SQLite the history is built on: Debian's library natively, the amalgamation compiled into
// the Windows programs. Either must be usable from the recorder's thread and answer SQL.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

namespace zolt {
namespace {

TEST(HistorySqlite, IsThreadSafeAndAnswersAQuery) {
    EXPECT_NE(sqlite3_threadsafe(), 0) << "the recorder writes from a thread of its own";
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    ASSERT_EQ(sqlite3_exec(db.get(), "CREATE TABLE t(x INTEGER); INSERT INTO t VALUES (20), (22);", nullptr,
                           nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db.get());
    sqlite3_stmt* rawStatement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.get(), "SELECT sum(x) FROM t", -1, &rawStatement, nullptr), SQLITE_OK);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(rawStatement, sqlite3_finalize);
    ASSERT_EQ(sqlite3_step(statement.get()), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement.get(), 0), 42);
}

}  // namespace
}  // namespace zolt
