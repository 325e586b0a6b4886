#include "link/link_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

namespace zolt {

namespace {
using Clock = std::chrono::steady_clock;

// A port that reports a hang-up is looked at again after this long rather than in a loop:
// a USB adapter pulled out, or a simulated phone gone, must not burn a core while the line
// makes sure that the port is really gone.
constexpr Millis DEAD_PORT_RECHECK{20};
}  // namespace

LinkSession::LinkSession() { port.AttachStopSignal(&stop); }

LinkSession::~LinkSession() { port.AttachStopSignal(nullptr); }

int LinkSession::OpenLink(const std::string& name, int baud) {
    port.SetWriteLimit(timing.writeLimit);
    if (port.Open(name, baud, 8, SERIAL_PARITY_NONE, false, false, false)) {
        portName = name;
        portNumber = ComPortNumber(name);
        baudRate = baud;
        return LINK_OPENED;
    }
    return port.LastError() == SerialError::AccessDenied ? LINK_ACCESS_DENIED : LINK_FAILED;
}

void LinkSession::BuildRequest(std::initializer_list<std::uint8_t> body) {
    txFrame.fill(0);
    std::copy(body.begin(), body.end(), txFrame.begin() + 3);
    txLength = 3 + static_cast<int>(body.size());
}

int LinkSession::SendFrame() {
    // The checksum goes at txLength, which must lie inside the buffer.
    if (txLength < 3 || txLength >= EtsFrame::BUFFER_SIZE) return SEND_REFUSED;
    const int bodyLength = txLength - 3;
    txFrame[0] = EtsFrame::START;
    txFrame[1] = static_cast<std::uint8_t>(bodyLength & 0xFF);
    txFrame[2] = static_cast<std::uint8_t>(bodyLength >> 8);
    txFrame[txLength] = FrameChecksum(txFrame.data(), txLength);

    const int escaped = EscapeBytes(txFrame.data() + 1, txLength, txWire.data() + 1,
                                    EtsFrame::BUFFER_SIZE - 1);
    if (escaped < 0) {
        txWireLength = 0;
        return SEND_REFUSED;
    }
    txWire[0] = EtsFrame::START;
    txWireLength = 1 + escaped;
    const int sent = device->SendData(txWire.data(), txWireLength);
    CheckStopped();
    return sent;
}

int LinkSession::UnescapeChunk(std::uint8_t* destination, const std::uint8_t* source, int count) {
    int o = 0;
    int k = 0;
    if (escapePending && count > 0) {
        destination[0] = static_cast<std::uint8_t>(~source[0]);
        escapePending = 0;
        o = k = 1;
    }
    while (k < count) {
        if (source[k] == EtsFrame::ESCAPE) {
            if (k + 1 == count) {
                escapePending = 1;
                break;
            }
            destination[o++] = static_cast<std::uint8_t>(~source[k + 1]);
            k += 2;
        } else {
            destination[o++] = source[k++];
        }
    }
    return o;
}

void LinkSession::AddBytes(const std::uint8_t* raw, int n, RxState& st) {
    for (int k = 0; k < n; ++k) {
        const std::uint8_t b = raw[k];
        if (!st.inFrame) {
            if (b != EtsFrame::START) continue;  // noise between frames
            st = RxState{};
            st.inFrame = true;
            escapePending = 0;
            rxFrame.fill(0);
            rxFrame[0] = EtsFrame::START;
            rxCount = 1;
            continue;
        }
        if (st.expected < 0 && st.headCount < static_cast<int>(st.head.size())) {
            st.head[static_cast<std::size_t>(st.headCount++)] = b;
        }
        std::uint8_t value = b;
        if (escapePending) {
            value = static_cast<std::uint8_t>(~b);
            escapePending = 0;
        } else if (b == EtsFrame::ESCAPE) {
            escapePending = 1;
            continue;
        }
        // Behind a complete frame the rest of the read is kept as far as the buffer goes.
        if (rxCount >= EtsFrame::BUFFER_SIZE) continue;
        rxFrame[static_cast<std::size_t>(rxCount++)] = value;
        if (st.expected < 0 && rxCount == 3) {
            st.expected = rxFrame[1] | (rxFrame[2] << 8);
            if (st.expected + 4 > EtsFrame::BUFFER_SIZE) {
                // No frame is that long: this start byte was noise, or a byte of a frame
                // whose start was lost. The real start may be among the length bytes just
                // taken; look for it there before going on with the rest of the read.
                const auto head = st.head;
                const int headCount = st.headCount;
                st = RxState{};
                escapePending = 0;
                rxFrame.fill(0);
                rxCount = 0;
                AddBytes(head.data(), headCount, st);
                continue;
            }
        }
        if (!st.complete && st.expected >= 0 && rxCount > 3 && rxCount >= st.expected + 4) {
            st.complete = true;
        }
    }
}

void LinkSession::DeliverTimeoutFrame() {
    std::memcpy(rxFrame.data(), EtsFrame::TIMEOUT_FRAME, sizeof EtsFrame::TIMEOUT_FRAME);
    rxCount = static_cast<int>(sizeof EtsFrame::TIMEOUT_FRAME);
}

void LinkSession::PortFailed(Millis waitLeft) {
    const auto now = Clock::now();
    if (!portFailing_) {
        portFailing_ = true;
        portFailingSince_ = now;
    }
    if (now - portFailingSince_ >= timing.portLostLimit) {
        SetStatusText(portName.empty() ? std::string("Serial port lost!")
                                       : "Serial port " + portName + " lost!");
        throw PortLost{};
    }
    Pause(waitLeft.count() < 0 ? DEAD_PORT_RECHECK : std::min(waitLeft, DEAD_PORT_RECHECK));
}

int LinkSession::Receive(bool limited, Millis limit, bool giveUpEmpty) {
    rxCount = 0;
    rxChunk.fill(0);
    rxFrame.fill(0);
    RxState state;
    const auto deadline = Clock::now() + limit;

    for (;;) {
        Millis wait{-1};
        if (limited) wait = std::max(Millis(0), std::chrono::ceil<Millis>(deadline - Clock::now()));
        switch (device->WaitReadable(wait)) {
            case WaitResult::Stopped:
                throw LineStopped{};
            case WaitResult::Ready: {
                const int n = device->ReadData(rxChunk.data(), EtsFrame::BUFFER_SIZE);
                if (n > 0) {
                    portFailing_ = false;
                    AddBytes(rxChunk.data(), n, state);
                }
                break;
            }
            case WaitResult::Failed:
                PortFailed(wait);
                break;
            case WaitResult::TimedOut:
                break;
        }
        // The limit is looked at before completeness, as a poll counter would be.
        if (limited && Clock::now() >= deadline) {
            if (giveUpEmpty) return 0;
            DeliverTimeoutFrame();
            return rxCount;
        }
        if (state.complete) return rxCount;
    }
}

int LinkSession::ReceiveFrame(int mode) {
    const bool limited = mode == RECEIVE_POLL || mode == RECEIVE_TIMEOUT_FRAME;
    return Receive(limited, timing.receiveFrameLimit, mode == RECEIVE_POLL);
}

int LinkSession::WaitReply(int mode) {
    return Receive(mode == RECEIVE_TIMEOUT_FRAME, timing.waitReplyLimit, false);
}

void LinkSession::Pause(Millis duration) {
    if (stop.WaitFor(duration)) throw LineStopped{};
}

void LinkSession::CheckStopped() const {
    if (stop.IsRaised()) throw LineStopped{};
}

}  // namespace zolt
