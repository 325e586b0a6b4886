#include <string>

#include "history/sqlite_store.h"

namespace zolt {

namespace {

// Version 1, as docs/history.md writes it for every store; only the id's type and the blob's
// name differ in PostgreSQL.
const char* const SCHEMA_1 = R"(
CREATE TABLE zolt_meta (
    name            TEXT PRIMARY KEY,
    value           TEXT NOT NULL
);
CREATE TABLE entries (
    id              INTEGER PRIMARY KEY,
    uid             TEXT NOT NULL UNIQUE,
    station         TEXT NOT NULL,
    line            INTEGER NOT NULL,
    port            TEXT NOT NULL,
    device          TEXT NOT NULL,
    usb_serial      TEXT NOT NULL,
    started_ms      BIGINT NOT NULL,
    ended_ms        BIGINT NOT NULL,
    image_name      TEXT NOT NULL,
    image_size      BIGINT NOT NULL,
    image_sha256    TEXT NOT NULL,
    boot_version    TEXT NOT NULL,
    cp_version      TEXT NOT NULL,
    update_choice   TEXT NOT NULL,
    status          TEXT NOT NULL,
    outcome         TEXT NOT NULL,
    backup_sha256   TEXT,
    backup_text     BLOB,
    backup_setting  INTEGER,
    backup_file     TEXT
);
CREATE TABLE tasks (
    entry_id        INTEGER NOT NULL REFERENCES entries (id),
    position        INTEGER NOT NULL,
    name            TEXT NOT NULL,
    outcome         TEXT NOT NULL,
    status          TEXT NOT NULL,
    PRIMARY KEY (entry_id, position)
);
CREATE INDEX entries_started ON entries (started_ms);
CREATE INDEX entries_station ON entries (station, started_ms);
INSERT INTO zolt_meta (name, value) VALUES ('application', 'zolt-history');
INSERT INTO zolt_meta (name, value) VALUES ('schema_version', '1');
)";

// STEPS[n] brings version n to n + 1 and sets zolt_meta's schema_version to n + 1. A new
// version adds a step here and never changes an old one: files of every age meet on the way.
const char* const STEPS[HISTORY_SCHEMA_VERSION] = {SCHEMA_1};

bool HasTable(sqlite::Connection& db, const char* name) {
    sqlite::Statement query(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1");
    query.Bind(1, std::string(name)).Step();
    return query.Int(0) > 0;
}

std::string MetaValue(sqlite::Connection& db, const char* name) {
    sqlite::Statement query(db, "SELECT value FROM zolt_meta WHERE name = ?1");
    return query.Bind(1, std::string(name)).Step() ? query.Text(0) : std::string();
}

}  // namespace

int SqliteSchemaVersion(sqlite::Connection& db) {
    sqlite::Statement count(db, "SELECT count(*) FROM sqlite_master");
    count.Step();
    if (count.Int(0) == 0) return 0;
    if (!HasTable(db, "zolt_meta") || MetaValue(db, "application") != HISTORY_APPLICATION) return -1;
    const std::string version = MetaValue(db, "schema_version");
    if (version.empty() || version.size() > 6 || version.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stoi(version);
}

void MigrateSqliteHistory(sqlite::Connection& db, int version) {
    for (; version < HISTORY_SCHEMA_VERSION; ++version) db.Exec(STEPS[version]);
}

}  // namespace zolt
