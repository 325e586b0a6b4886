// Restore and script runs: play a calibration text back to the phone record by record, each
// record one write request that the phone must acknowledge, between an opening handshake
// (file-system access, loopback echo, 31 01 00 00) and a closing 31 01 01 00.
//
// All run on the line's worker thread and let the link's exceptions through (LineStopped when
// the line is stopped). Each returns RESULT_OK or RESULT_FAIL, the status text saying why
// except where the rules below say otherwise.
//
// Record rules common to both (cal/record_player.h says how an acceptance is told from an
// answer owed to an earlier send):
// - every record the run sends is read and built before anything is sent; one that does not
//   fit the reader's buffers or a frame (more than 1000 records, a record line over 3000
//   bytes, more than 800 data bytes, a request over 800 bytes), or a restore's database write
//   that no catalogue page reads back, fails the run with a status text naming it ("Record 2
//   (line 4) refused: longer than 3000 bytes"), and nothing at all is sent;
// - a refusal (9B 08) of record 0 fails with " Backup fail...";
// - a refusal of a later record, and a time-out (no answer within one answer time of the
//   send) of any record, sends it again;
// - every timing.calUnrecognisedReplyLimit-th reply to a database write that is no answer
//   at all, counted over the run, sends the record being written again;
// - a record is sent at most timing.calRecordResendLimit times in all; then the run fails
//   with a status text naming it;
// - a request that cannot be sent fails the run without a status text of its own; a record
//   request that cannot be sent releases the held backup text.
// What was written is shown written before a run passes: a restore reads back every page it
// wrote, and the setting; a script, which writes only FFS SIDB records, reads back its
// calibration setting, if it writes one. What reads back different is written again, at most
// timing.calRewriteLimit times, after which the run fails with " Restore fail..." and what
// differs. Waits for the phone that have no limit of their own end after timing.phoneWait.
#pragma once

#include <cstdint>
#include <span>

#include "cal/cal_state.h"
#include "link/link_session.h"

namespace zolt {

// The runner of Restore Cal-Data: RestoreCalibration, then, whatever its outcome,
// flashBlockCount 0 and timing.restoreDonePause.
[[nodiscard]] int RunRestoreCal(LinkSession& line, CalState& cal);

// Plays cal.backupText, database and FFS SIDB writes alike, reads back every page written
// (writing again those that differ, counted in cal.pagesRewritten), then sends the closing
// request, the release of the phone's file system, timing.restoreSettingPause and the write
// of cal.savedSettingByte (re-sent after every receive limit until the phone accepts it),
// which it reads back in a file-system session of its own.
// Without a held backup text it fails at once, sending nothing. Releases the text when it
// succeeds. Progress: flashBlock 1 + records accepted, flashBlockCount pageCount while a
// database write is sent and 209 while an FFS SIDB write is.
[[nodiscard]] int RestoreCalibration(LinkSession& line, CalState& cal);

// The runner of Script: RunScriptFile with the job's loaded file.
[[nodiscard]] int RunScriptTask(LinkSession& line, CalState& cal,
                                std::span<const std::uint8_t> file);

// Plays only the FFS SIDB write records of `text` (which must stay unchanged meanwhile),
// shows " Restore finished..." and " PASS...", then sends the closing request; a closing
// that cannot be sent fails the run after all, with " PASS..." left on the status line.
// Releases any held backup text when it succeeds, and when a record request cannot be sent.
// Progress: flashBlockCount is the number of "ETS" marks in the text less 2.
[[nodiscard]] int RunScriptFile(LinkSession& line, CalState& cal,
                                std::span<const std::uint8_t> text);

}  // namespace zolt
