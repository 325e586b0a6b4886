#include "sim/standard_handlers.h"

namespace zolt::sim {

void InstallStandardHandlers(MessageTable& table) {
    InstallFirmwareHandlers(table);
    InstallBootLoaderHandlers(table);
    InstallCalibrationHandlers(table);
}

}  // namespace zolt::sim
