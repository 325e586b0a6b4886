#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <type_traits>

#include "history/pg_store.h"

namespace zolt {

namespace {

// Taken for the length of the transaction that creates or upgrades the schema, so that two
// stations meeting an empty database at once do not both create it ("ZOLT" in ASCII).
constexpr long long SCHEMA_LOCK_KEY = 0x5A4F4C54;

// An entry's columns as stored, and as read (with the id the server gave it).
constexpr const char* STORED_COLUMNS =
    "uid, station, line, port, device, usb_serial, started_ms, ended_ms, image_name, image_size, "
    "image_sha256, boot_version, cp_version, update_choice, status, outcome, backup_sha256, backup_text, "
    "backup_setting, backup_file";
const std::string ENTRY_COLUMNS = std::string("id, ") + STORED_COLUMNS;

constexpr const char* CREATE_SCHEMA[] = {
    "CREATE TABLE IF NOT EXISTS zolt_meta (key TEXT PRIMARY KEY, value TEXT)",
    "CREATE TABLE IF NOT EXISTS entries (id BIGSERIAL PRIMARY KEY, uid TEXT UNIQUE NOT NULL, station TEXT, "
    "line INTEGER, port TEXT, device TEXT, usb_serial TEXT, started_ms BIGINT, ended_ms BIGINT, "
    "image_name TEXT, image_size BIGINT, image_sha256 TEXT, boot_version TEXT, cp_version TEXT, "
    "update_choice TEXT, status TEXT, outcome TEXT, backup_sha256 TEXT, backup_text BYTEA, "
    "backup_setting INTEGER, backup_file TEXT)",
    "CREATE TABLE IF NOT EXISTS tasks (entry_id BIGINT REFERENCES entries(id), position INTEGER, name TEXT, "
    "outcome TEXT, status TEXT, PRIMARY KEY (entry_id, position))",
};

struct ConnectionCloser {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct ResultClearer {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;
using Result = std::unique_ptr<PGresult, ResultClearer>;

// libpq's messages end in a newline and often add a hint on further lines.
std::string FirstLine(const char* message) {
    std::string line = message ? message : "";
    line = line.substr(0, line.find('\n'));
    return line.empty() ? "no reason given" : line;
}

// The length of the valid UTF-8 sequence at `s[i]`, 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char first = byte(i);
    if (first != 0 && first < 0x80) return 1;
    std::size_t length = first >= 0xC2 && first <= 0xDF ? 2 : first >= 0xE0 && first <= 0xEF ? 3
                       : first >= 0xF0 && first <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > s.size()) return 0;
    // Overlong forms, surrogates and code points past U+10FFFF show in the second byte.
    const unsigned char second = byte(i + 1);
    const unsigned char low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// A UTF-8 server refuses text that is not UTF-8 (a port or file name in a legacy code page),
// and an entry it refuses would wait in a spool for ever: such bytes, and NULs, which a text
// parameter cannot carry, become '?'.
std::string ServerText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += '?';
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

// The parameters of one statement: text, binary (bytea) or NULL.
class Params {
public:
    Params& Text(std::string_view text) { return Add(ServerText(text), 0); }
    Params& Number(long long value) { return Add(std::to_string(value), 0); }
    Params& Bytes(std::string bytes) { return Add(std::move(bytes), 1); }
    Params& Null() {
        values_.emplace_back();
        formats_.push_back(0);
        return *this;
    }
    [[nodiscard]] int Count() const { return static_cast<int>(values_.size()); }
    [[nodiscard]] std::vector<const char*> Pointers() const {
        std::vector<const char*> pointers;
        for (const auto& value : values_) pointers.push_back(value ? value->data() : nullptr);
        return pointers;
    }
    [[nodiscard]] std::vector<int> Lengths() const {
        std::vector<int> lengths;
        for (const auto& value : values_) lengths.push_back(value ? static_cast<int>(value->size()) : 0);
        return lengths;
    }
    [[nodiscard]] const std::vector<int>& Formats() const { return formats_; }

private:
    Params& Add(std::string value, int format) {
        values_.emplace_back(std::move(value));
        formats_.push_back(format);
        return *this;
    }
    std::vector<std::optional<std::string>> values_;
    std::vector<int> formats_;
};

std::int64_t ToInt(const PGresult* result, int row, int column) {
    const char* text = PQgetvalue(result, row, column);
    std::int64_t value = 0;
    std::from_chars(text, text + std::strlen(text), value);
    return value;
}

std::string ToText(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column), static_cast<std::size_t>(PQgetlength(result, row, column)));
}

std::string ToBytes(const PGresult* result, int row, int column) {
    std::size_t length = 0;
    unsigned char* bytes =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column)), &length);
    if (bytes == nullptr) throw HistoryError("Out of memory reading a calibration backup from the history");
    std::string text(reinterpret_cast<const char*>(bytes), length);
    PQfreemem(bytes);
    return text;
}

// One row in the order of ENTRY_COLUMNS.
HistoryEntry EntryFromRow(const PGresult* result, int row) {
    HistoryEntry entry;
    int c = 0;
    entry.id = ToInt(result, row, c++);
    entry.uid = ToText(result, row, c++);
    entry.station = ToText(result, row, c++);
    LineRecord& line = entry.line;
    line.line = static_cast<int>(ToInt(result, row, c++));
    line.port = ToText(result, row, c++);
    line.device = ToText(result, row, c++);
    line.usbSerial = ToText(result, row, c++);
    line.startedMs = ToInt(result, row, c++);
    line.endedMs = ToInt(result, row, c++);
    line.imageName = ToText(result, row, c++);
    line.imageSize = static_cast<std::uint64_t>(ToInt(result, row, c++));
    line.imageSha256 = ToText(result, row, c++);
    line.bootVersion = ToText(result, row, c++);
    line.cpVersion = ToText(result, row, c++);
    line.update = ToText(result, row, c++);
    line.status = ToText(result, row, c++);
    line.outcome = ToText(result, row, c++);
    BackupRecord& backup = line.backup;
    backup.sha256 = ToText(result, row, c++);
    backup.taken = !PQgetisnull(result, row, c);
    if (backup.taken) backup.text = ToBytes(result, row, c);
    ++c;
    backup.setting = PQgetisnull(result, row, c) ? -1 : static_cast<int>(ToInt(result, row, c));
    ++c;
    backup.file = ToText(result, row, c++);
    return entry;
}

Params EntryParams(const HistoryEntry& entry) {
    const LineRecord& line = entry.line;
    const BackupRecord& backup = line.backup;
    Params params;
    params.Text(entry.uid).Text(entry.station).Number(line.line).Text(line.port).Text(line.device);
    params.Text(line.usbSerial).Number(line.startedMs).Number(line.endedMs).Text(line.imageName);
    params.Number(static_cast<long long>(line.imageSize)).Text(line.imageSha256).Text(line.bootVersion);
    params.Text(line.cpVersion).Text(line.update).Text(line.status).Text(line.outcome);
    params.Text(backup.sha256);
    if (backup.taken) {
        params.Bytes(backup.text);
    } else {
        params.Null();
    }
    if (backup.taken && backup.setting >= 0) {
        params.Number(backup.setting);
    } else {
        params.Null();
    }
    params.Text(backup.file);
    return params;
}

class PostgresStore final : public HistoryStore {
public:
    PostgresStore(std::string url, Millis connectLimit)
        : url_(std::move(url)), where_(PostgresUrlForDisplay(url_)), connectLimit_(connectLimit) {
        Connect();
    }

    std::int64_t Append(const HistoryEntry& entry) override {
        return Retrying([&] { return AppendOnce(entry); });
    }

    std::vector<HistoryEntry> Query(const HistoryFilter& filter) override {
        Params params;
        std::string where = "TRUE";
        if (filter.failedOnly) where += " AND e.outcome <> 'ok'";
        if (filter.line) where += " AND e.line = $" + std::to_string(params.Number(*filter.line).Count());
        if (filter.station) where += " AND e.station = $" + std::to_string(params.Text(*filter.station).Count());
        if (filter.sinceMs) where += " AND e.started_ms >= $" + std::to_string(params.Number(*filter.sinceMs).Count());
        return Retrying([&] { return Select(where, params); });
    }

    std::optional<HistoryEntry> Find(std::int64_t id) override {
        Params params;
        params.Number(id);
        auto found = Retrying([&] { return Select("e.id = $1", params); });
        if (found.empty()) return std::nullopt;
        return std::move(found.front());
    }

    std::string Where() const override { return where_; }

private:
    void Connect();
    void CheckSchema();
    std::int64_t AppendOnce(const HistoryEntry& entry);
    std::vector<HistoryEntry> Select(const std::string& where, const Params& params);
    Result Exec(const std::string& sql, const Params& params = {});

    // Runs `operation`, and once more on a new connection when the server dropped the old one
    // (restarted meanwhile): the uid makes an append that reached the server harmless to repeat.
    template <class Operation>
    std::invoke_result_t<Operation> Retrying(Operation operation) {
        if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK) Connect();
        try {
            return operation();
        } catch (const HistoryServerError&) {
            if (PQstatus(connection_.get()) == CONNECTION_OK) throw;
        }
        Connect();
        return operation();
    }

    [[noreturn]] void Fail(const std::string& reason) const {
        const bool lost = connection_ && PQstatus(connection_.get()) != CONNECTION_OK;
        throw HistoryServerError(
            "History server " + where_ + (lost ? " cannot be reached: " : " failed: ") + reason, reason, false);
    }

    const std::string url_;
    const std::string where_;
    const Millis connectLimit_;
    Connection connection_;
};

void PostgresStore::Connect() {
    connection_.reset();
    const auto seconds = std::to_string(std::max<long long>(2, (connectLimit_.count() + 999) / 1000));
    const auto userTimeout = std::to_string(connectLimit_.count());
    // The URL comes last: what it sets itself overrides these defaults.
    const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {seconds.c_str(), userTimeout.c_str(), "zolt", url_.c_str(), nullptr};
    Connection connection(PQconnectdbParams(keys, values, 1));
    if (!connection) throw HistoryServerError("Out of memory connecting to history server " + where_, "", false);
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        const auto reason = FirstLine(PQerrorMessage(connection.get()));
        throw HistoryServerError("History server " + where_ + " cannot be reached: " + reason, reason, false);
    }
    // "relation already exists, skipping" and the like are no news for the operator.
    PQsetNoticeProcessor(connection.get(), [](void*, const char*) {}, nullptr);
    connection_ = std::move(connection);
    CheckSchema();
}

void PostgresStore::CheckSchema() {
    Exec("BEGIN");
    try {
        Exec("SELECT pg_advisory_xact_lock(" + std::to_string(SCHEMA_LOCK_KEY) + ")");
        // Readers may lack the right to create anything: nothing is created where the schema is.
        const Result meta = Exec("SELECT to_regclass('zolt_meta') IS NOT NULL");
        int version = 0;
        if (ToText(meta.get(), 0, 0) == "t") {
            const Result row = Exec("SELECT value FROM zolt_meta WHERE key = 'schema_version'");
            if (PQntuples(row.get()) > 0) version = static_cast<int>(ToInt(row.get(), 0, 0));
        }
        if (version > HISTORY_SCHEMA_VERSION) {
            const auto reason = "schema " + std::to_string(version) + "; this one knows " +
                                std::to_string(HISTORY_SCHEMA_VERSION);
            throw HistoryServerError("History server " + where_ + " was written by a newer ZOLT (" + reason + ")",
                                     reason, true);
        }
        if (version == 0) {
            for (const char* statement : CREATE_SCHEMA) Exec(statement);
            Params params;
            params.Number(HISTORY_SCHEMA_VERSION);
            Exec("INSERT INTO zolt_meta (key, value) VALUES ('schema_version', $1)", params);
        }
        // Upgrades of an older schema go here, one step per version.
        Exec("COMMIT");
    } catch (const HistoryError&) {
        PQclear(PQexec(connection_.get(), "ROLLBACK"));
        throw;
    }
}

std::int64_t PostgresStore::AppendOnce(const HistoryEntry& entry) {
    Exec("BEGIN");
    try {
        const Result inserted = Exec(std::string("INSERT INTO entries (") + STORED_COLUMNS +
                                         ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, "
                                         "$15, $16, $17, $18, $19, $20) ON CONFLICT (uid) DO NOTHING RETURNING id",
                                     EntryParams(entry));
        if (PQntuples(inserted.get()) == 0) {
            // Forwarded before, the reply lost: the first copy stands, tasks and all.
            Params uid;
            uid.Text(entry.uid);
            const Result existing = Exec("SELECT id FROM entries WHERE uid = $1", uid);
            Exec("COMMIT");
            return ToInt(existing.get(), 0, 0);
        }
        const std::int64_t id = ToInt(inserted.get(), 0, 0);
        for (std::size_t i = 0; i < entry.line.tasks.size(); ++i) {
            const TaskRecord& task = entry.line.tasks[i];
            Params params;
            params.Number(id).Number(static_cast<long long>(i)).Text(task.name).Text(task.outcome).Text(task.status);
            Exec("INSERT INTO tasks (entry_id, position, name, outcome, status) VALUES ($1, $2, $3, $4, $5)", params);
        }
        Exec("COMMIT");
        return id;
    } catch (const HistoryError&) {
        if (PQstatus(connection_.get()) == CONNECTION_OK) PQclear(PQexec(connection_.get(), "ROLLBACK"));
        throw;
    }
}

std::vector<HistoryEntry> PostgresStore::Select(const std::string& where, const Params& params) {
    const Result rows = Exec(std::string("SELECT ") + ENTRY_COLUMNS + " FROM entries e WHERE " + where + " ORDER BY e.id",
                             params);
    std::vector<HistoryEntry> entries;
    std::map<std::int64_t, std::size_t> byId;
    for (int row = 0; row < PQntuples(rows.get()); ++row) {
        entries.push_back(EntryFromRow(rows.get(), row));
        byId[entries.back().id] = entries.size() - 1;
    }
    if (entries.empty()) return entries;
    // An entry's tasks are committed with it; those of entries stored since the first select
    // find no entry here and are passed over.
    const Result tasks = Exec("SELECT t.entry_id, t.name, t.outcome, t.status FROM tasks t JOIN entries e ON "
                              "e.id = t.entry_id WHERE " + where + " ORDER BY t.entry_id, t.position",
                              params);
    for (int row = 0; row < PQntuples(tasks.get()); ++row) {
        const auto found = byId.find(ToInt(tasks.get(), row, 0));
        if (found == byId.end()) continue;
        entries[found->second].line.tasks.push_back(
            {ToText(tasks.get(), row, 1), ToText(tasks.get(), row, 2), ToText(tasks.get(), row, 3)});
    }
    return entries;
}

Result PostgresStore::Exec(const std::string& sql, const Params& params) {
    const auto values = params.Pointers();
    const auto lengths = params.Lengths();
    Result result(PQexecParams(connection_.get(), sql.c_str(), params.Count(), nullptr, values.data(),
                               lengths.data(), params.Formats().data(), 0));
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(FirstLine(PQerrorMessage(connection_.get())));
    return result;
}

}  // namespace

std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& url, Millis connectLimit) {
    if (const auto problem = PostgresUrlProblem(url)) throw HistoryServerError(*problem, *problem, true);
    return std::make_unique<PostgresStore>(url, connectLimit);
}

std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& url) {
    return OpenPostgresHistory(url, Timing::Standard().historyConnectLimit);
}

std::optional<std::string> PostgresUrlProblem(const std::string& url) {
    if (!IsPostgresUrl(url)) {
        return PostgresUrlForDisplay(url) + " is not a PostgreSQL URL (postgresql://USER@HOST/DATABASE)";
    }
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
    if (options == nullptr) {
        const auto reason = error ? FirstLine(error) : std::string("out of memory");
        PQfreemem(error);
        return PostgresUrlForDisplay(url) + " is not a usable PostgreSQL URL: " + reason;
    }
    PQconninfoFree(options);
    return std::nullopt;
}

}  // namespace zolt
