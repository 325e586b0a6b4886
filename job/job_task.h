// The task list of a job: the same ordered list for every line, and the outcome of each task
// on each line.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

namespace zolt {

enum TaskCode : std::uint8_t {
    TASK_UPDATE_BOOT = 2,
    TASK_UPDATE_CP = 3,
    TASK_UPDATE_DATA = 4,
    TASK_BACKUP_CAL = 5,
    TASK_RESTORE_CAL = 6,
    TASK_SCRIPT = 7,
};

enum TaskStatus : std::uint8_t {
    TASK_NONE = 0,
    TASK_WAIT = 1,
    TASK_DONE = 2,
    TASK_FAIL = 3,
};

inline constexpr int MAX_TASKS = 8;
inline constexpr int LINE_COUNT = 8;
// Lines of one command: four job controls of eight lines (job/line_groups.h).
inline constexpr int MAX_LINES = 32;

// One entry. `status` is one byte for all lines, written by every worker that finishes the
// task, and so may be another line's outcome; each line's own outcome is in TaskList.
struct JobTask {
    std::uint8_t code = 0;
    std::atomic<std::uint8_t> status{0};
};

struct TaskList {
    std::uint8_t taskCount = 0;
    std::array<JobTask, MAX_TASKS> tasks{};
    // lineStatus[task][line index]: the outcome of a task on one line.
    std::array<std::array<std::atomic<std::uint8_t>, LINE_COUNT>, MAX_TASKS> lineStatus{};

    // Replaces the list; every entry starts at Wait on every line.
    void Assign(std::initializer_list<std::uint8_t> codes);
    // Every task back to Wait, on every line. Returns false for an empty list.
    bool ResetStatuses();
    void SetOutcome(int task, int lineIndex, TaskStatus status);
    TaskStatus LineOutcome(int task, int lineIndex) const;
};

// What became of a line in all: "failed" when a task failed, "ok" when every task is done,
// "stopped" otherwise (a task never reached).
std::string_view LineResult(const TaskList& tasks, int lineIndex);

// "Update Boot", ..., "Unknown task" for a code without a runner.
std::string_view TaskName(std::uint8_t code);
// "Wait", "Done", "Fail", or "Unknown".
std::string_view TaskStatusName(std::uint8_t status);

}  // namespace zolt
