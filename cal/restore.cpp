#include "cal/restore.h"

#include <string>

namespace zolt {
namespace {

const char* const LOOPBACK_FAILED = "Timeout on message loopback!";
const char* const BACKUP_FAIL = " Backup fail...";
const char* const NOT_SENT = "Port closed: the request could not be sent!";

// The progress total while a restore sends an FFS SIDB write, whatever the text holds.
constexpr int SIDB_PROGRESS_TOTAL = 209;

// The loopback probe, echoed by the phone with L = 3 and checksum FC.
constexpr int ECHO_LENGTH = 3;
constexpr std::uint8_t ECHO_CHECKSUM = 0xFC;
// The frame a receive delivers for an L = 1 frame, the time-out frame among them.
constexpr int FIVE_BYTE_FRAME = 5;
// The phone's acceptance of the setting write: L = 4, A2 07.
constexpr int SETTING_REPLY_LENGTH = 4;

int Fail(LinkSession& line, const std::string& text) {
    line.SetStatusText(text);
    return RESULT_FAIL;
}

int BodyLength(const LinkSession& line) { return line.rxFrame[1] | (line.rxFrame[2] << 8); }

bool ChecksumValidAt(const LinkSession& line, int at) {
    return FrameChecksum(line.rxFrame.data(), at) == line.rxFrame[static_cast<std::size_t>(at)];
}

bool ReplyIdIs(const LinkSession& line, std::uint8_t low, std::uint8_t high) {
    return line.rxFrame[3] == low && line.rxFrame[4] == high;
}

void ReleaseBackup(CalState& cal) {
    cal.backupText = {};
    cal.backupHeld = false;
    // The reader must not keep pointing into the released text.
    (void)cal.reader.SplitRecords(nullptr, 0);
}

void BuildProbe(LinkSession& line) { line.BuildRequest({0x00, 0x00, 0x01}); }

// File-system access, two loopback probes and their echo, then 31 01 00 00.
int OpeningHandshake(LinkSession& line) {
    (void)line.WaitForFs(0);
    for (int probe = 0; probe < 2; ++probe) {
        BuildProbe(line);
        if (line.SendFrame() < 0) return Fail(line, LOOPBACK_FAILED);
    }
    for (;;) {
        const int got = line.ReceiveFrame(RECEIVE_POLL);
        if (got == 0) continue;
        if (BodyLength(line) == ECHO_LENGTH) {
            if (ChecksumValidAt(line, ECHO_LENGTH + 3) && line.rxFrame[ECHO_LENGTH + 3] == ECHO_CHECKSUM) {
                break;
            }
            continue;
        }
        // A short frame of another kind: the phone has not taken the probes yet.
        if (got == FIVE_BYTE_FRAME) {
            line.Pause(line.timing.probeGap);
            BuildProbe(line);
            if (line.SendFrame() < 0) return Fail(line, LOOPBACK_FAILED);
        }
    }
    line.BuildRequest({0x31, 0x01, 0x00, 0x00});
    if (line.SendFrame() < 0) return Fail(line, NOT_SENT);
    return RESULT_OK;
}

int SendClosing(LinkSession& line) {
    line.BuildRequest({0x31, 0x01, 0x01, 0x00});
    return line.SendFrame();
}

void SendSettingWrite(LinkSession& line, std::uint8_t setting) {
    line.BuildRequest({0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, setting});
    if (line.SendFrame() < 0) line.SetStatusText(LOOPBACK_FAILED);
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
        if (BodyLength(line) == SETTING_REPLY_LENGTH &&
            ChecksumValidAt(line, SETTING_REPLY_LENGTH + 3) && ReplyIdIs(line, 0xA2, 0x07)) {
            return;
        }
    }
}

enum class Run { Restore, Script };

// Sends the records of one text in order, as far as the run sends their kind.
class RecordPlayer {
public:
    RecordPlayer(LinkSession& line, CalState& cal, Run run, int scriptTotal)
        : line_(line), cal_(cal), run_(run), scriptTotal_(scriptTotal) {}

    int Play(const std::uint8_t* text, std::size_t length) {
        const int found = cal_.reader.SplitRecords(text, length);
        for (int r = 0; r < found; ++r) {
            if (PlayRecord(r) != RESULT_OK) return RESULT_FAIL;
        }
        return RESULT_OK;
    }

private:
    enum class Answer { Accepted, Refused, Resend };

    bool Sends(SrpRecordKind kind) const {
        return kind == SRP_SIDB_WRITE || (kind == SRP_DB_WRITE && run_ == Run::Restore);
    }

    int ProgressTotal(SrpRecordKind kind) const {
        if (run_ == Run::Script) return scriptTotal_;
        return kind == SRP_DB_WRITE ? cal_.catalog.pageCount : SIDB_PROGRESS_TOTAL;
    }

    int PlayRecord(int r) {
        SrpReader& reader = cal_.reader;
        const int resendLimit = line_.timing.calRecordResendLimit;
        for (int resends = 0;; ++resends) {
            if (resends > resendLimit) {
                return Fail(line_, "Record " + std::to_string(r + 1) + " was not accepted; sent " +
                                       std::to_string(resends) + " times!");
            }
            const SrpReader::Parsed parsed = reader.ReadRecord(r, cal_.catalog);
            if (parsed.refusal != SrpRefusal::None) return Fail(line_, reader.RefusalText(parsed.refusal, r));
            if (!Sends(parsed.kind)) return RESULT_OK;

            line_.flashBlockCount.store(ProgressTotal(parsed.kind));
            const SrpRefusal refusal =
                reader.BuildRecordRequest(parsed.kind, parsed.dataCount, line_.txFrame, line_.txLength);
            if (refusal != SrpRefusal::None) return Fail(line_, reader.RefusalText(refusal, r));
            reader.recordLine.fill(0);
            if (line_.SendFrame() < 0) {
                ReleaseBackup(cal_);
                return Fail(line_, NOT_SENT);
            }

            switch (AwaitAnswer(parsed.kind)) {
            case Answer::Accepted:
                Accept(r, parsed.kind);
                return RESULT_OK;
            case Answer::Refused:
                // A phone that will not take the first record is not ready for any.
                if (r == 0) return Fail(line_, BACKUP_FAIL);
                break;
            case Answer::Resend:
                break;
            }
        }
    }

    Answer AwaitAnswer(SrpRecordKind kind) {
        for (;;) {
            (void)line_.ReceiveFrame(RECEIVE_TIMEOUT_FRAME);
            if (kind == SRP_DB_WRITE ? ReplyIdIs(line_, 0x30, 0x01) : ReplyIdIs(line_, 0xA2, 0x07)) {
                return Answer::Accepted;
            }
            if (ReplyIdIs(line_, EtsFrame::TIMEOUT_ID, 0xCD) || ReplyIdIs(line_, 0x9B, 0x08)) {
                return Answer::Refused;
            }
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
            line_.SetStatusText("Restore Calbration..... " + page);
        } else {
            line_.SetStatusText(SidbStatusLine(m));
        }
        line_.Pause(line_.timing.calRecordGap);
        line_.flashBlock.fetch_add(1);
        m.messageId = 0;
        m.dbId = 0;
        m.segment = 0;
        m.offset = 0;
        m.bytes = 0;
    }

    LinkSession& line_;
    CalState& cal_;
    Run run_;
    int scriptTotal_;
    int unrecognised_ = 0;
};

// Clears the progress total when the restore runner ends, by return or by a stop.
struct ClearBlockCount {
    LinkSession& line;
    ~ClearBlockCount() { line.flashBlockCount.store(0); }
};

}  // namespace

int RunRestoreCal(LinkSession& line, CalState& cal) {
    int result = RESULT_FAIL;
    {
        const ClearBlockCount clear{line};
        result = RestoreCalibration(line, cal);
    }
    line.Pause(line.timing.restoreDonePause);
    return result;
}

int RestoreCalibration(LinkSession& line, CalState& cal) {
    if (!cal.backupHeld) {
        return Fail(line, "No calibration backup to restore: Backup Cal-Data must succeed first!");
    }
    if (OpeningHandshake(line) != RESULT_OK) return RESULT_FAIL;
    line.flashBlock.store(1);
    RecordPlayer player(line, cal, Run::Restore, 0);
    if (player.Play(cal.backupText.data(), cal.backupText.size()) != RESULT_OK) return RESULT_FAIL;
    if (SendClosing(line) < 0) return Fail(line, NOT_SENT);
    (void)line.FinishFsAccess();
    line.Pause(line.timing.restoreSettingPause);
    WriteSetting(line, cal.savedSettingByte);
    line.SetStatusText(" Restore finished...");
    line.SetStatusText(" PASS...");
    ReleaseBackup(cal);
    return RESULT_OK;
}

int RunScriptTask(LinkSession& line, CalState& cal, std::span<const std::uint8_t> file) {
    return RunScriptFile(line, cal, file);
}

int RunScriptFile(LinkSession& line, CalState& cal, std::span<const std::uint8_t> text) {
    line.flashBlock.store(1);
    if (OpeningHandshake(line) != RESULT_OK) return RESULT_FAIL;
    const int total = SrpReader::CountEtsMarks(text.data(), text.size());
    RecordPlayer player(line, cal, Run::Script, total);
    if (player.Play(text.data(), text.size()) != RESULT_OK) return RESULT_FAIL;
    line.SetStatusText(" Restore finished...");
    line.SetStatusText(" PASS...");
    // The records are all written, but the phone was never told that the writes are over:
    // the run has failed after all, whatever the status line said a moment ago.
    if (SendClosing(line) < 0) return Fail(line, "Port closed: the closing request could not be sent!");
    (void)line.FinishFsAccess();
    ReleaseBackup(cal);
    return RESULT_OK;
}

}  // namespace zolt
