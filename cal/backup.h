// The calibration backup: reads every page the line's catalogue lists from the phone, writes
// them into the line's calibration file, saves one setting of the phone, and holds the file's
// bytes for the restore that follows the reflash.
//
// Both operations run on the line's worker thread and let the link's exceptions through
// (LineStopped when the line is stopped); the file is then closed, left as far as it was
// written. Local-file failures are shown through `prompt` (from the worker thread) as well as
// on the status line.
//
// A backup succeeds only with a file that the restore can play back whole: it fails, so that
// no flash follows, rather than write a record that the restore's reader would refuse.
#pragma once

#include <string>

#include "cal/cal_state.h"
#include "io/prompt.h"
#include "link/link_session.h"

namespace zolt {

// "COM-" + (lineIndex + 1) + "calibration.srp" in `workDir` (the panel number, not the COM
// number); no separator is doubled when `workDir` ends in one.
[[nodiscard]] std::string CalibrationFilePath(const std::string& workDir, int lineIndex);

// The file beside a calibration file that keeps the setting saved with it (its value in
// decimal and a line feed), so that a saved backup can be played back whole after the job
// that made it: "COM-3calibration.srp" gives "COM-3calibration.setting".
[[nodiscard]] std::string SettingFilePath(const std::string& calibrationPath);

// Takes a calibration file saved by an earlier backup, and the setting beside it when that
// file is there and holds a byte, into `cal` for a restore. Returns false, with the reason in
// `reason`, when the calibration file cannot be read.
[[nodiscard]] bool LoadSavedBackup(CalState& cal, const std::string& calibrationPath, std::string& reason);

// The runner of Backup Cal-Data: releases any text held in `cal`, makes the catalogue check
// of BackupCalibration (before anything is sent), runs the file-system handshake (mode 1),
// then BackupCalibration. RESULT_OK or RESULT_FAIL, with the status text saying why.
[[nodiscard]] int RunBackupCal(LinkSession& line, CalState& cal, int lineIndex,
                               const std::string& workDir, Prompt& prompt);

// Releases any text held in `cal`, then writes the calibration file (created afresh, and held
// so that no other program opens it until it is closed; see OutputFile) while reading pages
// 0 .. pageCount - 1 of the catalogue, reads the setting byte into cal.savedSettingByte,
// releases the phone's file system, and reads the file back into cal.backupText. Succeeds only
// when all of that worked; the restore then has a text to play.
//
// Pages are read as cal/phone_reads.h says: a reply counts only when it is intact, echoes the
// whole request and holds all the page's data; the pause after each page is spent reading
// and dropping what comes.
//
// Fails (RESULT_FAIL) when
// - before anything is sent: a page could not fit one reply ("Calibration page X of N bytes
//   is too large for a reply (788 bytes at most)!") or its record would be refused by the
//   restore's reader, whatever its data ("Calibration page X cannot be restored: record
//   longer than 3000 bytes!");
// - the file cannot be created ("Couldn't open file: " and the system's reason, no icon);
// - a request cannot be sent (no status text of its own);
// - page 0's reply does not match (" Backup fail...");
// - a later page is requested timing.calPageAttemptLimit times in all without a matching
//   reply (" Backup fail... page X not read in 100 requests!");
// - a page's record, with the data read, would be refused by the restore's reader (its
//   escaped request too long for a frame; the same text as above), before it is written;
// - the file cannot be written, or it cannot be read back (the file-error report, then "File
//   format error !") or held in memory ("No Enough Memory!").
// What was written stays on disk.
//
// Progress: flashBlock 1 + pages read so far, flashBlockCount pageCount; flashBlock is 1
// again at the end.
[[nodiscard]] int BackupCalibration(LinkSession& line, CalState& cal, int lineIndex,
                                    const std::string& workDir, Prompt& prompt);

}  // namespace zolt
