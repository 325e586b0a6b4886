// The history on a PostgreSQL server that many stations share (OpenPostgresHistory in
// history_store.h opens it with the standard connect limit).
#pragma once

#include <memory>
#include <string>

#include "history/history_store.h"
#include "link/timing.h"

namespace zolt {

// A failure of the history server. what() is the operator's whole text; reason() is libpq's
// own account (its first line) or empty. lasting(): the server answered but refuses to be
// this station's history (a newer schema), which waiting does not cure.
class HistoryServerError : public HistoryError {
public:
    HistoryServerError(const std::string& text, std::string reason, bool lasting)
        : HistoryError(text), reason_(std::move(reason)), lasting_(lasting) {}
    [[nodiscard]] const std::string& reason() const { return reason_; }
    [[nodiscard]] bool lasting() const { return lasting_; }

private:
    std::string reason_;
    bool lasting_;
};

// Connects to the server at `url`, giving up after `connectLimit` (unless the URL sets its own
// connect_timeout), and creates or checks the schema. The store keeps one connection, opened
// again after the server dropped it; use it from one thread at a time. Throws
// HistoryServerError (HistoryError in a build without PostgreSQL).
[[nodiscard]] std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& url, Millis connectLimit);

// `url` as messages show it: any password replaced by "***".
[[nodiscard]] std::string PostgresUrlForDisplay(const std::string& url);

}  // namespace zolt
