// Job control's records of ended lines, for the history: what each line did in the job, taken
// on the owner's thread while the line's outcomes still stand.
#include <chrono>

#include "io/sha256.h"
#include "job/job_control.h"

namespace zolt {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool Has(const TaskList& tasks, std::uint8_t code) {
    for (int t = 0; t < tasks.taskCount; ++t) {
        if (tasks.tasks[t].code == code) return true;
    }
    return false;
}

// The update choice as the history names it.
std::string ChoiceName(const TaskList& tasks) {
    if (Has(tasks, TASK_SCRIPT)) return "script";
    if (Has(tasks, TASK_BACKUP_CAL)) return "all+cal";
    if (Has(tasks, TASK_UPDATE_BOOT)) return Has(tasks, TASK_UPDATE_CP) ? "all" : "boot";
    if (Has(tasks, TASK_UPDATE_CP)) return "cp";
    if (Has(tasks, TASK_UPDATE_DATA)) return "data";
    return Has(tasks, TASK_RESTORE_CAL) ? "restore" : "";
}

}  // namespace

void JobControl::BeginRecords(const std::string& filePath) {
    if (!recorder_) return;
    const auto bytes = file.Bytes();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    record_ = {};
    record_.imageName = filePath;
    record_.imageSize = bytes.size();
    record_.imageSha256 = Sha256Hex(text);
    if (file.lastLoadedKind() == JobFileKind::Image) {
        record_.bootVersion = file.info().BootVersionText();
        record_.cpVersion = file.info().CpVersionText();
    }
    record_.update = ChoiceName(tasks);
    for (int i = 0; i < LINE_COUNT; ++i) {
        BeginLineRecord(i);
        recorded_[i] = !lines[i].IsAttached();
    }
}

void JobControl::BeginLineRecord(int index) {
    lineStartedMs_[index] = NowMs();
    recorded_[index] = false;
    lines[index].cal.lastBackup = {};
}

void JobControl::RecordLine(int index) {
    // Only once the line's worker has ended (its end posted, or stopped): what it kept for
    // each task is complete, and nothing writes it any more.
    if (!recorder_ || recorded_[index] || lines[index].IsRunning()) return;
    recorded_[index] = true;
    const PortSession& line = lines[index];
    LineRecord record = record_;
    record.line = line.lineNumber;
    record.port = portLabels_[index].empty() ? line.portName : portLabels_[index];
    record.device = line.portName;
    record.usbSerial = usbSerials_[index];
    record.startedMs = lineStartedMs_[index];
    record.endedMs = NowMs();
    record.status = line.statusText.Get();
    for (int t = 0; t < tasks.taskCount; ++t) {
        record.tasks.push_back({std::string(TaskName(tasks.tasks[t].code)),
                                std::string(TaskStatusName(tasks.LineOutcome(t, index))),
                                line.taskEndStatus[static_cast<std::size_t>(t)]});
    }
    record.outcome = LineResult(tasks, index);
    const CalState::Taken& backup = line.cal.lastBackup;
    if (backup.taken) {
        record.backup = {true, Sha256Hex(backup.text), backup.text, backup.setting, backup.archivePath};
    }
    recorder_->Record(std::move(record));
}

}  // namespace zolt
