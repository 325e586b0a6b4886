// The file-system access handshake that brackets every calibration run, and its release.
#include "link/link_session.h"
#include "io/texts.h"

namespace zolt {

namespace {

// Loopback probe: the phone echoes it (L = 3, checksum FC).
void BuildProbe(LinkSession& s) { s.BuildRequest({0x00, 0x00, 0x01}); }

int Fail(LinkSession& s, const char* text) {
    s.SetStatusText(text);
    return RESULT_FAIL;
}

// A received frame of body length `length` whose checksum is valid and equals `checksum`.
bool IsFrame(const LinkSession& s, int length, std::uint8_t checksum) {
    const int l = s.rxFrame[1] | (s.rxFrame[2] << 8);
    const int at = length + 3;
    return l == length && FrameChecksum(s.rxFrame.data(), at) == s.rxFrame[at] &&
           s.rxFrame[at] == checksum;
}
}  // namespace

int LinkSession::WaitForFs(int mode) {
    SetStatusText(texts::WAIT_FOR_READ_FS);

    for (int probe = 0; probe < 3; ++probe) {
        if (probe > 0) Pause(timing.probeGap);
        BuildProbe(*this);
        if (SendFrame() < 0) return Fail(*this, texts::LOOPBACK_TIMEOUT);
    }

    // The echo of a probe. A frame of another length means the phone is not listening yet
    // (or answered something older): probe again. A bad frame of the right length is noise.
    for (;;) {
        if (ReceiveFrame(RECEIVE_POLL) <= 0) continue;
        const int length = rxFrame[1] | (rxFrame[2] << 8);
        if (length != 3) {
            BuildProbe(*this);
            Pause(timing.probeGap);
            if (SendFrame() < 0) return Fail(*this, texts::LOOPBACK_TIMEOUT);
            continue;
        }
        if (IsFrame(*this, 3, 0xFC)) break;
    }

    BuildRequest({0xA2, 0x07, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x30});
    if (SendFrame() < 0) return Fail(*this, texts::WAIT_FOR_FS_ERROR);
    for (;;) {
        if (ReceiveFrame(RECEIVE_POLL) <= 0) {
            if (SendFrame() < 0) return Fail(*this, texts::WAIT_FOR_FS_ERROR);
            continue;
        }
        if (!IsFrame(*this, 4, 0x53)) continue;
        if (rxFrame[3] == 0xA2 && rxFrame[4] == 0x07) {
            SetStatusText(mode == 1 ? texts::BACKUP_WAIT_SUCCESS : texts::RESTORE_WAIT_SUCCESS);
        } else {
            SetStatusText("");
        }
        return RESULT_OK;
    }
}

int LinkSession::FinishFsAccess() {
    BuildRequest({0xF3, 0x03});
    (void)SendFrame();
    BuildRequest({0xCE, 0x00, 0x00});
    return SendFrame();
}

}  // namespace zolt
