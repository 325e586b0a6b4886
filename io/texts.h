// The operator's texts: status lines, message boxes and labels, each written once, word for
// word as operators know them (odd spellings and spacing included), for the core and every
// front end.
#pragma once

namespace zolt::texts {

// --- Status lines of a line ---
inline constexpr const char* WAITING = "Waiting ...";
inline constexpr const char* NOT_USED = "Not used !";
inline constexpr const char* WAIT_FOR_READ_FS = "Wait for read FS...";
inline constexpr const char* LOOPBACK_TIMEOUT = "Timeout on message loopback!";
inline constexpr const char* WAIT_FOR_FS_ERROR = "WAIT FOR FS error!";
inline constexpr const char* BACKUP_WAIT_SUCCESS = "Backup wait for success.";
inline constexpr const char* RESTORE_WAIT_SUCCESS = "Restore wait for success.";
inline constexpr const char* WAIT_FOR_BOOT_LOAD = "Wait for boot load...";
inline constexpr const char* BOOT_LOAD_SUCCESS = "Boot load success.";
inline constexpr const char* BOOT_LOAD_FAILED = "Boot load failed.";
inline constexpr const char* FLASH_TYPE_ERROR = "Flash type error!";
// The flash texts below that end in a dot are followed by "(" + image name + ")".
inline constexpr const char* FLASH_ERASING = "Flash erasing...";
inline constexpr const char* FLASH_ERASE_ERROR = "Flash erase error!";
inline constexpr const char* FLASH_ERASE_SUCCESS = "Flash erase success.";
inline constexpr const char* FLASH_WRITING = "Flash writing...";
inline constexpr const char* FLASH_ERASE_FAILED = "Flash Erase error!";  // the write found no erased area
inline constexpr const char* FLASH_WRITING_SUCCESS = "Flash writing success.";
inline constexpr const char* FLASH_WRITE_ERROR = "Flash write error!";
inline constexpr const char* LINK_ERROR = "Link error!";
inline constexpr const char* RESET_PHONE_ERROR = "Reset phone error.";
inline constexpr const char* BACKUP_FAIL = " Backup fail...";
inline constexpr const char* BACKUP_PAGE = "Backup  Calbration...... ";   // + page name
inline constexpr const char* BACKUP_FINISHED = " Backup  finished...";
inline constexpr const char* RESTORE_PAGE = "Restore Calbration..... ";   // + page name
inline constexpr const char* RESTORE_FINISHED = " Restore finished...";
// A restore that could not show its pages or setting written: + what differs.
inline constexpr const char* RESTORE_FAIL = " Restore fail...";
inline constexpr const char* PASS = " PASS...";
// "Serial port " + port name + " lost!" / " could not be opened again!"
inline constexpr const char* SERIAL_PORT = "Serial port ";
inline constexpr const char* PORT_LOST = " lost!";
inline constexpr const char* PORT_NOT_REOPENED = " could not be opened again!";

// --- Message boxes ---
inline constexpr const char* FILE_FORMAT_ERROR = "File format error !";
inline constexpr const char* NO_ENOUGH_MEMORY = "No Enough Memory!";
inline constexpr const char* COULDNT_OPEN_FILE = "Couldn't open file: ";  // + the reason
inline constexpr const char* PORT_USED = "Port has been used!";
inline constexpr const char* SELECT_BINARY = "Please select the binary file for done.";
inline constexpr const char* SELECT_ACTIONS = "Please select the actions for done.";
inline constexpr const char* SELECT_PORTS = "Please select the ports for done.";
inline constexpr const char* SET_CONFIG_FIRST = "pleace set config file !";
inline constexpr const char* UNKNOWN_FUNCTIONS = "Unkown functions!";

// --- Labels and file choosers of the window ---
inline constexpr const char* NO_FILE_OPENED = "No file opened!";
inline constexpr const char* IMAGE_FILTER = "Rom Files(*.bin)|*.bin|All Files(*.*)|*.*||";
inline constexpr const char* SCRIPT_FILTER = "Rom Files(*.srp)|*.srp|All Files(*.*)|*.*||";
inline constexpr const char* IMAGE_DEFAULT_EXTENSION = "rom";

}  // namespace zolt::texts
