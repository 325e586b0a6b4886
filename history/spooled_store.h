// The history of a station that writes to a shared server and never waits for it long: what
// the server does not take goes into a local spool, and leaves the spool, oldest first, once
// the server has it (OpenSpooledPostgresHistory in history_store.h builds one).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "history/history_store.h"
#include "link/timing.h"

namespace zolt {

using HistoryOpener = std::function<std::unique_ptr<HistoryStore>()>;

class SpooledHistory final : public HistoryStore {
public:
    // `openServer` connects to the server (throwing HistoryError); `serverWhere` names it in
    // messages. `spool` must support Remove. The server is tried at once: a HistoryServerError
    // that lasts (a newer schema) is passed on, as a station must not fill its spool for ever;
    // any other failure begins an outage. `notice` is told once when an outage begins and once
    // when the server answers again; it is called on the thread of the call that found out.
    // After a failure the server is tried again no sooner than `retryGap` later, except by
    // Forward.
    SpooledHistory(HistoryOpener openServer, std::string serverWhere, std::unique_ptr<HistoryStore> spool,
                   std::function<void(const std::string&)> notice, Millis retryGap);

    // Forwards the spool, then writes `entry` to the server and returns the server's id; when
    // the server is not to be tried or fails, `entry` goes to the spool and 0 is returned.
    // Throws HistoryError only when the spool cannot be written either.
    std::int64_t Append(const HistoryEntry& entry) override;
    // Read the server. Throw HistoryError when it cannot be reached.
    [[nodiscard]] std::vector<HistoryEntry> Query(const HistoryFilter& filter) override;
    [[nodiscard]] std::optional<HistoryEntry> Find(std::int64_t id) override;
    [[nodiscard]] std::string Where() const override { return serverWhere_; }

    // Tries the server now and forwards the whole spool: false when the server failed.
    bool Forward();

private:
    bool ForwardLocked();
    HistoryStore& Server();
    void Failed(const HistoryError& error);
    // A spool that cannot be read or emptied keeps what it holds, but must not keep new
    // entries from a server that answers: the operator is told once, and they go on to the
    // server. Returns true (the server is up).
    bool SpoolFailed(const HistoryError& error);

    using Clock = std::chrono::steady_clock;
    const HistoryOpener openServer_;
    const std::string serverWhere_;
    const std::unique_ptr<HistoryStore> spool_;
    const std::function<void(const std::string&)> notice_;
    const Millis retryGap_;
    std::mutex mutex_;
    std::unique_ptr<HistoryStore> server_;
    Clock::time_point retryAt_{};
    bool outage_ = false;
    std::size_t sentSinceOutage_ = 0;
    bool spoolFailureTold_ = false;
};

}  // namespace zolt
