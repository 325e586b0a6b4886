#include "history/history_recorder.h"

#include <chrono>
#include <cstdio>

#include "io/paths.h"
#include "link/timing.h"

namespace zolt {

namespace {

constexpr const char* SPOOL_FILE_NAME = "zolt-history-spool.sqlite";

// Every station draws its uids on its own, and a shared server takes them all: the seed is as
// random as the platform offers, with the clock and an address mixed in should that be weak.
std::mt19937_64 SeededEngine(const void* self) {
    std::random_device device;
    const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(self));
    std::seed_seq seed{device(), device(), device(), device(), device(), device(),
                       static_cast<unsigned>(now), static_cast<unsigned>(now >> 32), static_cast<unsigned>(address)};
    return std::mt19937_64(seed);
}

}  // namespace

HistoryRecorder::HistoryRecorder(std::unique_ptr<HistoryStore> store, std::string station,
                                 std::function<void(const std::string&)> notice)
    : store_(std::move(store)), station_(std::move(station)), notice_(std::move(notice)), random_(SeededEngine(this)) {
    thread_ = std::thread([this] { Run(); });
}

HistoryRecorder::~HistoryRecorder() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HistoryRecorder::Record(LineRecord record) {
    {
        std::lock_guard lock(mutex_);
        HistoryEntry entry;
        char uid[33];
        std::snprintf(uid, sizeof uid, "%016llx%016llx", static_cast<unsigned long long>(random_()),
                      static_cast<unsigned long long>(random_()));
        entry.uid = uid;
        entry.station = station_;
        entry.line = std::move(record);
        queue_.push_back(std::move(entry));
        ++recorded_;
    }
    wake_.notify_all();
}

void HistoryRecorder::Flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = recorded_;
    drained_.wait(lock, [&] { return (queue_.empty() && !busy_) || (failing_ && failedWith_ >= target); });
}

void HistoryRecorder::Tell(std::unique_lock<std::mutex>& lock, const std::string& text) {
    if (!notice_) return;
    lock.unlock();
    notice_(text);
    lock.lock();
}

void HistoryRecorder::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        busy_ = true;
        // A deque keeps its elements in place while others are added behind them.
        const HistoryEntry& entry = queue_.front();
        lock.unlock();
        std::string failure;
        try {
            (void)store_->Append(entry);
        } catch (const std::exception& e) {
            failure = e.what();
        }
        lock.lock();
        busy_ = false;
        if (failure.empty()) {
            queue_.pop_front();
            if (failing_) {
                failing_ = false;
                Tell(lock, "History: written to " + store_->Where() + " again.");
            }
        } else if (stopping_) {
            // Closing: each further try could wait out the store's time-outs again.
            const std::size_t lost = queue_.size();
            queue_.clear();
            Tell(lock, "History: " + std::to_string(lost) + (lost == 1 ? " entry was" : " entries were") +
                           " not written: " + failure);
        } else {
            failedWith_ = recorded_;
            drained_.notify_all();
            if (!failing_) {
                failing_ = true;
                Tell(lock, "History: " + failure + ". Its entries wait and are tried again.");
            }
            const std::size_t waiting = queue_.size();
            // An entry the store refused (a full disk, a locked file) is tried again after the
            // history's retry gap, or when another entry comes first.
            wake_.wait_for(lock, Timing::Standard().historyRetryGap, [&] { return stopping_ || queue_.size() > waiting; });
        }
        if (queue_.empty()) drained_.notify_all();
    }
}

std::unique_ptr<HistoryStore> OpenHistoryForWriting(const std::string& where, const std::string& workDir,
                                                    std::function<void(const std::string&)> notice) {
    if (where.empty()) return OpenSqliteHistory(JoinPath(workDir, HISTORY_FILE_NAME), true);
    if (IsPostgresUrl(where)) {
        return OpenSpooledPostgresHistory(where, JoinPath(workDir, SPOOL_FILE_NAME), std::move(notice));
    }
    return OpenSqliteHistory(where, true);
}

}  // namespace zolt
