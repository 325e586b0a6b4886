// The history of every phone: one entry per phone per job, kept in a store that outlives the
// program. Stores: a SQLite file (the default, "zolt-history.sqlite" in the work folder) and a
// PostgreSQL server shared by many stations ("postgresql://..." or "postgres://..."), behind
// which entries wait in a local SQLite spool while the server cannot be reached.
//
// Every store holds the same schema (docs/history.md), versioned: a store of an older version
// is brought up to date when opened for writing; one of a newer version is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "job/line_record.h"

namespace zolt {

inline constexpr int HISTORY_SCHEMA_VERSION = 1;
inline constexpr const char* HISTORY_FILE_NAME = "zolt-history.sqlite";

struct HistoryEntry {
    std::int64_t id = 0;  // given by the store; 0 before it is stored
    std::string uid;      // 32 hexadecimal digits made by the station: the same entry forwarded
                          // twice (from a spool) is stored once
    std::string station;  // the host name, or --station NAME
    LineRecord line;
};

// Which entries a query returns; all of them by default, oldest first.
struct HistoryFilter {
    bool failedOnly = false;  // outcome "failed" (or "stopped")
    std::optional<int> line;
    std::optional<std::string> station;
    std::optional<std::int64_t> sinceMs;  // started at or after
};

// A store that cannot be opened, read or written; what() is the operator's text, naming the
// store ("zolt-history.sqlite is not a ZOLT history", "... was written by a newer ZOLT (schema
// 3; this one knows 1)").
class HistoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HistoryStore {
public:
    virtual ~HistoryStore() = default;
    // Stores one entry, with its tasks, in one transaction; returns its id. An entry whose uid
    // is stored already is not stored again: the id of the stored one is returned. Throws
    // HistoryError (also for an entry without a uid).
    virtual std::int64_t Append(const HistoryEntry& entry) = 0;
    // The entries the filter selects, oldest first (by start, then id), each with its tasks;
    // the backups' texts are left empty, so that a long history is not read whole into memory
    // (Find gives one). Throws HistoryError.
    [[nodiscard]] virtual std::vector<HistoryEntry> Query(const HistoryFilter& filter) = 0;
    // The entry with this id, the backup's text included; nothing when there is none. Throws
    // HistoryError.
    [[nodiscard]] virtual std::optional<HistoryEntry> Find(std::int64_t id) = 0;
    // Where the store is, for messages.
    [[nodiscard]] virtual std::string Where() const = 0;
    // Deletes the entry with `uid`, tasks and all; false when there is none. A spool needs it
    // (an entry leaves it once the server has it); a store that keeps everything throws
    // HistoryError.
    virtual bool Remove(const std::string& uid) {
        throw HistoryError(Where() + " keeps every entry; " + uid + " cannot be removed");
    }
};

// Whether `where` names a PostgreSQL server rather than a SQLite file.
[[nodiscard]] bool IsPostgresUrl(const std::string& where);

// Opens (`create`: creates when missing, and brings an older schema up to date) the SQLite
// history at `path`. Throws HistoryError: its folder does not exist, it is not a ZOLT
// history, its schema is newer.
[[nodiscard]] std::unique_ptr<HistoryStore> OpenSqliteHistory(const std::string& path, bool create);

// Connects to the PostgreSQL server at `url` (libpq's URI form) and creates the schema on
// first use. Throws HistoryError: the URL does not parse, the server cannot be reached, the
// schema is newer, or this build has no PostgreSQL client.
[[nodiscard]] std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& url);

// Checks `url` without connecting: nothing when it parses, else the reason.
[[nodiscard]] std::optional<std::string> PostgresUrlProblem(const std::string& url);

// A store for a station that writes into the server at `url` and never waits for it: an entry
// that cannot be written there goes into the SQLite spool at `spoolPath` and is forwarded,
// oldest first, once the server answers again (tried at each Append and by Forward()).
// `notice` is told, once per outage, that entries are spooled, and once that they were
// forwarded. Query and Find read the server.
[[nodiscard]] std::unique_ptr<HistoryStore> OpenSpooledPostgresHistory(const std::string& url,
                                                                       const std::string& spoolPath,
                                                                       std::function<void(const std::string&)> notice);

// Opens what `where` names for reading: a PostgreSQL URL or a SQLite file, which must exist.
[[nodiscard]] std::unique_ptr<HistoryStore> OpenHistoryForReading(const std::string& where);

}  // namespace zolt
