// The little of SQLite's C interface that the history uses, with its failures turned into
// HistoryError naming the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "history/history_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zolt::sqlite {

// One connection to one database file; closed with the object.
class Connection {
public:
    // Opens `path` (as the core spells it): `create` makes a missing file, else a missing file
    // is refused. Throws HistoryError.
    Connection(const std::string& path, bool create);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs statements without parameters or results. Throws HistoryError.
    void Exec(const char* sql);
    // The error text for a failure of `doing` ("could not be read") now: names the file and
    // says SQLite's reason.
    [[nodiscard]] HistoryError Failure(std::string_view doing) const;
    [[nodiscard]] std::int64_t LastInsertId() const;
    [[nodiscard]] int Changes() const;
    [[nodiscard]] sqlite3* Handle() const { return db_; }
    [[nodiscard]] const std::string& Path() const { return path_; }

private:
    sqlite3* db_ = nullptr;
    std::string path_;
};

// A prepared statement; parameters count from 1, result columns from 0.
class Statement {
public:
    Statement(Connection& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, const std::string& text);
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& BindNull(int index);
    // Steps once: true with a row to read, false when done. Throws HistoryError.
    bool Step();
    // Makes the statement ready to run again with new parameters.
    void Reset();

    [[nodiscard]] bool IsNull(int column) const;
    [[nodiscard]] std::int64_t Int(int column) const;
    [[nodiscard]] std::string Text(int column) const;
    [[nodiscard]] std::string Blob(int column) const;

private:
    Connection& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// A write transaction, begun at once against every other writer (BEGIN IMMEDIATE, waiting up
// to the busy time-out), rolled back unless committed.
class WriteTransaction {
public:
    explicit WriteTransaction(Connection& db);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void Commit();

private:
    Connection& db_;
    bool open_ = false;
};

}  // namespace zolt::sqlite
