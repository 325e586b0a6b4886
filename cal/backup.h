// The calibration backup: reads every page the line's catalogue lists from the phone, writes
// them into the line's calibration file, saves one setting of the phone, and holds the file's
// bytes for the restore that follows the reflash.
//
// Both operations run on the line's worker thread and throw LineStopped when the line is
// stopped; the file is then left as far as it was written. Local-file failures are shown
// through `prompt` (from the worker thread) as well as on the status line.
#pragma once

#include <string>

#include "cal/cal_state.h"
#include "io/prompt.h"
#include "link/link_session.h"

namespace zolt {

// "COM-" + (lineIndex + 1) + "calibration.srp" in `workDir` (the panel number, not the COM
// number); no separator is doubled when `workDir` ends in one.
[[nodiscard]] std::string CalibrationFilePath(const std::string& workDir, int lineIndex);

// The runner of Backup Cal-Data: the file-system handshake (mode 1), then
// BackupCalibration. RESULT_OK or RESULT_FAIL, with the status text saying why.
[[nodiscard]] int RunBackupCal(LinkSession& line, CalState& cal, int lineIndex,
                               const std::string& workDir, Prompt& prompt);

// Releases any text held in `cal`, then writes the calibration file (created afresh) while
// reading pages 0 .. pageCount - 1 of the catalogue, reads the setting byte into
// cal.savedSettingByte, releases the phone's file system, and reads the file back into
// cal.backupText. Succeeds only when all of that worked; the restore then has a text to play.
//
// Fails (RESULT_FAIL, status text set) when a page could not fit one reply (before anything
// is sent), the file cannot be created ("Couldn't open file: " and the system's reason, no
// icon), a request cannot be sent, page 0's reply does not match (" Backup fail..."), a later
// page is requested timing.calPageAttemptLimit times without a matching reply, the file
// cannot be written, or it cannot be read back (the file-error report, then "File format
// error !") or held in memory ("No Enough Memory!"). What was written stays on disk.
//
// Progress: flashBlock 1 + pages read so far, flashBlockCount pageCount; flashBlock is 1
// again at the end.
[[nodiscard]] int BackupCalibration(LinkSession& line, CalState& cal, int lineIndex,
                                    const std::string& workDir, Prompt& prompt);

}  // namespace zolt
