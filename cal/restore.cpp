#include "cal/restore.h"

#include <string>

#include "io/texts.h"
#include "link/messages.h"

namespace zolt {
namespace {

// The progress total while a restore sends an FFS SIDB write, whatever the text holds.
constexpr int SIDB_PROGRESS_TOTAL = 209;

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

bool ReplyIdIs(const LinkSession& line, std::uint16_t id) { return msg::IdOf(line.rxFrame.data() + 3) == id; }

void ReleaseBackup(CalState& cal) {
    cal.backupText = {};
    cal.backupHeld = false;
    // The reader must not keep pointing into the released text.
    (void)cal.reader.SplitRecords(nullptr, 0);
}

void BuildProbe(LinkSession& line) { line.BuildRequest(msg::PROBE); }

// File-system access, two loopback probes and their echo, then 31 01 00 00.
int OpeningHandshake(LinkSession& line) {
    (void)line.WaitForFs(FS_RESTORE);
    for (int probe = 0; probe < 2; ++probe) {
        BuildProbe(line);
        if (line.SendFrame() < 0) return Fail(line, texts::LOOPBACK_TIMEOUT);
    }
    for (;;) {
        const int got = line.ReceiveFrame(RECEIVE_POLL);
        if (got == 0) {
            // Unheard probes are never echoed: after a silent receive limit, probe again.
            BuildProbe(line);
            if (line.SendFrame() < 0) return Fail(line, texts::LOOPBACK_TIMEOUT);
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

// Writes the setting back, asking again after every silent receive limit; the phone accepts
// it in the end, or the job is stopped.
void WriteSetting(LinkSession& line, std::uint8_t setting) {
    SendSettingWrite(line, setting);
    for (;;) {
        if (line.ReceiveFrame(RECEIVE_POLL) == 0) {
            SendSettingWrite(line, setting);
            continue;
        }
        if (BodyLength(line) == msg::SETTING_WRITE_REPLY_LENGTH &&
            ChecksumValidAt(line, msg::SETTING_WRITE_REPLY_LENGTH + 3) && ReplyIdIs(line, msg::ID_SIDB_WRITE)) {
            return;
        }
    }
}

// Sends the records of one text in order, as far as the run sends their kind.
class RecordPlayer {
public:
    RecordPlayer(LinkSession& line, CalState& cal, SrpRun run, int scriptTotal)
        : line_(line), cal_(cal), run_(run), scriptTotal_(scriptTotal) {}

    // Splits the text (which must stay unchanged until Play is done) and checks every record
    // the run sends, before anything is sent: a record that could not be sent must not leave
    // the phone with the records before it written and no closing request.
    int Check(std::span<const std::uint8_t> text) {
        SrpReader& reader = cal_.reader;
        (void)reader.SplitRecords(text.data(), text.size());
        const SrpReader::Check check = reader.CheckRecords(run_, cal_.catalog);
        if (check.refusal != SrpRefusal::None) {
            return Fail(line_, reader.RefusalText(check.refusal, check.index));
        }
        return RESULT_OK;
    }

    // Sends the records of the text checked last.
    int Play() {
        for (int r = 0; r < cal_.reader.recordsFound; ++r) {
            if (PlayRecord(r) != RESULT_OK) return RESULT_FAIL;
        }
        return RESULT_OK;
    }

private:
    enum class Answer { Accepted, Refused, TimedOut, Resend };

    int ProgressTotal(SrpRecordKind kind) const {
        if (run_ == SrpRun::Script) return scriptTotal_;
        return kind == SRP_DB_WRITE ? cal_.catalog.pageCount : SIDB_PROGRESS_TOTAL;
    }

    int PlayRecord(int r) {
        SrpReader& reader = cal_.reader;
        int unanswered = 0;  // sends of this record that no answer has come for yet
        for (int attempt = 1;; ++attempt) {
            const SrpReader::Parsed parsed = reader.ReadRecord(r, cal_.catalog);
            if (!RunSends(run_, parsed.kind)) return RESULT_OK;

            line_.flashBlockCount.store(ProgressTotal(parsed.kind));
            // Check has built this request already; a refusal here would be a reader fault.
            const SrpRefusal refusal =
                reader.BuildRecordRequest(parsed.kind, parsed.dataCount, line_.txFrame, line_.txLength);
            if (refusal != SrpRefusal::None) return Fail(line_, reader.RefusalText(refusal, r));
            reader.recordLine.fill(0);
            if (line_.SendFrame() < 0) {
                ReleaseBackup(cal_);
                return RESULT_FAIL;
            }

            switch (AwaitAnswer(parsed.kind)) {
            case Answer::Accepted:
                DiscardLateAnswers(unanswered);
                Accept(r, parsed.kind);
                return RESULT_OK;
            case Answer::Refused:
                // A phone that will not take the first record is not ready for any.
                if (r == 0) return Fail(line_, texts::BACKUP_FAIL);
                break;
            case Answer::TimedOut:
                // Even the first record: after a reflash the phone may need a moment, and a
                // restore that gave up here would leave it without its calibration.
            case Answer::Resend:
                ++unanswered;
                break;
            }
            if (attempt >= line_.timing.calRecordResendLimit) {
                return Fail(line_, "Record " + std::to_string(r + 1) + " was not accepted; sent " +
                                       std::to_string(attempt) + " times!");
            }
        }
    }

    // The answers that earlier sends of an accepted record may still get: one that came after
    // its receive limit, and the answer to the record sent again, look alike (an FFS SIDB
    // acceptance names no record), so left unread, the one not taken would be taken as the
    // next record's acceptance, and a record the phone never took would pass. Each is awaited
    // for a receive limit at most: an answer lost on the line is not waited for long.
    void DiscardLateAnswers(int unanswered) {
        for (int i = 0; i < unanswered; ++i) {
            if (line_.ReceiveFrame(RECEIVE_POLL) == 0) return;
        }
    }

    // The pause after an acceptance, in which the phone commits the record, spent reading:
    // whatever comes before the next record goes out answers an earlier request (an answer
    // the line delivered twice), and read later it would pass for the next record's
    // acceptance. Bounded, so that a phone that never stops talking cannot hold the line here.
    void PauseDiscarding() {
        constexpr int MOST_FRAMES = 64;
        const Deadline gap(line_.timing.calRecordGap);
        for (int i = 0; i < MOST_FRAMES && !gap.Passed(); ++i) {
            if (line_.ReceiveFrameWithin(gap.Left()) == 0) break;
        }
        line_.Pause(gap.Left());
    }

    Answer AwaitAnswer(SrpRecordKind kind) {
        for (;;) {
            (void)line_.ReceiveFrame(RECEIVE_TIMEOUT_FRAME);
            if (kind == SRP_DB_WRITE ? ReplyIdIs(line_, msg::ID_DB_WRITE) : ReplyIdIs(line_, msg::ID_SIDB_WRITE)) {
                return Answer::Accepted;
            }
            if (ReplyIdIs(line_, msg::ID_TIMED_OUT)) return Answer::TimedOut;
            if (ReplyIdIs(line_, msg::ID_REFUSED)) return Answer::Refused;
            // Chatter that answers nothing: after enough of it the phone may have lost the
            // database write, so it goes again. The count runs over the whole text.
            if (kind == SRP_DB_WRITE && ++unrecognised_ >= line_.timing.calUnrecognisedReplyLimit) {
                unrecognised_ = 0;
                return Answer::Resend;
            }
        }
    }

    void Accept(int r, SrpRecordKind kind) {
        SrpMessage& m = cal_.reader.message;
        if (kind == SRP_DB_WRITE) {
            // Records of a backup stand in catalogue order, so record r is page r.
            const std::string page =
                r < CalMessageCatalog::SLOT_COUNT
                    ? cal_.catalog.entries[static_cast<std::size_t>(r)].msgString
                    : "record " + std::to_string(r + 1);
            line_.SetStatusText(texts::RESTORE_PAGE + page);
        } else {
            line_.SetStatusText(SidbStatusLine(m));
        }
        PauseDiscarding();
        line_.flashBlock.fetch_add(1);
        m.messageId = 0;
        m.dbId = 0;
        m.segment = 0;
        m.offset = 0;
        m.bytes = 0;
    }

    LinkSession& line_;
    CalState& cal_;
    SrpRun run_;
    int scriptTotal_;
    int unrecognised_ = 0;
};


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
    if (!cal.backupHeld) {
        return Fail(line, "No calibration backup to restore: Backup Cal-Data must succeed first!");
    }
    RecordPlayer player(line, cal, SrpRun::Restore, 0);
    if (player.Check(cal.backupText) != RESULT_OK) return RESULT_FAIL;
    if (OpeningHandshake(line) != RESULT_OK) return RESULT_FAIL;
    line.flashBlock.store(1);
    if (player.Play() != RESULT_OK) return RESULT_FAIL;
    if (SendClosing(line) < 0) return RESULT_FAIL;
    (void)line.FinishFsAccess();
    line.Pause(line.timing.restoreSettingPause);
    if (cal.writeSettingBack) WriteSetting(line, cal.savedSettingByte);
    line.SetStatusText(texts::RESTORE_FINISHED);
    line.SetStatusText(texts::PASS);
    ReleaseBackup(cal);
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
    line.SetStatusText(texts::RESTORE_FINISHED);
    line.SetStatusText(texts::PASS);
    // The records are all written, but the phone was never told that the writes are over:
    // the run fails, though the status line (as the tool always has) still says " PASS...".
    if (SendClosing(line) < 0) return RESULT_FAIL;
    (void)line.FinishFsAccess();
    ReleaseBackup(cal);
    return RESULT_OK;
}

}  // namespace zolt
