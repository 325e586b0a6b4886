// The handlers every simulated phone starts with. Each message family installs its own
// handlers from its own file; adding a family means one more call in
// InstallStandardHandlers.
#pragma once

#include "sim/message_table.h"

namespace zolt::sim {

// Loopback, file-system access, release and reset in the firmware (firmware_handlers.cpp).
void InstallFirmwareHandlers(MessageTable& table);
// Loopback, confirm, flash erase and write, and reset in the boot loader
// (boot_loader_handlers.cpp).
void InstallBootLoaderHandlers(MessageTable& table);

void InstallStandardHandlers(MessageTable& table);

}  // namespace zolt::sim
