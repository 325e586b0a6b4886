// Plays the records of a calibration or script text to the phone, one write request per
// record, each sent until the phone accepts it, and keeps what it sent so that a restore can
// read it back and a differing page can be written again. Runs on the line's worker thread
// and lets the link's exceptions through.
//
// An acceptance counts for a record only when it can be owed to no earlier send:
// - a record's wait for its answer runs from its send, one answer time at most (the receive
//   limit, or twice the longest answer time this run has measured, whichever is longer);
//   frames that answer nothing do not lengthen it, and after it the record goes again;
// - once a record is accepted, the answers still owed to its other sends (a slow phone answers
//   every send, in order) are awaited and dropped, each for one answer time at most;
// - a database write's acceptance that echoes another page is not its acceptance;
// - the pause after an acceptance is spent reading and dropping what comes.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cal/cal_state.h"
#include "link/link_session.h"

namespace zolt {

class RecordPlayer {
public:
    // A record as it went to the phone: its request body (id on) and, for a database write,
    // the catalogue page that reads it back.
    struct Sent {
        int record = 0;
        SrpRecordKind kind = SRP_NONE;
        std::vector<std::uint8_t> request;
        int page = -1;
        std::string status;  // the status text of its acceptance
    };

    RecordPlayer(LinkSession& line, CalState& cal, SrpRun run, int scriptTotal)
        : line_(line), cal_(cal), run_(run), scriptTotal_(scriptTotal) {}

    // Splits the text (which must stay unchanged until Play is done) and checks every record
    // the run sends, before anything is sent: a record that could not be sent, or a restore's
    // database write that no catalogue page reads back, fails the run with a status text.
    [[nodiscard]] int Check(std::span<const std::uint8_t> text);

    // Sends the records of the text checked last, in order.
    [[nodiscard]] int Play();

    // Sends one of the played records again, until the phone accepts it.
    [[nodiscard]] int SendAgain(const Sent& sent);

    const std::vector<Sent>& sent() const { return sent_; }

private:
    enum class Answer { Accepted, Refused, TimedOut, Resend };

    int ProgressTotal(SrpRecordKind kind) const;
    int Deliver(const Sent& sent, bool again);
    Answer AwaitAnswer(const Sent& sent);
    void DiscardOwedAnswers(int owed, SrpRecordKind kind);
    void Accept(const Sent& sent);
    std::chrono::milliseconds AnswerWait() const;

    LinkSession& line_;
    CalState& cal_;
    SrpRun run_;
    int scriptTotal_;
    int unrecognised_ = 0;
    std::chrono::milliseconds answerTime_{0};  // the longest the phone took to accept a record
    std::vector<Sent> sent_;
};

// Whether a played request writes the calibration setting (Type 18, id 3, one byte at 0), and
// the byte it writes.
[[nodiscard]] bool IsSettingWrite(std::span<const std::uint8_t> request, std::uint8_t& value);

}  // namespace zolt
