#include "cal/record_player.h"

#include <algorithm>

#include "io/texts.h"
#include "link/messages.h"
#include "link/replies.h"

namespace zolt {
namespace {

using Clock = std::chrono::steady_clock;

// The progress total while a restore sends an FFS SIDB write, whatever the text holds.
constexpr int SIDB_PROGRESS_TOTAL = 209;

int Fail(LinkSession& line, const std::string& text) {
    line.SetStatusText(text);
    return RESULT_FAIL;
}

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// The catalogue page that reads back what a database write request writes: the first page of
// the same database, segment, offset and byte count.
int PageOf(const CalMessageCatalog& catalog, std::span<const std::uint8_t> request) {
    if (request.size() < msg::DB_WRITE_HEADER) return -1;
    const int count = std::clamp(catalog.pageCount, 0, CalMessageCatalog::SLOT_COUNT);
    for (int i = 0; i < count; ++i) {
        const CalMessageEntry& e = catalog.entries[static_cast<std::size_t>(i)];
        if (e.dbId == request[2] && e.segment == request[3] && e.offset == Le16(request, 4) &&
            e.bytes == Le16(request, 6)) {
            return i;
        }
    }
    return -1;
}

}  // namespace

bool IsSettingWrite(std::span<const std::uint8_t> request, std::uint8_t& value) {
    if (request.size() != msg::SIDB_WRITE_HEADER + 1 || msg::IdOf(request.data()) != msg::ID_SIDB_WRITE ||
        Le16(request, 2) != msg::SIDB_TYPE || Le16(request, 4) != msg::SIDB_SETTING_ID || Le16(request, 6) != 1 ||
        Le16(request, 8) != 0) {
        return false;
    }
    value = request[msg::SIDB_WRITE_HEADER];
    return true;
}

int RecordPlayer::Check(std::span<const std::uint8_t> text) {
    SrpReader& reader = cal_.reader;
    sent_.clear();
    (void)reader.SplitRecords(text.data(), text.size());
    const SrpReader::Check check = reader.CheckRecords(run_, cal_.catalog);
    if (check.refusal != SrpRefusal::None) return Fail(line_, reader.RefusalText(check.refusal, check.index));

    // Every request is built now, as the run will send it; a restore's database writes must
    // each have a page that reads them back, or the restore could never show them written.
    const SrpMessage kept = reader.message;
    for (int r = 0; r < reader.recordsFound; ++r) {
        const SrpReader::Parsed parsed = reader.ReadRecord(r, cal_.catalog);
        if (!RunSends(run_, parsed.kind)) continue;
        SrpReader::Frame frame{};
        int txLength = 0;
        (void)reader.BuildRecordRequest(parsed.kind, parsed.dataCount, frame, txLength);
        Sent s;
        s.record = r;
        s.kind = parsed.kind;
        s.request.assign(frame.begin() + 3, frame.begin() + txLength);
        if (parsed.kind == SRP_DB_WRITE) {
            // Records of a backup stand in catalogue order, so record r is page r.
            s.status = texts::RESTORE_PAGE + (r < CalMessageCatalog::SLOT_COUNT
                                                   ? cal_.catalog.entries[static_cast<std::size_t>(r)].msgString
                                                   : "record " + std::to_string(r + 1));
            if (run_ == SrpRun::Restore) {
                s.page = PageOf(cal_.catalog, s.request);
                if (s.page < 0) {
                    reader.message = kept;
                    return Fail(line_, reader.RefusalText(SrpRefusal::NoPageToCheck, r));
                }
            }
        } else {
            s.status = SidbStatusLine(reader.message);
        }
        sent_.push_back(std::move(s));
    }
    reader.message = kept;
    return RESULT_OK;
}

int RecordPlayer::Play() {
    for (const Sent& s : sent_) {
        if (Deliver(s, false) != RESULT_OK) return RESULT_FAIL;
    }
    return RESULT_OK;
}

int RecordPlayer::SendAgain(const Sent& sent) { return Deliver(sent, true); }

int RecordPlayer::ProgressTotal(SrpRecordKind kind) const {
    if (run_ == SrpRun::Script) return scriptTotal_;
    return kind == SRP_DB_WRITE ? cal_.catalog.pageCount : SIDB_PROGRESS_TOTAL;
}

std::chrono::milliseconds RecordPlayer::AnswerWait() const {
    return std::max(line_.timing.receiveFrameLimit, 2 * answerTime_);
}

int RecordPlayer::Deliver(const Sent& sent, bool again) {
    line_.flashBlockCount.store(ProgressTotal(sent.kind));
    line_.BuildRequest(sent.request);
    int sends = 0;
    int answers = 0;  // of this record's sends, those the phone has answered
    Clock::time_point firstSend{};
    for (int attempt = 1;; ++attempt) {
        if (line_.SendFrame() < 0) {
            cal_.ReleaseBackup();
            return RESULT_FAIL;
        }
        if (sends++ == 0) firstSend = Clock::now();
        switch (AwaitAnswer(sent)) {
        case Answer::Accepted:
            // In order, the first answer is the first send's: how long the phone took.
            answerTime_ = std::max(answerTime_, std::chrono::ceil<std::chrono::milliseconds>(Clock::now() - firstSend));
            DiscardOwedAnswers(sends - answers - 1, sent.kind);
            Accept(sent);
            return RESULT_OK;
        case Answer::Refused:
            ++answers;
            // A phone that will not take the first record is not ready for any.
            if (sent.record == 0 && !again) return Fail(line_, texts::BACKUP_FAIL);
            break;
        case Answer::TimedOut:
            // Even the first record: after a reflash the phone may need a moment, and a
            // restore that gave up here would leave it without its calibration.
        case Answer::Resend:
            break;
        }
        if (attempt >= line_.timing.calRecordResendLimit) {
            return Fail(line_, "Record " + std::to_string(sent.record + 1) + " was not accepted; sent " +
                                   std::to_string(attempt) + " times!");
        }
        line_.BuildRequest(sent.request);
    }
}

RecordPlayer::Answer RecordPlayer::AwaitAnswer(const Sent& sent) {
    const Deadline deadline(AnswerWait());
    for (;;) {
        if (line_.ReceiveFrameBy(deadline) == 0) return Answer::TimedOut;
        const ReceivedFrame reply = line_.Received();
        const Verdict verdict =
            sent.kind == SRP_DB_WRITE ? JudgeDbWrite(sent.request, reply) : JudgeSidbWrite(reply);
        if (verdict == Verdict::Answer) return Answer::Accepted;
        if (verdict == Verdict::Refused) return Answer::Refused;
        // Chatter that answers nothing: after enough of it the phone may have lost the
        // database write, so it goes again. The count runs over the whole text.
        if (sent.kind == SRP_DB_WRITE && ++unrecognised_ >= line_.timing.calUnrecognisedReplyLimit) {
            unrecognised_ = 0;
            return Answer::Resend;
        }
    }
}

// The answers that the other sends of an accepted record may still get: an FFS SIDB
// acceptance names no record, so left unread, one of them would be taken as the next record's
// acceptance, and a record the phone never took would pass. A slow phone answers each send in
// turn, so each is awaited for one answer time; an answer lost on the line is not waited for
// longer.
void RecordPlayer::DiscardOwedAnswers(int owed, SrpRecordKind kind) {
    for (int i = 0; i < owed; ++i) {
        const Deadline deadline(AnswerWait());
        for (;;) {
            if (line_.ReceiveFrameBy(deadline) == 0) return;
            const ReceivedFrame reply = line_.Received();
            const std::span<const std::uint8_t> none;
            const Verdict verdict = kind == SRP_DB_WRITE ? JudgeDbWrite(none, reply) : JudgeSidbWrite(reply);
            if (verdict == Verdict::Answer || verdict == Verdict::Refused) break;
        }
    }
}

void RecordPlayer::Accept(const Sent& sent) {
    line_.SetStatusText(sent.status);
    line_.PauseDiscarding(line_.timing.calRecordGap);
    line_.flashBlock.fetch_add(1);
    SrpMessage& m = cal_.reader.message;
    m.messageId = 0;
    m.dbId = 0;
    m.segment = 0;
    m.offset = 0;
    m.bytes = 0;
}

}  // namespace zolt
