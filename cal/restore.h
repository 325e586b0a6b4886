// Restore and script runs: play a calibration text back to the phone record by record, each
// record one write request that the phone must acknowledge, between an opening handshake
// (file-system access, loopback echo, 31 01 00 00) and a closing 31 01 01 00.
//
// All run on the line's worker thread and throw LineStopped when the line is stopped. Each
// returns RESULT_OK or RESULT_FAIL with the status text saying why.
//
// Record rules common to both:
// - a record that does not fit the reader's buffers or a frame (more than 1000 records, a
//   record line over 3000 bytes, more than 800 data bytes, a request over 800 bytes) fails
//   the run with a status text naming it, and nothing of it is sent;
// - a refusal (9B 08) or a time-out of record 0 fails with " Backup fail...";
// - a refusal or time-out of a later record sends it again, at most
//   timing.calRecordResendLimit times in all (counting the re-sends below);
// - every timing.calUnrecognisedReplyLimit-th reply to a database write that is no answer
//   at all, counted over the run, sends the record being written again;
// - a request that cannot be sent releases the held backup text and fails.
#pragma once

#include <cstdint>
#include <span>

#include "cal/cal_state.h"
#include "link/link_session.h"

namespace zolt {

// The runner of Restore Cal-Data: RestoreCalibration, then, whatever its outcome,
// flashBlockCount 0 and timing.restoreDonePause.
[[nodiscard]] int RunRestoreCal(LinkSession& line, CalState& cal);

// Plays cal.backupText, database and FFS SIDB writes alike, then the closing request, the
// release of the phone's file system, timing.restoreSettingPause and the write of
// cal.savedSettingByte (re-sent after every receive limit until the phone accepts it).
// Without a held backup text it fails at once, sending nothing. Releases the text when it
// succeeds. Progress: flashBlock 1 + records accepted, flashBlockCount pageCount while a
// database write is sent and 209 while an FFS SIDB write is.
[[nodiscard]] int RestoreCalibration(LinkSession& line, CalState& cal);

// The runner of Script: RunScriptFile with the job's loaded file.
[[nodiscard]] int RunScriptTask(LinkSession& line, CalState& cal,
                                std::span<const std::uint8_t> file);

// Plays only the FFS SIDB write records of `text` (which must stay unchanged meanwhile),
// shows " Restore finished..." and " PASS...", then sends the closing request; a closing
// that cannot be sent fails the run after all, saying so. Releases any held backup text
// when it succeeds. Progress: flashBlockCount is the number of "ETS" marks in the text
// less 2.
[[nodiscard]] int RunScriptFile(LinkSession& line, CalState& cal,
                                std::span<const std::uint8_t> text);

}  // namespace zolt
