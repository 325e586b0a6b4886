// Kept apart from the spooled store itself, which its tests link with a spool of their own.
#include "history/pg_store.h"
#include "history/spooled_store.h"

namespace zolt {

std::unique_ptr<HistoryStore> OpenSpooledPostgresHistory(const std::string& url, const std::string& spoolPath,
                                                         std::function<void(const std::string&)> notice) {
    // A URL that can never work is the operator's to fix now, not a reason to spool for ever.
    if (const auto problem = PostgresUrlProblem(url)) throw HistoryError(*problem);
    const Timing& timing = Timing::Standard();
    const Millis connectLimit = timing.historyConnectLimit;
    return std::make_unique<SpooledHistory>([url, connectLimit] { return OpenPostgresHistory(url, connectLimit); },
                                            PostgresUrlForDisplay(url), OpenSqliteHistory(spoolPath, true),
                                            std::move(notice), timing.historyRetryGap);
}

}  // namespace zolt
