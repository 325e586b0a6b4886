#include <limits.h>
#include <unistd.h>

#include "history/history_platform.h"
#include "history/history_recorder.h"

namespace zolt {

bool LocalCalendarTime(std::time_t when, std::tm& local) { return localtime_r(&when, &local) != nullptr; }

// Paths are UTF-8 already.
std::string SqliteFileName(const std::string& path) { return path; }

std::string DefaultStationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
    return name;
}

}  // namespace zolt
