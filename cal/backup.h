// The calibration backup: reads every page the line's catalogue lists from the phone, writes
// them into the line's calibration file, saves one setting of the phone, and holds the file's
// bytes for the restore that follows the reflash.
//
// Both operations run on the line's worker thread and let the link's exceptions through
// (LineStopped when the line is stopped); the line's files are then left as they were, and
// the temporary file is removed. Local-file failures are shown through `prompt` (from the
// worker thread) as well as on the status line.
//
// A backup succeeds only with a file that the restore can play back whole: it fails, so that
// no flash follows, rather than write a record that the restore's reader would refuse.
#pragma once

#include <optional>
#include <string>

#include "cal/backup_files.h"
#include "cal/cal_state.h"
#include "io/prompt.h"
#include "link/link_session.h"

namespace zolt {

// Why the catalogue in `cal` could not serve a backup and its restore, whatever the pages hold,
// in the operator's words ("Calibration page X cannot be restored: ..."); nothing when it can.
// Uses the line's reader, so call it only where no run uses that line.
[[nodiscard]] std::optional<std::string> CatalogProblem(CalState& cal);

// The runner of Backup Cal-Data: releases any text held in `cal`, makes the catalogue check
// of BackupCalibration (before anything is sent), runs the file-system handshake (mode 1),
// then BackupCalibration. RESULT_OK or RESULT_FAIL, with the status text saying why.
[[nodiscard]] int RunBackupCal(LinkSession& line, CalState& cal, int lineIndex,
                               const std::string& workDir, Prompt& prompt);

// Releases any text held in `cal`, then reads pages 0 .. pageCount - 1 of the catalogue into a
// temporary file beside the line's calibration file (the line's file held against other
// writers meanwhile; see AtomicFile), reads the setting byte into cal.savedSettingByte,
// releases the phone's file system, and puts the backup on the disk with CommitBackupFiles:
// the archive's pair, then the line's calibration file and its setting file. Succeeds only
// when all of that worked; cal.backupText then holds the text written, for the restore.
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
// - the line's file cannot be replaced, or the temporary file cannot be created ("Couldn't
//   open file: " and the system's reason, no icon);
// - a request cannot be sent (no status text of its own);
// - page 0's reply does not match (" Backup fail...");
// - a later page is requested timing.calPageAttemptLimit times in all without a matching
//   reply (" Backup fail... page X not read in 100 requests!");
// - a page's record, with the data read, would be refused by the restore's reader (its
//   escaped request too long for a frame; the same text as above), before it is written;
// - the temporary file cannot be written ("Couldn't write the calibration file ..."), or the
//   backup cannot be put on the disk ("Couldn't save the calibration backup: " and why).
// On every failure, and on a stop, the line's files stay as they were.
//
// Progress: flashBlock 1 + pages read so far, flashBlockCount pageCount; flashBlock is 1
// again at the end.
[[nodiscard]] int BackupCalibration(LinkSession& line, CalState& cal, int lineIndex,
                                    const std::string& workDir, Prompt& prompt);

}  // namespace zolt
