#include "job/port_session.h"

#include <exception>
#include <string>

namespace zolt {

PortSession::~PortSession() { StopWorker(); }

void PortSession::StartWorker(const JobContext* job, int index, std::string directory) {
    if (thread.joinable()) thread.join();  // the previous job's worker has ended by now
    owner = job;
    lineIndex = index;
    workDir = std::move(directory);
    for (auto& status : taskEndStatus) status.clear();
    stop.Clear();
    {
        std::lock_guard lock(postMutex_);
        stopRequested_ = false;
    }
    // Running from the start, so that the owner never sees a started line as idle.
    running.store(1);
    thread = std::thread(PortWorker, this);
}

bool PortSession::StopWorker() {
    if (!thread.joinable()) return false;
    {
        std::lock_guard lock(postMutex_);
        stopRequested_ = true;
    }
    stop.Raise();
    thread.join();
    const bool wasRunning = running.exchange(0) != 0;
    stop.Clear();
    return wasRunning;
}

void PortSession::Post(unsigned message, std::uintptr_t wParam) {
    std::lock_guard lock(postMutex_);
    if (stopRequested_ || !owner || !owner->sink) return;
    owner->sink->PostLineEvent(message, wParam, lineNumber);
}

int PortSession::RunTask(std::uint8_t code, bool firstTask) {
    const TaskRunner* runner = owner->runners ? owner->runners->Find(code) : nullptr;
    if (!runner) return RESULT_FAIL;
    // Only the CP and Data runners care whether they come first (they boot-load then).
    const bool first = (code == TASK_UPDATE_CP || code == TASK_UPDATE_DATA) && firstTask;
    return (*runner)(*this, first);
}

void PortSession::FailTask(PortSession& line, TaskList& list, int i) {
    list.SetOutcome(i, line.lineIndex, TASK_FAIL);
    if (i >= 0 && i < MAX_TASKS) line.taskEndStatus[static_cast<std::size_t>(i)] = line.statusText.Get();
    line.running.store(0);
    line.Post(WM_PORT_TASK_DONE, static_cast<std::uintptr_t>(i));
    line.Post(WM_PORT_FAILED, static_cast<std::uintptr_t>(i));
}

int PortWorker(PortSession* line) {
    line->flashBlockCount.store(0);
    line->flashAttempts = 0;
    line->running.store(1);
    TaskList& list = *line->owner->tasks;
    int i = 0;
    try {
        if (!line->ReopenLostLink()) {
            PortSession::FailTask(*line, list, 0);
            return 0;
        }
        for (; i < list.taskCount; ++i) {
            const int result = line->RunTask(list.tasks[i].code, i == 0);
            if (result != RESULT_OK) {
                PortSession::FailTask(*line, list, i);
                return 0;
            }
            list.SetOutcome(i, line->lineIndex, TASK_DONE);
            line->taskEndStatus[static_cast<std::size_t>(i)] = line->statusText.Get();
            line->Post(WM_PORT_TASK_DONE, static_cast<std::uintptr_t>(i));
        }
        line->running.store(0);
        line->Post(WM_PORT_ALL_DONE, 0);
    } catch (const LineStopped&) {
        // Stopped: the owner clears `running` and expects nothing more from this worker.
    } catch (const PortLost&) {
        // The status text says which port went.
        PortSession::FailTask(*line, list, i);
    } catch (const std::exception& e) {
        // Nothing may escape a thread. Whatever broke, the task has failed.
        line->SetStatusText(std::string("Internal error: ") + e.what());
        PortSession::FailTask(*line, list, i);
    } catch (...) {
        line->SetStatusText("Internal error!");
        PortSession::FailTask(*line, list, i);
    }
    return 0;
}

}  // namespace zolt
