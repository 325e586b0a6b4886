// The files of a calibration backup: the line's calibration file and the setting file beside
// it, the archive of every complete backup below the work folder, and the check that a saved
// backup can be played back whole before anything is sent (docs/calibration-files.md).
//
// A setting file names the calibration file it belongs to by the SHA-256 of its bytes:
//     setting=51
//     srp-sha256=<64 hexadecimal digits>
// so that a pair that does not belong together (a backup stopped between its two files, a
// file copied from another line) is refused, never played back with the wrong setting.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "cal/cal_state.h"
#include "io/atomic_file.h"

namespace zolt {

// "COM-" + (lineIndex + 1) + "calibration.srp" in `workDir` (the panel number, not the COM
// number); no separator is doubled when `workDir` ends in one.
[[nodiscard]] std::string CalibrationFilePath(const std::string& workDir, int lineIndex);

// The file beside a calibration file that keeps the setting saved with it:
// "COM-3calibration.srp" gives "COM-3calibration.setting".
[[nodiscard]] std::string SettingFilePath(const std::string& calibrationPath);

// The text of the setting file that belongs to the calibration text `calibration`.
[[nodiscard]] std::string SettingFileText(std::uint8_t setting, std::string_view calibration);

// The folder below `workDir` that keeps every complete backup: "backups".
[[nodiscard]] std::string BackupArchiveFolder(const std::string& workDir);

// The archive's name for a backup of line `lineIndex` made at `when` (UTC) whose calibration
// text has the SHA-256 `fingerprint` (hexadecimal):
// "backups/20261209-031530-COM-3-<first 12 digits>.srp" below `workDir`.
[[nodiscard]] std::string BackupArchivePath(const std::string& workDir, int lineIndex, std::time_t when,
                                            std::string_view fingerprint);

// Puts a complete backup on the disk. `calibration` has been begun on
// CalibrationFilePath(workDir, lineIndex) and holds `text`. In this order, each file written
// whole under a temporary name, put on the disk, then renamed into place:
// 1. the archive's pair (BackupArchivePath, never over an existing file);
// 2. the line's calibration file (commits `calibration`);
// 3. the line's setting file.
// An interruption between 2 and 3 leaves the new calibration file beside the old setting
// file, which no longer names it and is refused. On failure returns false with the reason;
// what was not yet renamed is left as it was, and `calibration` is abandoned. `archivePath`,
// when given, receives the archive's copy once the line's file is in place.
[[nodiscard]] bool CommitBackupFiles(AtomicFile& calibration, std::string_view text, std::uint8_t setting,
                                     const std::string& workDir, int lineIndex, std::string& reason,
                                     std::string* archivePath = nullptr);

// Whether `text`, a saved calibration file, is a whole backup of the pages of cal.catalog that
// the restore can play back: not empty, closed by its "END" line, exactly one record per
// catalogue page in the catalogue's order, each naming its page and writing its database,
// segment, offset and length, and each one the reader builds. Otherwise false with the
// reason. Uses cal.reader, whose text and message are left as they were found (no text).
[[nodiscard]] bool CheckSavedBackup(CalState& cal, std::string_view text, std::string& reason);

// Reads the setting byte from a setting file's `settingText` when it names `calibration` by
// its fingerprint. A setting file of an older ZOLT (the byte alone) names no file: it is
// refused, and the reason tells the line that would pair it with this file.
[[nodiscard]] bool ReadSettingFile(std::string_view settingText, std::string_view calibration,
                                   std::uint8_t& setting, std::string& reason);

// Reads a calibration file saved by an earlier backup (the line's file, or one of the archive)
// and the setting file beside it, checks both (CheckSavedBackup, ReadSettingFile), and only
// then puts them into `cal` for a restore: the text held, the setting written back. On
// failure returns false with the reason, and `cal` holds no text.
[[nodiscard]] bool LoadSavedBackup(CalState& cal, const std::string& calibrationPath, std::string& reason);

}  // namespace zolt
