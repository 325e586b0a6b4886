// The SQLite history: one file in the work folder that every zolt of the station writes, each
// entry in one transaction of its own, so that several processes in one folder lose none
// (write-ahead log, a busy time-out, BEGIN IMMEDIATE). The schema is docs/history.md's; a
// table zolt_meta tells a ZOLT history from any other database and holds its schema version.
#pragma once

#include "history/history_store.h"
#include "history/sqlite_db.h"

namespace zolt {

// zolt_meta's "application" of a ZOLT history.
inline constexpr const char* HISTORY_APPLICATION = "zolt-history";

// The schema version of the open database: 0 for an empty one, -1 for a database that is not
// a ZOLT history (other tables, another application). Throws HistoryError, "... is not a ZOLT
// history" for a file that is no SQLite database at all.
[[nodiscard]] int SqliteSchemaVersion(sqlite::Connection& db);

// Brings the schema from `version` (SqliteSchemaVersion) to HISTORY_SCHEMA_VERSION one step at
// a time, inside the caller's write transaction. Throws HistoryError.
void MigrateSqliteHistory(sqlite::Connection& db, int version);

}  // namespace zolt
