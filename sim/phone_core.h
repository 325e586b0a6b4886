// One phone without its line: it takes the bytes read from the line, decodes them, hands each
// good frame to its handler and queues the replies, each with the earliest time it may go
// out. No thread and no descriptor of its own, so that tests can drive it with made-up
// times; SimPhone puts it on a line and a thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/flash_store.h"
#include "sim/frame_decoder.h"
#include "sim/message_table.h"
#include "sim/phone_context.h"
#include "sim/phone_options.h"
#include "sim/phone_state.h"
#include "sim/sim_random.h"
#include "sim/trace.h"

namespace zolt::sim {

// Bytes waiting to go out: a reply frame, or noise.
struct Outgoing {
    TimePoint notBefore{};             // the first byte may not start earlier
    std::vector<std::uint8_t> wire;    // exactly what goes on the line
    std::vector<std::uint8_t> plain;   // the frame unescaped, for the trace; empty for noise
    std::string note;                  // for the trace: what a fault did to it
    bool corrupted = false;            // wire no longer matches plain
    bool chatter = false;              // unsolicited: answers no request
};

class PhoneCore final : public PhoneContext {
public:
    // `number` names the phone in the trace (from 1); `trace` may be null. Throws SimError
    // when the state folder cannot be used.
    PhoneCore(PhoneOptions options, int number, std::shared_ptr<TraceSink> trace);

    // The handlers; the standard ones are installed by the constructor.
    MessageTable& Table() { return table_; }

    // Bytes read from the line at `readTime`.
    void Receive(std::span<const std::uint8_t> chunk, TimePoint readTime);

    // Queues the unsolicited frames (FaultOptions::chatterEvery) due by `now`, each among the
    // replies by its time. Returns when to call again; none while no chatter can come before
    // another request has been received.
    std::optional<TimePoint> Chatter(TimePoint now);

    // Replies not yet handed to the line, oldest first.
    std::deque<Outgoing>& Output() { return output_; }
    // Called by the line when the last byte of `sent` has been written.
    void Sent(const Outgoing& sent);
    // Called by the line when it could not write `lost` at all.
    void WriteFailed(const Outgoing& lost);

    // The phone is to close its line: it has vanished once Output() is empty and the line
    // has written everything (fault option vanishAfter).
    bool Vanishing() const { return state_.vanishing; }
    // Called by the line when it has closed for good.
    void Vanished();

    // The duration of one byte on the emulated wire (zero without wire time).
    Clock::duration ByteTime() const { return byteTime_; }

    int Number() const override { return number_; }
    const std::shared_ptr<TraceSink>& Trace() const { return trace_; }
    const PhoneState& State() const { return state_; }
    const PhoneFrameDecoder& Decoder() const { return decoder_; }
    const FlashStore& Flash() const { return flash_; }
    void Note(std::string_view text) override;

    // --- PhoneContext ---
    PhoneState& State() override { return state_; }
    const PhoneOptions& Options() const override { return options_; }
    FlashStore& Flash() override { return flash_; }
    SimRandom& Random() override { return random_; }
    void Reply(std::span<const std::uint8_t> body, Millis work) override;
    bool Plays(FaultAction action) const override { return Acts(action); }
    void SetMode(PhoneMode mode) override;

private:
    void Handle(std::span<const std::uint8_t> plain, TimePoint arrived);
    bool Hears(const Request& request);
    // Keeps PhoneState's job count: a heard request begins a job or, a probe, may end one.
    void CountJobs(const Request& request);
    // The rule aimed at the request of `kind`: by its place among its kind, or, for a write,
    // by its number as a record.
    const FaultRule* AimedRule(const Request& request, RequestKind kind);
    bool ChattersAt(TimePoint at) const;
    void QueueChatter(TimePoint at);
    // Whether the fault rule aimed at the request being handled does this.
    bool Acts(FaultAction action) const;
    void Record(const Request& request);

    PhoneOptions options_;
    int number_;
    std::shared_ptr<TraceSink> trace_;
    MessageTable table_;
    PhoneFrameDecoder decoder_;
    PhoneState state_;
    FlashStore flash_;
    SimRandom random_;
    std::deque<Outgoing> output_;
    Clock::duration byteTime_{0};
    TimePoint inFreeAt_{};           // the last byte read so far has arrived on the wire
    TimePoint busyUntil_{};          // the phone's work on earlier requests ends here
    const Request* current_ = nullptr;  // the request being handled
    const FaultRule* rule_ = nullptr;   // the fault rule aimed at it, if any
    bool writing_ = false;              // the request being handled is a write
    TimePoint chatterNext_{};           // the next chatter frame is due; epoch: not yet set
    TimePoint writeAnswerDue_{};        // chatterWhileWriting: until the last write's answer
};

}  // namespace zolt::sim
