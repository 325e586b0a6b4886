#include "history/sqlite_db.h"

#include <sqlite3.h>

#include "history/history_platform.h"

namespace zolt::sqlite {

namespace {

// Another zolt on this station may hold the file for one entry's transaction (milliseconds)
// or bring its schema up to date; seconds cover a slow disk with room to spare, and a writer
// that holds the file longer has hung.
constexpr int BUSY_TIMEOUT_MS = 5000;

}  // namespace

Connection::Connection(const std::string& path, bool create) : path_(path) {
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
    const int result = sqlite3_open_v2(SqliteFileName(path).c_str(), &db_, flags, nullptr);
    if (result != SQLITE_OK) {
        const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(result);
        sqlite3_close(db_);
        db_ = nullptr;
        throw HistoryError(path + " could not be opened: " + reason);
    }
    sqlite3_busy_timeout(db_, BUSY_TIMEOUT_MS);
    sqlite3_extended_result_codes(db_, 1);
}

Connection::~Connection() { sqlite3_close(db_); }

void Connection::Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw Failure("could not be written");
}

HistoryError Connection::Failure(std::string_view doing) const {
    // A file that is not a database at all is told apart from one that failed.
    if ((sqlite3_errcode(db_) & 0xFF) == SQLITE_NOTADB) return HistoryError(path_ + " is not a ZOLT history");
    return HistoryError(path_ + " " + std::string(doing) + ": " + sqlite3_errmsg(db_));
}

std::int64_t Connection::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Connection::Changes() const { return sqlite3_changes(db_); }

Statement::Statement(Connection& db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db.Handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) throw db.Failure("could not be read");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    // An empty blob is a zero-length blob, not NULL: a pointer is needed for that.
    sqlite3_bind_blob(stmt_, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::Step() {
    const int result = sqlite3_step(stmt_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    throw db_.Failure(sqlite3_stmt_readonly(stmt_) ? "could not be read" : "could not be written");
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

std::string Statement::Blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

WriteTransaction::WriteTransaction(Connection& db) : db_(db) {
    db_.Exec("BEGIN IMMEDIATE");
    open_ = true;
}

WriteTransaction::~WriteTransaction() {
    if (open_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void WriteTransaction::Commit() {
    db_.Exec("COMMIT");
    open_ = false;
}

}  // namespace zolt::sqlite
