// One line: a phone on a serial port, and the worker thread that runs a job's task list on it.
//
// The owner (the frame's job control) attaches a line by opening its port, then starts and
// stops its worker. While the worker runs, the owner's thread may read `running`,
// `statusText` and the progress counters; everything else of the line is the worker's.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "cal/cal_state.h"
#include "job/config.h"
#include "job/job_task.h"
#include "job/line_events.h"
#include "io/prompt.h"
#include "link/link_session.h"

namespace zolt {

class PortSession;

// Runs one task on a line; returns RESULT_OK or RESULT_FAIL after setting the status text.
using TaskRunner = std::function<int(PortSession& line, bool firstTask)>;

// Runners by task code. A code without a runner fails its task at once, sending nothing.
class TaskRunners {
public:
    void Set(std::uint8_t code, TaskRunner runner) { runners_[code] = std::move(runner); }
    const TaskRunner* Find(std::uint8_t code) const {
        return runners_[code] ? &runners_[code] : nullptr;
    }
    // The runners of this build for every task code.
    static TaskRunners Standard();

private:
    std::array<TaskRunner, 256> runners_{};
};

// What every line of a job reads: shared, and not changed while any line runs (except the
// task statuses, which the workers write).
struct JobContext {
    TaskList* tasks = nullptr;
    const Config* config = nullptr;
    std::span<const std::uint8_t> file;  // the loaded image or script
    LineEventSink* sink = nullptr;
    Prompt* prompt = nullptr;
    const TaskRunners* runners = nullptr;
};

class PortSession : public LinkSession {
public:
    PortSession() = default;
    ~PortSession() override;  // stops a running worker before anything is destroyed

    // Starts the worker on a new thread. The line must be idle; `owner` must outlive the job.
    void StartWorker(const JobContext* owner, int lineIndex, std::string workDir);
    // Ends a running worker at once: every wait and pause of the worker returns, the task in
    // progress is abandoned, no further event of this worker reaches the sink, and the line
    // is left not running with its port open. Returns whether a worker was running.
    bool StopWorker();
    bool IsRunning() const { return running.load() != 0; }

    // --- Job control fields ---
    const JobContext* owner = nullptr;
    int lineNumber = 0;  // 1 to 8
    int lineIndex = 0;   // 0 to 7, set when a job starts
    // The status text each task of the running job ended with, written by the worker before
    // it posts the task's end (so the owner reads a slot only after its event), for the
    // line's history entry.
    std::array<std::string, MAX_TASKS> taskEndStatus;
    std::atomic<int> running{0};
    std::string workDir;
    std::thread thread;

    // --- Calibration: the page catalogue, the last backup's text, the text reader ---
    CalState cal;

private:
    friend int PortWorker(PortSession* line);
    int RunTask(std::uint8_t code, bool firstTask);
    // Marks task i failed on this line and tells the owner: the line stops there.
    static void FailTask(PortSession& line, TaskList& list, int i);
    void Post(unsigned message, std::uintptr_t wParam);

    std::mutex postMutex_;
    bool stopRequested_ = false;
};

// The worker's entry: runs the owner's task list on the line. Returns 0 in every case.
int PortWorker(PortSession* line);

}  // namespace zolt
