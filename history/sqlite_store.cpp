#include "history/sqlite_store.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "io/file_system.h"

namespace zolt {

namespace {

constexpr const char* SEPARATORS = std::filesystem::path::preferred_separator == '\\' ? "\\/" : "/";

const char* const INSERT_ENTRY =
    "INSERT INTO entries (uid, station, line, port, device, usb_serial, started_ms, ended_ms, image_name, "
    "image_size, image_sha256, boot_version, cp_version, update_choice, status, outcome, backup_sha256, "
    "backup_text, backup_setting, backup_file) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20) "
    "ON CONFLICT (uid) DO NOTHING";

// The columns that ReadEntry reads, in its order, but for the backup's text that follows them.
const std::string SELECT_ENTRY =
    "SELECT id, uid, station, line, port, device, usb_serial, started_ms, ended_ms, image_name, image_size, "
    "image_sha256, boot_version, cp_version, update_choice, status, outcome, backup_sha256, backup_setting, "
    "backup_file";

void BindEntry(sqlite::Statement& insert, const HistoryEntry& e) {
    const LineRecord& r = e.line;
    insert.Bind(1, e.uid).Bind(2, e.station).Bind(3, r.line).Bind(4, r.port).Bind(5, r.device).Bind(6, r.usbSerial);
    insert.Bind(7, r.startedMs).Bind(8, r.endedMs).Bind(9, r.imageName);
    insert.Bind(10, static_cast<std::int64_t>(r.imageSize)).Bind(11, r.imageSha256).Bind(12, r.bootVersion);
    insert.Bind(13, r.cpVersion).Bind(14, r.update).Bind(15, r.status).Bind(16, r.outcome);
    if (r.backup.taken) {
        insert.Bind(17, r.backup.sha256).BindBlob(18, r.backup.text).Bind(19, r.backup.setting).Bind(20, r.backup.file);
    } else {
        insert.BindNull(17).BindNull(18).BindNull(19).BindNull(20);
    }
}

HistoryEntry ReadEntry(const sqlite::Statement& row, bool withText) {
    HistoryEntry e;
    LineRecord& r = e.line;
    e.id = row.Int(0);
    e.uid = row.Text(1);
    e.station = row.Text(2);
    r.line = static_cast<int>(row.Int(3));
    r.port = row.Text(4);
    r.device = row.Text(5);
    r.usbSerial = row.Text(6);
    r.startedMs = row.Int(7);
    r.endedMs = row.Int(8);
    r.imageName = row.Text(9);
    r.imageSize = static_cast<std::uint64_t>(row.Int(10));
    r.imageSha256 = row.Text(11);
    r.bootVersion = row.Text(12);
    r.cpVersion = row.Text(13);
    r.update = row.Text(14);
    r.status = row.Text(15);
    r.outcome = row.Text(16);
    r.backup.taken = !row.IsNull(17);
    if (r.backup.taken) {
        r.backup.sha256 = row.Text(17);
        r.backup.setting = static_cast<int>(row.Int(18));
        r.backup.file = row.Text(19);
        if (withText) r.backup.text = row.Blob(20);
    }
    return e;
}

class SqliteHistoryStore final : public HistoryStore {
public:
    SqliteHistoryStore(const std::string& path, bool create) : db_(path, create) {
        const int version = CheckedVersion(create);
        if (!create) return;
        // Readers never wait for a writer, nor a writer for readers; set before any writing
        // (it stays with the file).
        UseWriteAheadLog();
        if (version == HISTORY_SCHEMA_VERSION) return;
        sqlite::WriteTransaction transaction(db_);
        // Another zolt may have brought it up to date while this one waited.
        MigrateSqliteHistory(db_, CheckedVersion(create));
        transaction.Commit();
    }

    std::int64_t Append(const HistoryEntry& entry) override {
        if (entry.uid.empty()) throw HistoryError(db_.Path() + " could not be written: an entry without a uid");
        sqlite::WriteTransaction transaction(db_);
        sqlite::Statement insert(db_, INSERT_ENTRY);
        BindEntry(insert, entry);
        insert.Step();
        if (db_.Changes() == 0) {
            // Stored before (forwarded twice from a spool): the first one stands.
            sqlite::Statement find(db_, "SELECT id FROM entries WHERE uid = ?1");
            if (!find.Bind(1, entry.uid).Step()) throw db_.Failure("could not be written");
            return find.Int(0);
        }
        const std::int64_t id = db_.LastInsertId();
        sqlite::Statement task(db_, "INSERT INTO tasks (entry_id, position, name, outcome, status) "
                                    "VALUES (?1, ?2, ?3, ?4, ?5)");
        for (std::size_t k = 0; k < entry.line.tasks.size(); ++k) {
            const TaskRecord& t = entry.line.tasks[k];
            task.Bind(1, id).Bind(2, static_cast<std::int64_t>(k)).Bind(3, t.name).Bind(4, t.outcome).Bind(5, t.status);
            task.Step();
            task.Reset();
        }
        transaction.Commit();
        return id;
    }

    std::vector<HistoryEntry> Query(const HistoryFilter& filter) override {
        sqlite::Statement query(db_, (SELECT_ENTRY + ", NULL FROM entries "
                                                    "WHERE (?1 = 0 OR outcome <> 'ok') AND (?2 IS NULL OR line = ?2) "
                                     "AND (?3 IS NULL OR station = ?3) AND (?4 IS NULL OR started_ms >= ?4) "
                                     "ORDER BY started_ms, id").c_str());
        query.Bind(1, std::int64_t{filter.failedOnly});
        if (filter.line) query.Bind(2, std::int64_t{*filter.line});
        if (filter.station) query.Bind(3, *filter.station);
        if (filter.sinceMs) query.Bind(4, *filter.sinceMs);
        std::vector<HistoryEntry> entries;
        while (query.Step()) entries.push_back(ReadEntry(query, false));
        sqlite::Statement tasks(db_, "SELECT name, outcome, status FROM tasks WHERE entry_id = ?1 ORDER BY position");
        for (HistoryEntry& e : entries) ReadTasks(tasks, e);
        return entries;
    }

    std::optional<HistoryEntry> Find(std::int64_t id) override {
        sqlite::Statement query(db_, (SELECT_ENTRY + ", backup_text FROM entries WHERE id = ?1").c_str());
        if (!query.Bind(1, id).Step()) return std::nullopt;
        HistoryEntry entry = ReadEntry(query, true);
        sqlite::Statement tasks(db_, "SELECT name, outcome, status FROM tasks WHERE entry_id = ?1 ORDER BY position");
        ReadTasks(tasks, entry);
        return entry;
    }

    std::string Where() const override { return db_.Path(); }

    bool Remove(const std::string& uid) override {
        sqlite::WriteTransaction transaction(db_);
        sqlite::Statement tasks(db_, "DELETE FROM tasks WHERE entry_id IN (SELECT id FROM entries WHERE uid = ?1)");
        tasks.Bind(1, uid).Step();
        sqlite::Statement entry(db_, "DELETE FROM entries WHERE uid = ?1");
        entry.Bind(1, uid).Step();
        const bool removed = db_.Changes() > 0;
        transaction.Commit();
        return removed;
    }

private:
    // Switching the journal takes the file for itself, and SQLite does not wait for it as it
    // waits for a transaction: a second zolt opening the file meanwhile would be refused
    // "database is locked". The switch is tried again for as long as a transaction would wait.
    void UseWriteAheadLog() {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            try {
                sqlite::Statement mode(db_, "PRAGMA journal_mode = WAL");
                if (mode.Step() && mode.Text(0) == "wal") return;
            } catch (const HistoryError&) {
                if (std::chrono::steady_clock::now() >= giveUp) throw;
            }
            if (std::chrono::steady_clock::now() >= giveUp) throw db_.Failure("could not be written");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // The schema version, refused unless this program can use it.
    int CheckedVersion(bool create) {
        const int version = SqliteSchemaVersion(db_);
        if (version < 0 || (version == 0 && !create)) throw HistoryError(db_.Path() + " is not a ZOLT history");
        if (version > HISTORY_SCHEMA_VERSION) {
            throw HistoryError(db_.Path() + " was written by a newer ZOLT (schema " + std::to_string(version) +
                               "; this one knows " + std::to_string(HISTORY_SCHEMA_VERSION) + ")");
        }
        if (version < HISTORY_SCHEMA_VERSION && !create) {
            throw HistoryError(db_.Path() + " has the older schema " + std::to_string(version) +
                               ": a zolt run that writes it brings it up to date");
        }
        return version;
    }

    static void ReadTasks(sqlite::Statement& tasks, HistoryEntry& entry) {
        tasks.Bind(1, entry.id);
        while (tasks.Step()) entry.line.tasks.push_back({tasks.Text(0), tasks.Text(1), tasks.Text(2)});
        tasks.Reset();
    }

    sqlite::Connection db_;
};

}  // namespace

std::unique_ptr<HistoryStore> OpenSqliteHistory(const std::string& path, bool create) {
    const std::size_t cut = path.find_last_of(SEPARATORS);
    if (cut != std::string::npos) {
        const std::string folder = path.substr(0, cut == 0 ? 1 : cut);
        if (!IsFolder(folder)) throw HistoryError(path + ": the folder " + folder + " does not exist");
    }
    if (IsFolder(path)) throw HistoryError(path + " is a folder, not a ZOLT history");
    if (!create && !PathExists(path)) throw HistoryError(path + " was not found");
    return std::make_unique<SqliteHistoryStore>(path, create);
}

}  // namespace zolt
