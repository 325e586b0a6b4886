// The LineRecorder of a station: turns each line's record into a history entry (station name,
// a fresh uid) and writes it from a thread of its own, so that neither a line nor the window
// ever waits for the database. Entries queued when the recorder is destroyed are written
// first (the destructor waits for them, bounded by the store's own waits).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "history/history_store.h"

namespace zolt {

class HistoryRecorder final : public LineRecorder {
public:
    // `notice` receives, on the recorder's thread, the texts an operator should see once (a
    // history that cannot be written, a server that went away and came back).
    HistoryRecorder(std::unique_ptr<HistoryStore> store, std::string station,
                    std::function<void(const std::string&)> notice);
    ~HistoryRecorder() override;
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    void Record(LineRecord record) override;
    // Waits until every entry recorded so far has been written (or failed).
    void Flush();

private:
    void Run();
    // Tells `text` without holding `lock`.
    void Tell(std::unique_lock<std::mutex>& lock, const std::string& text);

    std::unique_ptr<HistoryStore> store_;
    std::string station_;
    std::function<void(const std::string&)> notice_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<HistoryEntry> queue_;  // the front is being written, or waits to be tried again
    bool busy_ = false;
    bool stopping_ = false;
    bool failing_ = false;  // the last write failed; told once until one succeeds
    std::uint64_t recorded_ = 0;     // entries recorded so far
    std::uint64_t failedWith_ = 0;   // recorded_ when the last write failed: those all wait
    std::mt19937_64 random_;
    std::thread thread_;
};

// The station's name when none is given: the host name.
[[nodiscard]] std::string DefaultStationName();

// The history a run writes, from --history (a path or URL; empty: `zolt-history.sqlite` in
// `workDir`): the store, opened and checked now, or a HistoryError. A URL gets a spool
// "zolt-history-spool.sqlite" in `workDir`.
[[nodiscard]] std::unique_ptr<HistoryStore> OpenHistoryForWriting(const std::string& where, const std::string& workDir,
                                                                  std::function<void(const std::string&)> notice);

}  // namespace zolt
