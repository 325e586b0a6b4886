// The Windows build has no PostgreSQL client: a station there keeps its history in SQLite.
#include "history/pg_store.h"

namespace zolt {

namespace {

constexpr const char* NO_POSTGRES =
    "PostgreSQL histories are not available in this build of ZOLT; use a SQLite history";

}  // namespace

std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string&, Millis) {
    throw HistoryError(NO_POSTGRES);
}

std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& url) {
    return OpenPostgresHistory(url, Timing::Standard().historyConnectLimit);
}

std::optional<std::string> PostgresUrlProblem(const std::string&) {
    return std::string(NO_POSTGRES);
}

}  // namespace zolt
