#include "link/link_session.h"

#include "io/texts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "link/messages.h"

namespace zolt {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

LinkSession::LinkSession() { port.AttachStopSignal(&stop); }

LinkSession::~LinkSession() { port.AttachStopSignal(nullptr); }

int LinkSession::OpenLink(const std::string& name, int baud) {
    port.SetTiming(timing);
    if (port.Open(name, baud, 8, SERIAL_PARITY_NONE, false, false, false)) {
        portName = name;
        portNumber = ComPortNumber(name);
        baudRate = baud;
        return LINK_OPENED;
    }
    return port.LastError() == SerialError::AccessDenied ? LINK_ACCESS_DENIED : LINK_FAILED;
}

bool LinkSession::ReopenLostLink() {
    if (!portLost_) return true;
    port.Close();
    portFailing_ = false;
    const std::string& name = reopenName.empty() ? portName : reopenName;
    if (port.Open(name, baudRate, 8, SERIAL_PARITY_NONE, false, false, false)) {
        portLost_ = false;
        return true;
    }
    SetStatusText(texts::SERIAL_PORT + portName + texts::PORT_NOT_REOPENED);
    return false;
}

void LinkSession::AwaitPort(const std::string& name, int baud) {
    port.Close();
    portName = name;
    portNumber = ComPortNumber(name);
    baudRate = baud;
    portLost_ = true;
}

void LinkSession::BuildRequest(std::initializer_list<std::uint8_t> body) {
    BuildRequest(std::span<const std::uint8_t>(body.begin(), body.size()));
}

void LinkSession::BuildRequest(std::span<const std::uint8_t> body) {
    txFrame.fill(0);
    // A body that leaves no room for the checksum is not built: SendFrame refuses it.
    if (body.size() > static_cast<std::size_t>(EtsFrame::BUFFER_SIZE - 4)) {
        txLength = 0;
        return;
    }
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

    const int escaped = EscapeBytes(txFrame.data() + 1, txLength, txWire_.data() + 1,
                                    EtsFrame::BUFFER_SIZE - 1);
    if (escaped < 0) {
        txWireLength_ = 0;
        return SEND_REFUSED;
    }
    txWire_[0] = EtsFrame::START;
    txWireLength_ = 1 + escaped;
    if (trace) {
        trace->OnFrame(traceLine, FrameDirection::Sent,
                       std::span<const std::uint8_t>(txFrame.data(), static_cast<std::size_t>(txLength) + 1));
    }
    const int sent = device->SendData(txWire_.data(), txWireLength_);
    CheckStopped();
    return sent;
}

void LinkSession::PortFailed(const Deadline& deadline) {
    const auto now = Clock::now();
    if (!portFailing_) {
        portFailing_ = true;
        portFailingSince_ = now;
    }
    if (now - portFailingSince_ >= timing.portLostLimit) {
        SetStatusText(texts::SERIAL_PORT + portName + texts::PORT_LOST);
        portLost_ = true;
        throw PortLost{};
    }
    Pause(deadline.LeftAtMost(timing.portLostRecheck));
}

void LinkSession::DiscardInput() {
    // Bounded, so that a line that never stops talking cannot hold the worker here.
    constexpr int MOST_READS = 64;
    for (int i = 0; i < MOST_READS; ++i) {
        if (device->ReadData(rxChunk_->data(), EtsFrame::BUFFER_SIZE) <= 0) return;
    }
}

void LinkSession::PauseDiscarding(Millis duration) {
    // Bounded, so that a phone that never stops talking cannot hold the line here.
    constexpr int MOST_FRAMES = 64;
    const Deadline gap(duration);
    for (int i = 0; i < MOST_FRAMES && !gap.Passed(); ++i) {
        if (ReceiveFrameBy(gap) == 0) break;
    }
    Pause(gap.Left());
}

int LinkSession::PhoneWaitFailed(std::string_view waitingFor) {
    const auto seconds = std::chrono::duration_cast<std::chrono::duration<double>>(timing.phoneWait).count();
    char number[32];
    std::snprintf(number, sizeof number, "%g", seconds);
    SetStatusText(std::string("No answer from the phone in ") + number + " s (" + std::string(waitingFor) + ")!");
    return RESULT_FAIL;
}

int LinkSession::Receive(bool limited, Millis limit, bool giveUpEmpty) {
    rxChunk_->fill(0);
    receiver_.Start();
    const Deadline deadline = limited ? Deadline(std::max(limit, Millis(0))) : Deadline::Never();

    for (;;) {
        switch (device->WaitReadable(deadline.Left())) {
            case WaitResult::Stopped:
                throw LineStopped{};
            case WaitResult::Ready: {
                const int n = device->ReadData(rxChunk_->data(), EtsFrame::BUFFER_SIZE);
                if (n > 0) {
                    portFailing_ = false;
                    receiver_.Feed(std::span<const std::uint8_t>(rxChunk_->data(), static_cast<std::size_t>(n)));
                }
                break;
            }
            case WaitResult::Failed:
                PortFailed(deadline);
                break;
            case WaitResult::TimedOut:
                break;
        }
        // The limit is looked at before completeness, as a poll counter would be.
        if (deadline.Passed()) {
            if (giveUpEmpty) return 0;
            receiver_.DeliverTimeoutFrame();
            Traced(FrameDirection::TimedOut);
            return rxCount;
        }
        if (receiver_.Complete()) {
            Traced(FrameDirection::Received);
            return rxCount;
        }
    }
}

void LinkSession::Traced(FrameDirection direction) const {
    if (!trace) return;
    // A received frame is its declared length; bytes behind it in the same read are not its.
    const int length = direction == FrameDirection::Received
                           ? std::min(rxCount, msg::BodyLength(rxFrame.data()) + 4)
                           : rxCount;
    trace->OnFrame(traceLine, direction, std::span<const std::uint8_t>(rxFrame.data(), static_cast<std::size_t>(length)));
}

int LinkSession::ReceiveFrame(ReceiveMode mode) {
    const bool limited = mode == RECEIVE_POLL || mode == RECEIVE_TIMEOUT_FRAME;
    return Receive(limited, timing.receiveFrameLimit, mode == RECEIVE_POLL);
}

int LinkSession::WaitReply(ReceiveMode mode) {
    return Receive(mode == RECEIVE_TIMEOUT_FRAME, timing.waitReplyLimit, false);
}

void LinkSession::Tell(Prompt& prompt, std::string_view text, PromptIcon icon) {
    CheckStopped();
    prompt.ShowLineMessage(text, icon, stop.NativeHandle());
    CheckStopped();
}

void LinkSession::Pause(Millis duration) {
    if (stop.WaitFor(duration)) throw LineStopped{};
}

void LinkSession::CheckStopped() const {
    if (stop.IsRaised()) throw LineStopped{};
}

}  // namespace zolt
