#include "job/job_task.h"

namespace zolt {

void TaskList::Assign(std::initializer_list<std::uint8_t> codes) {
    taskCount = 0;
    for (auto& task : tasks) {
        task.code = 0;
        task.status.store(TASK_NONE);
    }
    for (std::uint8_t code : codes) {
        if (taskCount == MAX_TASKS) break;
        tasks[taskCount++].code = code;
    }
    ResetStatuses();
}

bool TaskList::ResetStatuses() {
    for (int i = 0; i < MAX_TASKS; ++i) {
        const std::uint8_t status = i < taskCount ? TASK_WAIT : TASK_NONE;
        if (i < taskCount) tasks[i].status.store(status);
        for (auto& cell : lineStatus[i]) cell.store(status);
    }
    return taskCount != 0;
}

void TaskList::SetOutcome(int task, int lineIndex, TaskStatus status) {
    if (task < 0 || task >= MAX_TASKS) return;
    tasks[task].status.store(status);
    if (lineIndex >= 0 && lineIndex < LINE_COUNT) lineStatus[task][lineIndex].store(status);
}

TaskStatus TaskList::LineOutcome(int task, int lineIndex) const {
    if (task < 0 || task >= MAX_TASKS || lineIndex < 0 || lineIndex >= LINE_COUNT) return TASK_NONE;
    return static_cast<TaskStatus>(lineStatus[task][lineIndex].load());
}

std::string_view LineResult(const TaskList& tasks, int lineIndex) {
    bool complete = true;
    for (int t = 0; t < tasks.taskCount; ++t) {
        const TaskStatus outcome = tasks.LineOutcome(t, lineIndex);
        if (outcome == TASK_FAIL) return "failed";
        complete &= outcome == TASK_DONE;
    }
    return complete ? "ok" : "stopped";
}

std::string_view TaskName(std::uint8_t code) {
    switch (code) {
        case TASK_UPDATE_BOOT: return "Update Boot";
        case TASK_UPDATE_CP: return "Update CP";
        case TASK_UPDATE_DATA: return "Update Data";
        case TASK_BACKUP_CAL: return "Backup Cal-Data";
        case TASK_RESTORE_CAL: return "Restore Cal-Data";
        case TASK_SCRIPT: return "Script";
        default: return "Unknown task";
    }
}

std::string_view TaskStatusName(std::uint8_t status) {
    switch (status) {
        case TASK_WAIT: return "Wait";
        case TASK_DONE: return "Done";
        case TASK_FAIL: return "Fail";
        default: return "Unknown";
    }
}

}  // namespace zolt
