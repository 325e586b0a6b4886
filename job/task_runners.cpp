// The runners of this build, by task code.
#include "job/port_session.h"

namespace zolt {

TaskRunners TaskRunners::Standard() {
    TaskRunners runners;
    // Until a task is built into the tool it fails, so that no job ever reports it done.
    const TaskRunner missing = [](PortSession& line, bool) {
        line.SetStatusText("This task is not available in this build.");
        return RESULT_FAIL;
    };
    for (std::uint8_t code = TASK_UPDATE_BOOT; code <= TASK_SCRIPT; ++code) runners.Set(code, missing);
    return runners;
}

}  // namespace zolt
