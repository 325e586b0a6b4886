// Stands in for the PostgreSQL stores (pg_store.cpp, spooled_store.cpp) until they join this
// branch; removed when they do.
#include "history/history_store.h"

namespace zolt {

std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& url) {
    throw HistoryError(url + ": this build has no PostgreSQL client");
}

std::optional<std::string> PostgresUrlProblem(const std::string&) { return "this build has no PostgreSQL client"; }

std::unique_ptr<HistoryStore> OpenSpooledPostgresHistory(const std::string& url, const std::string&,
                                                         std::function<void(const std::string&)>) {
    throw HistoryError(url + ": this build has no PostgreSQL client");
}

}  // namespace zolt
