#include "history/history_store.h"

namespace zolt {

bool IsPostgresUrl(const std::string& where) {
    return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<HistoryStore> OpenHistoryForReading(const std::string& where) {
    if (IsPostgresUrl(where)) return OpenPostgresHistory(where);
    return OpenSqliteHistory(where, false);
}

}  // namespace zolt
