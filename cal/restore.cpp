#include "cal/restore.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "cal/phone_reads.h"
#include "cal/record_player.h"
#include "io/texts.h"
#include "link/messages.h"

namespace zolt {
namespace {

// The frame a receive delivers for an L = 1 frame, the time-out frame among them.
constexpr int FIVE_BYTE_FRAME = 5;

int Fail(LinkSession& line, const std::string& text) {
    line.SetStatusText(text);
    return RESULT_FAIL;
}

int BodyLength(const LinkSession& line) { return msg::BodyLength(line.rxFrame.data()); }

bool ChecksumValidAt(const LinkSession& line, int at) {
    return FrameChecksum(line.rxFrame.data(), at) == line.rxFrame[static_cast<std::size_t>(at)];
}

void BuildProbe(LinkSession& line) { line.BuildRequest(msg::PROBE); }

// File-system access, two loopback probes and their echo, then 31 01 00 00. The access
// handshake's result is not looked at, as the phone may grant it with another reply, unless a
// bounded phone wait ended it: then no phone is there.
int OpeningHandshake(LinkSession& line) {
    const Deadline wait = line.PhoneWait();
    if (line.WaitForFs(FS_RESTORE) != RESULT_OK && !wait.Endless()) return RESULT_FAIL;
    for (int probe = 0; probe < 2; ++probe) {
        BuildProbe(line);
        if (line.SendFrame() < 0) return Fail(line, texts::LOOPBACK_TIMEOUT);
    }
    const Deadline echo = line.PhoneWait();
    Deadline ask = line.AskAgainAt();
    for (;;) {
        const int got = line.ReceiveOrAskAgain(ask, echo);
        if (got == 0) {
            if (echo.Passed()) return line.PhoneWaitFailed("loopback echo");
            // Unheard probes are never echoed: a receive limit after the last, probe again.
            BuildProbe(line);
            if (line.SendFrame() < 0) return Fail(line, texts::LOOPBACK_TIMEOUT);
            ask = line.AskAgainAt();
            continue;
        }
        if (BodyLength(line) == msg::ECHO_LENGTH) {
            constexpr int at = msg::ECHO_LENGTH + 3;
            if (ChecksumValidAt(line, at) && line.rxFrame[at] == msg::ECHO_CHECKSUM) {
                break;
            }
            continue;
        }
        // A short frame of another kind: the phone has not taken the probes yet.
        if (got == FIVE_BYTE_FRAME) {
            line.Pause(line.timing.probeGap);
            BuildProbe(line);
            if (line.SendFrame() < 0) return Fail(line, texts::LOOPBACK_TIMEOUT);
            ask = line.AskAgainAt();
        }
    }
    line.BuildRequest(msg::MARKER_BEGIN);
    return line.SendFrame() < 0 ? RESULT_FAIL : RESULT_OK;
}

int SendClosing(LinkSession& line) {
    line.BuildRequest(msg::MARKER_END);
    return line.SendFrame();
}

void SendSettingWrite(LinkSession& line, std::uint8_t setting) {
    line.txLength = 3 + msg::SettingWrite(line.ClearRequest(), setting);
    if (line.SendFrame() < 0) line.SetStatusText(texts::LOOPBACK_TIMEOUT);
}

// Writes the setting back, asking again a receive limit after each send, until the phone
// accepts it or the phone wait ends.
int WriteSetting(LinkSession& line, std::uint8_t setting) {
    const Deadline wait = line.PhoneWait();
    SendSettingWrite(line, setting);
    Deadline ask = line.AskAgainAt();
    for (;;) {
        if (line.ReceiveOrAskAgain(ask, wait) == 0) {
            if (wait.Passed()) return line.PhoneWaitFailed("setting write");
            SendSettingWrite(line, setting);
            ask = line.AskAgainAt();
            continue;
        }
        if (IsSettingWriteReply(line.Received())) return RESULT_OK;
    }
}

// The setting as the phone holds it now, read in a file-system session of its own: the
// restore writes it after it has released the phone's file system.
std::optional<std::uint8_t> ReadSettingBack(LinkSession& line) {
    const Deadline wait = line.PhoneWait();
    if (line.WaitForFs(FS_RESTORE) != RESULT_OK && !wait.Endless()) return std::nullopt;
    const auto setting = ReadCalSetting(line, false);
    (void)line.FinishFsAccess();
    return setting;
}

std::string SettingDiffers(std::uint8_t read, std::uint8_t written, int writes) {
    return texts::RESTORE_FAIL + std::string(" the setting reads back ") + std::to_string(read) + ", not " +
           std::to_string(written) + ", after " + std::to_string(writes) + " writes!";
}

// Writes the saved setting and reads it back, writing it again while it differs, within the
// rewrite limit.
int RestoreSetting(LinkSession& line, std::uint8_t setting) {
    for (int writes = 1;; ++writes) {
        if (WriteSetting(line, setting) != RESULT_OK) return RESULT_FAIL;
        const auto read = ReadSettingBack(line);
        if (!read) return RESULT_FAIL;
        if (*read == setting) return RESULT_OK;
        if (writes > line.timing.calRewriteLimit) return Fail(line, SettingDiffers(*read, setting, writes));
    }
}

// Reads back every page that the restore wrote, the way the backup reads it, and writes a page
// that differs again, within the rewrite limit. Progress: the pages read back of those written.
int CheckPages(LinkSession& line, CalState& cal, RecordPlayer& player) {
    std::vector<const RecordPlayer::Sent*> written;
    for (const RecordPlayer::Sent& s : player.sent()) {
        if (s.kind == SRP_DB_WRITE) written.push_back(&s);
    }
    line.flashBlock.store(1);
    for (const RecordPlayer::Sent* s : written) {
        line.flashBlockCount.store(static_cast<std::int32_t>(written.size()));
        const CalMessageEntry& entry = cal.catalog.entries[static_cast<std::size_t>(s->page)];
        const auto wrote = std::span<const std::uint8_t>(s->request).subspan(msg::DB_WRITE_HEADER);
        for (int writes = 1;; ++writes) {
            line.SetStatusText(texts::BACKUP_PAGE + entry.msgString);
            const PageReading read = ReadCalPage(line, entry, line.timing.calPageAttemptLimit);
            if (read.outcome == PageReading::Outcome::NotSent) return RESULT_FAIL;
            if (read.outcome != PageReading::Outcome::Read) {
                return Fail(line, texts::RESTORE_FAIL + std::string(" page ") + entry.msgString + " not read back!");
            }
            line.PauseDiscarding(line.timing.calRecordGap);
            const std::size_t n = std::min(read.data.size(), wrote.size());
            if (std::equal(wrote.begin(), wrote.begin() + static_cast<std::ptrdiff_t>(n), read.data.begin())) break;
            if (writes > line.timing.calRewriteLimit) {
                return Fail(line, texts::RESTORE_FAIL + std::string(" page ") + entry.msgString +
                                      " reads back different after " + std::to_string(writes) + " writes!");
            }
            if (writes == 1) ++cal.pagesRewritten;
            line.flashBlockCount.store(cal.catalog.pageCount);
            if (player.SendAgain(*s) != RESULT_OK) return RESULT_FAIL;
            line.flashBlockCount.store(static_cast<std::int32_t>(written.size()));
        }
        line.flashBlock.fetch_add(1);
    }
    return RESULT_OK;
}

// A script's setting record, read back through the setting read: the last such record is what
// the phone must hold. The script's other FFS SIDB writes cannot be read back.
int CheckScriptSetting(LinkSession& line, RecordPlayer& player) {
    const RecordPlayer::Sent* last = nullptr;
    std::uint8_t value = 0;
    for (const RecordPlayer::Sent& s : player.sent()) {
        std::uint8_t v = 0;
        if (IsSettingWrite(s.request, v)) {
            last = &s;
            value = v;
        }
    }
    if (!last) return RESULT_OK;
    for (int writes = 1;; ++writes) {
        const auto read = ReadCalSetting(line, false);
        if (!read) return RESULT_FAIL;
        if (*read == value) return RESULT_OK;
        if (writes > line.timing.calRewriteLimit) return Fail(line, SettingDiffers(*read, value, writes));
        if (player.SendAgain(*last) != RESULT_OK) return RESULT_FAIL;
    }
}

}  // namespace

int RunRestoreCal(LinkSession& line, CalState& cal) {
    int result = RESULT_FAIL;
    {
        const ClearProgressTotal clear{line};
        result = RestoreCalibration(line, cal);
    }
    line.Pause(line.timing.restoreDonePause);
    return result;
}

int RestoreCalibration(LinkSession& line, CalState& cal) {
    cal.pagesRewritten = 0;
    if (!cal.backupHeld) {
        return Fail(line, "No calibration backup to restore: Backup Cal-Data must succeed first!");
    }
    RecordPlayer player(line, cal, SrpRun::Restore, 0);
    if (player.Check(cal.backupText) != RESULT_OK) return RESULT_FAIL;
    if (OpeningHandshake(line) != RESULT_OK) return RESULT_FAIL;
    line.flashBlock.store(1);
    if (player.Play() != RESULT_OK) return RESULT_FAIL;
    if (CheckPages(line, cal, player) != RESULT_OK) return RESULT_FAIL;
    if (SendClosing(line) < 0) return RESULT_FAIL;
    (void)line.FinishFsAccess();
    line.Pause(line.timing.restoreSettingPause);
    if (cal.writeSettingBack && RestoreSetting(line, cal.savedSettingByte) != RESULT_OK) return RESULT_FAIL;
    line.SetStatusText(texts::RESTORE_FINISHED);
    line.SetStatusText(texts::PASS);
    cal.ReleaseBackup();
    return RESULT_OK;
}

int RunScriptTask(LinkSession& line, CalState& cal, std::span<const std::uint8_t> file) {
    return RunScriptFile(line, cal, file);
}

int RunScriptFile(LinkSession& line, CalState& cal, std::span<const std::uint8_t> text) {
    line.flashBlock.store(1);
    const int total = SrpReader::CountEtsMarks(text.data(), text.size());
    RecordPlayer player(line, cal, SrpRun::Script, total);
    if (player.Check(text) != RESULT_OK) return RESULT_FAIL;
    if (OpeningHandshake(line) != RESULT_OK) return RESULT_FAIL;
    if (player.Play() != RESULT_OK) return RESULT_FAIL;
    if (CheckScriptSetting(line, player) != RESULT_OK) return RESULT_FAIL;
    line.SetStatusText(texts::RESTORE_FINISHED);
    line.SetStatusText(texts::PASS);
    // The records are all written, but the phone was never told that the writes are over:
    // the run fails, though the status line (as the tool always has) still says " PASS...".
    if (SendClosing(line) < 0) return RESULT_FAIL;
    (void)line.FinishFsAccess();
    cal.ReleaseBackup();
    return RESULT_OK;
}

}  // namespace zolt
