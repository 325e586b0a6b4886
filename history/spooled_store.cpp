#include "history/spooled_store.h"

#include "history/pg_store.h"

namespace zolt {

SpooledHistory::SpooledHistory(HistoryOpener openServer, std::string serverWhere, std::unique_ptr<HistoryStore> spool,
                               std::function<void(const std::string&)> notice, Millis retryGap)
    : openServer_(std::move(openServer)),
      serverWhere_(std::move(serverWhere)),
      spool_(std::move(spool)),
      notice_(std::move(notice)),
      retryGap_(retryGap) {
    try {
        server_ = openServer_();
    } catch (const HistoryServerError& error) {
        if (error.lasting()) throw;
        Failed(error);
    } catch (const HistoryError& error) {
        Failed(error);
    }
}

std::int64_t SpooledHistory::Append(const HistoryEntry& entry) {
    const std::lock_guard lock(mutex_);
    // Oldest first: nothing new reaches the server while older entries wait in the spool.
    if (Clock::now() >= retryAt_ && ForwardLocked()) {
        try {
            return server_->Append(entry);
        } catch (const HistoryError& error) {
            Failed(error);
        }
    }
    spool_->Append(entry);
    return 0;
}

std::vector<HistoryEntry> SpooledHistory::Query(const HistoryFilter& filter) {
    const std::lock_guard lock(mutex_);
    return Server().Query(filter);
}

std::optional<HistoryEntry> SpooledHistory::Find(std::int64_t id) {
    const std::lock_guard lock(mutex_);
    return Server().Find(id);
}

bool SpooledHistory::Forward() {
    const std::lock_guard lock(mutex_);
    return ForwardLocked();
}

bool SpooledHistory::ForwardLocked() {
    try {
        Server();
    } catch (const HistoryError& error) {
        Failed(error);
        return false;
    }
    std::vector<HistoryEntry> waiting;
    try {
        waiting = spool_->Query({});
    } catch (const HistoryError& error) {
        return SpoolFailed(error);
    }
    for (const HistoryEntry& listed : waiting) {
        // A query leaves the backups' texts out: each entry is read whole before it is sent.
        std::optional<HistoryEntry> whole;
        try {
            whole = spool_->Find(listed.id);
        } catch (const HistoryError& error) {
            return SpoolFailed(error);
        }
        if (!whole) continue;
        const HistoryEntry& entry = *whole;
        try {
            server_->Append(entry);
        } catch (const HistoryError& error) {
            Failed(error);
            return false;
        }
        // Only now: an entry the server took but the spool still holds is sent again, and
        // the server keeps the first copy.
        try {
            spool_->Remove(entry.uid);
        } catch (const HistoryError& error) {
            return SpoolFailed(error);
        }
        ++sentSinceOutage_;
    }
    if (outage_ || sentSinceOutage_ > 0) {
        notice_("History server " + serverWhere_ + " answers again; " + std::to_string(sentSinceOutage_) +
                (sentSinceOutage_ == 1 ? " spooled entry sent" : " spooled entries sent"));
    }
    outage_ = false;
    sentSinceOutage_ = 0;
    retryAt_ = {};
    spoolFailureTold_ = false;
    return true;
}

bool SpooledHistory::SpoolFailed(const HistoryError& error) {
    if (!spoolFailureTold_) notice_(error.what());
    spoolFailureTold_ = true;
    return true;
}

HistoryStore& SpooledHistory::Server() {
    if (!server_) server_ = openServer_();
    return *server_;
}

void SpooledHistory::Failed(const HistoryError& error) {
    retryAt_ = Clock::now() + retryGap_;
    if (outage_) return;
    outage_ = true;
    const auto* serverError = dynamic_cast<const HistoryServerError*>(&error);
    const std::string reason = serverError ? serverError->reason() : error.what();
    notice_("History server " + serverWhere_ + " cannot be reached; entries are kept in " + spool_->Where() +
            " and sent when it answers" + (reason.empty() ? "" : " (" + reason + ")"));
}

}  // namespace zolt
