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

// Page and setting reads, database writes, the record markers, and the calibration wiped
// with the Data area (cal_handlers.cpp). After the boot loader's handlers: it adds to their
// flash erase.
void InstallCalibrationHandlers(MessageTable& table);

void InstallStandardHandlers(MessageTable& table);

// Closes the file system: access needs a new handshake.
void CloseFileSystem(PhoneState& state);
// What a reset does in either mode: the phone restarts, closes its file system, and hears
// nothing for restartTime from the reset's arrival.
void Restart(PhoneContext& phone, const Request& reset);

}  // namespace zolt::sim
