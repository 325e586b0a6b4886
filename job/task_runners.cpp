// The runners of this build, by task code.
#include "cal/backup.h"
#include "cal/restore.h"
#include "job/port_session.h"
#include "job/flash_runners.h"

namespace zolt {

TaskRunners TaskRunners::Standard() {
    TaskRunners runners;
    // Until a task is built into the tool it fails, so that no job ever reports it done.
    const TaskRunner missing = [](PortSession& line, bool) {
        line.SetStatusText("This task is not available in this build.");
        return RESULT_FAIL;
    };
    for (std::uint8_t code = TASK_UPDATE_BOOT; code <= TASK_SCRIPT; ++code) runners.Set(code, missing);

    runners.Set(TASK_UPDATE_BOOT, [](PortSession& line, bool) {
        return RunUpdateBoot(line, *line.owner->config, line.owner->file);
    });
    runners.Set(TASK_UPDATE_CP, [](PortSession& line, bool firstTask) {
        return RunUpdateCp(line, *line.owner->config, line.owner->file, firstTask);
    });
    runners.Set(TASK_UPDATE_DATA, [](PortSession& line, bool firstTask) {
        return RunUpdateData(line, *line.owner->config, line.owner->file, firstTask);
    });
    runners.Set(TASK_BACKUP_CAL, [](PortSession& line, bool) {
        // The file is named after the line's number: the command line numbers lines past
        // eight, where the index inside one job control would give line 9 the file of line 1.
        return RunBackupCal(line, line.cal, line.lineNumber - 1, line.workDir, *line.owner->prompt);
    });
    runners.Set(TASK_RESTORE_CAL, [](PortSession& line, bool) { return RunRestoreCal(line, line.cal); });
    runners.Set(TASK_SCRIPT, [](PortSession& line, bool) {
        return RunScriptTask(line, line.cal, line.owner->file);
    });
    return runners;
}

}  // namespace zolt
