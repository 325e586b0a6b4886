#include "sim/phone_core.h"

#include <algorithm>

#include "link/ets_frame.h"
#include "sim/faults.h"
#include "sim/message_ids.h"
#include "sim/request_kind.h"
#include "sim/standard_handlers.h"

namespace zolt::sim {

const char* PhoneModeName(PhoneMode mode) {
    return mode == PhoneMode::BootLoader ? "boot loader" : "firmware";
}

namespace {
// Mixes the phone's number into the seed, so that the phones of one run play different
// faults while each stays reproducible.
std::uint64_t PhoneSeed(std::uint64_t seed, int number) {
    return seed ^ (0xD1B54A32D192ED03ull * static_cast<std::uint64_t>(number));
}

std::vector<std::uint8_t> PlainFrame(std::span<const std::uint8_t> body) {
    std::vector<std::uint8_t> plain;
    plain.reserve(body.size() + 4);
    plain.push_back(EtsFrame::START);
    plain.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
    plain.push_back(static_cast<std::uint8_t>(body.size() >> 8));
    plain.insert(plain.end(), body.begin(), body.end());
    plain.push_back(FrameChecksum(plain.data(), static_cast<int>(plain.size())));
    return plain;
}
}  // namespace

PhoneCore::PhoneCore(PhoneOptions options, int number, std::shared_ptr<TraceSink> trace)
    : options_(std::move(options)),
      number_(number),
      trace_(std::move(trace)),
      flash_(options_.stateDir),
      random_(PhoneSeed(options_.faults.seed, number)) {
    if (options_.wireTime && options_.baud > 0) {
        // A start bit, 8 data bits and a stop bit.
        byteTime_ = std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / options_.baud));
    }
    InstallStandardHandlers(table_);
    if (options_.faults.vanishAfter == 0) state_.vanishing = true;
    if (options_.startInBootLoader) {
        state_.mode = PhoneMode::BootLoader;
        state_.bootLoaderEntries = 1;
    }
}

void PhoneCore::Note(std::string_view text) {
    if (trace_) trace_->Event(number_, text);
}

void PhoneCore::Receive(std::span<const std::uint8_t> chunk, TimePoint readTime) {
    // On the emulated wire the chunk's bytes arrive one after another from when they were
    // read, or from when the bytes before them have arrived; a frame has arrived with its
    // last byte.
    const TimePoint base = std::max(readTime, inFreeAt_);
    inFreeAt_ = base + byteTime_ * static_cast<long>(chunk.size());
    decoder_.Feed(
        chunk,
        [&](std::span<const std::uint8_t> plain, std::size_t last) {
            Handle(plain, base + byteTime_ * static_cast<long>(last + 1));
        },
        [&](FrameDrop why, std::span<const std::uint8_t> plain) {
            ++state_.framesDropped;
            if (trace_) trace_->Frame(number_, "RX-BAD", plain, FrameDropName(why));
        });
}

void PhoneCore::Record(const Request& request) {
    ++state_.framesReceived;
    ++state_.requestsById[request.id];
    state_.recent.emplace_back(request.body.begin(), request.body.end());
    if (state_.recent.size() > PhoneState::RECENT_LIMIT) state_.recent.pop_front();
}

// Whether the phone acts on the request at all: not while it restarts, has gone silent or
// is about to vanish, nor when a fault rule makes it go silent or vanish now.
bool PhoneCore::Hears(const Request& request) {
    const std::int64_t n = static_cast<std::int64_t>(request.number);
    const FaultOptions& f = options_.faults;
    if (request.arrived < state_.deafUntil) {
        ++state_.unheard;
        Note("restarting: not heard");
        return false;
    }
    if (state_.vanishing || state_.silent) return false;
    if (f.silentAfter >= 0 && n > f.silentAfter) {
        Note("fault: silent from here on");
        state_.silent = true;
        return false;
    }
    if (f.vanishAfter >= 0 && n >= f.vanishAfter) {
        state_.vanishing = true;
        Note("fault: vanishes once this request is answered");
    }

    const RequestKind kind = Classify(request, state_, options_);
    if (kind == RequestKind::Probe) state_.probed = true;
    rule_ = AimedRule(request, kind);
    if (!rule_) return true;
    if (rule_->action == FaultAction::Silent) {
        state_.silent = true;
        return false;
    }
    if (rule_->action == FaultAction::Vanish) {
        state_.vanishing = true;
        return false;
    }
    return true;
}

const FaultRule* PhoneCore::AimedRule(const Request& request, RequestKind kind) {
    const FaultOptions& f = options_.faults;
    const std::uint64_t nth = ++state_.requestsByKind[kind];
    const FaultRule* rule = RuleFor(f, kind, nth);
    std::string aim = std::string(RequestKindName(kind)) + " " + std::to_string(nth);
    writing_ = IsWrite(kind);
    if (writing_) {
        ++state_.requestsByKind[RequestKind::Write];
        auto& writes = state_.writes;
        const auto same = std::find_if(writes.begin(), writes.end(), [&](const std::vector<std::uint8_t>& w) {
            return std::equal(w.begin(), w.end(), request.body.begin(), request.body.end());
        });
        const auto number = static_cast<std::uint64_t>(same - writes.begin()) + 1;
        if (same == writes.end()) writes.emplace_back(request.body.begin(), request.body.end());
        if (!rule) {
            rule = RuleFor(f, RequestKind::Write, number);
            aim = "write " + std::to_string(number);
        }
    }
    if (rule) Note("fault: " + std::string(FaultActionName(rule->action)) + " on " + aim);
    return rule;
}

void PhoneCore::Handle(std::span<const std::uint8_t> plain, TimePoint arrived) {
    if (trace_) trace_->Frame(number_, "RX", plain);
    Request request;
    request.body = plain.subspan(3, plain.size() - 4);
    if (request.body.size() >= 2) {
        request.id = static_cast<std::uint16_t>(request.body[0] | (request.body[1] << 8));
    } else if (request.body.size() == 1) {
        request.id = request.body[0];
    }
    request.number = state_.framesReceived + 1;
    request.arrived = arrived;
    Record(request);

    rule_ = nullptr;
    writing_ = false;
    if (!Hears(request)) return;
    CountJobs(request);
    current_ = &request;
    bool taken = true;
    if (Acts(FaultAction::Refuse)) {
        const std::uint8_t refused[] = {0x9B, 0x08};
        Reply(refused, Millis{0});
    } else {
        taken = !request.body.empty() && table_.Dispatch(*this, request);
    }
    current_ = nullptr;
    rule_ = nullptr;
    if (writing_ && options_.faults.chatterWhileWriting) {
        chatterNext_ = request.arrived + options_.faults.chatterEvery;
        writeAnswerDue_ = busyUntil_;
    }
    if (!taken) {
        ++state_.unhandled;
        Note("no handler in " + std::string(PhoneModeName(state_.mode)) + ", no reply");
    }

    state_.previousQuietBefore =
        state_.havePrevious ? request.arrived - state_.previousArrived : Clock::duration::max();
    state_.havePrevious = true;
    state_.previousId = request.id;
    state_.previousArrived = request.arrived;
}

void PhoneCore::CountJobs(const Request& request) {
    PhoneState& s = state_;
    if (request.id != ID_LOOPBACK) {
        if (!s.inJob) {
            s.inJob = true;
            ++s.jobs;
            Note("job " + std::to_string(s.jobs) + " begins");
        }
        s.quietProbes = 0;
        return;
    }
    if (!s.inJob) return;
    if (s.quietProbes++ == 0) s.quietSince = request.arrived;
    if (s.quietProbes >= PhoneState::JOB_OVER_PROBES && request.arrived - s.quietSince >= PhoneState::JOB_OVER_QUIET) {
        s.inJob = false;
        Note("job " + std::to_string(s.jobs) + " over");
    }
}

bool PhoneCore::Acts(FaultAction action) const { return rule_ && rule_->action == action; }

void PhoneCore::Reply(std::span<const std::uint8_t> fullBody, Millis work) {
    const TimePoint arrived = current_ ? current_->arrived : Clock::now();
    if (Acts(FaultAction::Slow)) work += options_.faults.slowBy;
    const TimePoint start = std::max(arrived, busyUntil_) + options_.replyDelay + work;
    busyUntil_ = start;
    const FaultOptions& f = options_.faults;
    const bool late = Acts(FaultAction::Late) || random_.Chance(f.lateRate);
    const TimePoint due = start + ReplyDelayFault(f, random_, late);
    const auto body = Acts(FaultAction::Short) ? ShortBody(fullBody) : fullBody;

    Outgoing out;
    out.notBefore = due;
    out.plain = PlainFrame(body);
    ++state_.repliesQueued;

    if (Acts(FaultAction::Lose) || LosesReply(f, random_, current_ ? current_->number : 0)) {
        ++state_.repliesLost;
        if (trace_) trace_->Frame(number_, "TX-LOST", out.plain, "fault: not sent");
        return;
    }
    if (auto noise = NoiseBurst(f, random_); !noise.empty()) {
        Outgoing burst;
        burst.notBefore = due;
        burst.wire = std::move(noise);
        burst.note = "fault: noise";
        output_.push_back(std::move(burst));
    }
    out.wire = EncodeFrame(body);
    out.corrupted = CorruptBytes(f, random_, out.wire);
    if (Acts(FaultAction::Corrupt)) {
        CorruptOneByte(random_, out.wire);
        out.corrupted = true;
    }
    if (Acts(FaultAction::Cut)) {
        out.wire.resize(out.wire.size() / 2);
        out.corrupted = true;
    }
    if (out.corrupted) out.note = "fault: damaged, as sent";
    if (late) out.note += out.note.empty() ? "fault: late" : ", late";
    const bool twice = Acts(FaultAction::Duplicate) || random_.Chance(f.duplicateRate);
    if (twice) output_.push_back(out);
    output_.push_back(std::move(out));
    if (twice) output_.back().note += " (again)";
}

bool PhoneCore::ChattersAt(TimePoint at) const {
    if (state_.mode != PhoneMode::Firmware || state_.silent || state_.vanishing || at < state_.deafUntil) return false;
    return !options_.faults.chatterWhileWriting || at < writeAnswerDue_;
}

void PhoneCore::QueueChatter(TimePoint at) {
    Outgoing out;
    out.notBefore = at;
    out.plain = PlainFrame(CHATTER_BODY);
    out.wire = EncodeFrame(CHATTER_BODY);
    out.note = "fault: chatter";
    out.chatter = true;
    ++state_.chatterQueued;
    // Among the replies by its time: a reply the phone is still working on comes after it.
    const auto later =
        std::find_if(output_.begin(), output_.end(), [&](const Outgoing& o) { return o.notBefore > at; });
    output_.insert(later, std::move(out));
}

std::optional<TimePoint> PhoneCore::Chatter(TimePoint now) {
    const FaultOptions& f = options_.faults;
    if (f.chatterEvery.count() <= 0 || state_.silent || state_.vanished) return std::nullopt;
    if (chatterNext_ == TimePoint{}) {
        if (f.chatterWhileWriting) return std::nullopt;
        chatterNext_ = now + f.chatterEvery;
    }
    for (; chatterNext_ <= now; chatterNext_ += f.chatterEvery) {
        if (ChattersAt(chatterNext_)) QueueChatter(chatterNext_);
    }
    if (f.chatterWhileWriting && chatterNext_ >= writeAnswerDue_) return std::nullopt;
    return chatterNext_;
}

void PhoneCore::Sent(const Outgoing& sent) {
    if (!sent.plain.empty() && !sent.chatter) ++state_.repliesSent;
    if (trace_) {
        if (sent.plain.empty() || sent.corrupted) {
            trace_->Frame(number_, "TX", sent.wire, sent.note);
        } else {
            trace_->Frame(number_, "TX", sent.plain, sent.note);
        }
    }
}

void PhoneCore::WriteFailed(const Outgoing& lost) {
    if (trace_) trace_->Frame(number_, "TX-FAIL", lost.wire, "the line took nothing");
}

void PhoneCore::Vanished() {
    state_.vanished = true;
    Note("fault: line closed");
}

void PhoneCore::SetMode(PhoneMode mode) {
    if (state_.mode == mode) return;
    state_.mode = mode;
    if (mode == PhoneMode::BootLoader) ++state_.bootLoaderEntries;
    Note(PhoneModeName(mode));
}

}  // namespace zolt::sim
