// Whether a phone is on the line: the waits of a station that flashes each phone as it comes
// and waits for it to be taken away before the next.
#include "link/link_session.h"
#include "link/messages.h"
#include "link/replies.h"

namespace zolt {

Presence LinkSession::ProbePresence() {
    const Deadline gap(timing.presenceProbeGap);
    try {
        // What is queued answers an earlier probe, or is the last job's chatter.
        DiscardInput();
        BuildRequest(msg::PROBE);
        // A probe that could not be sent is unanswered; the receive below is what finds a
        // port that has gone away.
        (void)SendFrame();
        while (ReceiveFrameBy(gap) > 0) {
            if (IsProbeAnswer(Received())) return Presence::Answers;
        }
        return Presence::Silent;
    } catch (const PortLost&) {
        return Presence::PortGone;
    }
}

Presence LinkSession::WaitForPhone() {
    for (;;) {
        const auto sent = std::chrono::steady_clock::now();
        const Deadline next(timing.presenceProbeGap);
        const Presence presence = ProbePresence();
        if (presence == Presence::Answers) foundByProbeAt_ = sent;
        if (presence != Presence::Silent) return presence;
        Pause(next.Left());
    }
}

Presence LinkSession::WaitUntilPhoneGone() {
    Deadline silence(timing.phoneGoneSilence);
    for (;;) {
        const Deadline next(timing.presenceProbeGap);
        switch (ProbePresence()) {
            case Presence::PortGone: return Presence::PortGone;
            case Presence::Answers: silence = Deadline(timing.phoneGoneSilence); break;
            case Presence::Silent:
                if (silence.Passed()) return Presence::Silent;
                break;
        }
        // The rest of the gap: an answer comes long before it, and probes closer together
        // would only load the line.
        Pause(next.Left());
    }
}

}  // namespace zolt
