// The file-system access handshake that brackets every calibration run, and its release.
#include "link/link_session.h"
#include "link/messages.h"
#include "io/texts.h"

namespace zolt {

namespace {

// Loopback probe: the phone echoes it (L = 3, checksum FC).
void BuildProbe(LinkSession& s) { s.BuildRequest(msg::PROBE); }

int Fail(LinkSession& s, const char* text) {
    s.SetStatusText(text);
    return RESULT_FAIL;
}

// A received frame of body length `length` whose checksum is valid and equals `checksum`.
bool IsFrame(const LinkSession& s, int length, std::uint8_t checksum) {
    const int l = msg::BodyLength(s.rxFrame.data());
    const int at = length + 3;
    return l == length && FrameChecksum(s.rxFrame.data(), at) == s.rxFrame[at] &&
           s.rxFrame[at] == checksum;
}
}  // namespace

int LinkSession::WaitForFs(FsAccessMode mode) {
    SetStatusText(texts::WAIT_FOR_READ_FS);

    for (int probe = 0; probe < 3; ++probe) {
        if (probe > 0) Pause(timing.probeGap);
        BuildProbe(*this);
        if (SendFrame() < 0) return Fail(*this, texts::LOOPBACK_TIMEOUT);
    }

    // The echo of a probe. A frame of another length means the phone is not listening yet
    // (or answered something older): probe again. A bad frame of the right length is noise.
    // No echo within a receive limit of the last probe means the probes went unheard (a phone
    // still restarting): probe again too, or the line would wait for an echo that never comes,
    // however much else the phone says meanwhile.
    const Deadline wait = PhoneWait();
    Deadline ask = AskAgainAt();
    for (;;) {
        if (wait.Passed()) return PhoneWaitFailed("file-system access");
        if (ReceiveOrAskAgain(ask, wait) <= 0) {
            if (wait.Passed()) return PhoneWaitFailed("file-system access");
            BuildProbe(*this);
            if (SendFrame() < 0) return Fail(*this, texts::LOOPBACK_TIMEOUT);
            ask = AskAgainAt();
            continue;
        }
        if (msg::BodyLength(rxFrame.data()) != msg::ECHO_LENGTH) {
            BuildProbe(*this);
            Pause(timing.probeGap);
            if (SendFrame() < 0) return Fail(*this, texts::LOOPBACK_TIMEOUT);
            ask = AskAgainAt();
            continue;
        }
        if (IsFrame(*this, msg::ECHO_LENGTH, msg::ECHO_CHECKSUM)) break;
    }

    BuildRequest(msg::FS_ACCESS);
    if (SendFrame() < 0) return Fail(*this, texts::WAIT_FOR_FS_ERROR);
    ask = AskAgainAt();
    for (;;) {
        if (wait.Passed()) return PhoneWaitFailed("file-system access");
        if (ReceiveOrAskAgain(ask, wait) <= 0) {
            if (wait.Passed()) return PhoneWaitFailed("file-system access");
            if (SendFrame() < 0) return Fail(*this, texts::WAIT_FOR_FS_ERROR);
            ask = AskAgainAt();
            continue;
        }
        if (!IsFrame(*this, msg::FS_REPLY_LENGTH, msg::FS_REPLY_CHECKSUM)) continue;
        if (msg::IdOf(rxFrame.data() + 3) == msg::ID_SIDB_WRITE) {
            SetStatusText(mode == FS_BACKUP ? texts::BACKUP_WAIT_SUCCESS : texts::RESTORE_WAIT_SUCCESS);
        } else {
            SetStatusText("");
        }
        return RESULT_OK;
    }
}

int LinkSession::FinishFsAccess() {
    BuildRequest(msg::FS_RELEASE_FIRST);
    (void)SendFrame();
    BuildRequest(msg::FS_RELEASE_SECOND);
    return SendFrame();
}

}  // namespace zolt
