// The phone-link side of one line: its serial port, its frame buffers, its status text and
// progress counters, and the operations that every task builds on (send a frame, receive a
// frame in one of three modes, the file-system access handshake and its release).
//
// Everything here runs on the line's worker thread, except OpenLink (the owner's thread,
// before a job) and the readers of statusText and the progress counters (any thread).
// Every wait and pause honours `stop`: when it is raised they throw LineStopped. A receive on a
// port that has gone away (adapter unplugged, the other end closed) throws PortLost once the
// port has reported itself gone for timing.portLostLimit, having set the status text.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/ets_frame.h"
#include "link/replies.h"
#include "link/frame_receiver.h"
#include "link/frame_trace.h"
#include "link/serial_port.h"
#include "link/shared_text.h"
#include "io/prompt.h"
#include "link/stop_signal.h"
#include "link/timing.h"

namespace zolt {

// Thrown inside a worker when its line's serial port is gone. Like LineStopped it unwinds the
// task in progress and is caught at the worker's entry, which fails the task.
struct PortLost {};

// Whether a phone is on a line (LinkSession::ProbePresence).
enum class Presence { Answers, Silent, PortGone };

// Receive modes of ReceiveFrame and WaitReply.
enum class ReceiveMode {
    RECEIVE_UNTIL_FRAME = 1,    // wait until a complete frame has come
    RECEIVE_POLL = 6,           // ReceiveFrame: give up after a while, return 0
    RECEIVE_TIMEOUT_FRAME = 11, // give up after a while with the time-out frame
};
using enum ReceiveMode;

// Whose file-system access WaitForFs asks for: the backup's, or a restore's or script's. Only
// the success text differs.
enum class FsAccessMode { FS_RESTORE = 0, FS_BACKUP = 1 };
using enum FsAccessMode;

// Results of OpenLink.
inline constexpr int LINK_OPENED = 1;
inline constexpr int LINK_ACCESS_DENIED = 2;
inline constexpr int LINK_FAILED = 3;

// Result of SendFrame for a request whose escaped form would not fit the 800-byte buffer.
inline constexpr int SEND_REFUSED = -2;

// Operation results, as the task runners use them.
inline constexpr int RESULT_OK = 0;
inline constexpr int RESULT_FAIL = 255;

class LinkSession {
public:
    LinkSession();
    virtual ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // Opens `port` at the given speed, 8N1 without flow control. Returns LINK_OPENED (and
    // stores the name, COM number and speed), LINK_ACCESS_DENIED when another program holds
    // the port, or LINK_FAILED for any other failure (no such port, not a serial device).
    [[nodiscard]] int OpenLink(const std::string& name, int baud);
    // After the port was lost (an adapter or a USB phone unplugged and plugged in again, or
    // the phone swapped): closes it and opens the same name again. Returns true when the line
    // has a working port; otherwise the status text says that it could not be opened again.
    // Does nothing while the port was not lost.
    [[nodiscard]] bool ReopenLostLink();
    // A line whose port is not there yet (a phone on a USB cable not plugged in): the port is
    // opened by ReopenLostLink once `name` exists.
    void AwaitPort(const std::string& name, int baud);
    // Whether the port went away and has not been opened again.
    bool IsPortLost() const { return portLost_.load(); }
    // Whether a port is attached to the line: open, or lost and to be opened again. Any thread:
    // the worker reopens a lost port only while portLost_ is still set.
    bool IsAttached() const { return portLost_.load() || port.IsOpen(); }

    // Sends the request built in txFrame (body from offset 3, txLength = 3 + L): fills in the
    // length and checksum, escapes it into txWire and writes it. Returns the byte count handed
    // to the port, -1 when the port is closed, SEND_REFUSED when the escaped frame would not
    // fit 800 bytes (nothing is sent). The request is left as built, so a second call sends
    // the same frame again.
    int SendFrame();

    // Clears txFrame and writes `body` from offset 3 on, setting txLength.
    void BuildRequest(std::initializer_list<std::uint8_t> body);
    void BuildRequest(std::span<const std::uint8_t> body);
    // Clears txFrame and gives the room for a body (offset 3 on) to one of the builders of
    // link/messages.h; the caller then sets txLength to 3 + the length it returned.
    std::span<std::uint8_t> ClearRequest() {
        txFrame.fill(0);
        return std::span<std::uint8_t>(txFrame).subspan(3, EtsFrame::BUFFER_SIZE - 4);
    }

    // Receive one frame into rxFrame, starting empty. Returns rxCount (> 3) for a complete
    // frame, 0 when ReceiveFrame gave up in RECEIVE_POLL mode, 5 when the time-out frame
    // (FE 01 00 32 CD) was delivered. Neither checks the checksum or the message id.
    // A frame whose declared length fits the 800-byte buffer is received however the port
    // splits it into reads; one whose length cannot fit is given up as soon as its length is
    // in, and the search for a start byte goes on right after its own start byte.
    //   ReceiveFrame: modes 6 and 11 give up after timing.receiveFrameLimit.
    //   WaitReply: mode 11 gives up after timing.waitReplyLimit; the others wait for ever.
    int ReceiveFrame(ReceiveMode mode);
    // ReceiveFrame(RECEIVE_POLL) with a limit of its own: a complete frame, or 0 after `limit`.
    int ReceiveFrameWithin(Millis limit) { return Receive(true, limit, true); }
    int WaitReply(ReceiveMode mode);
    // A complete frame, or 0 once `deadline` has passed: a wait bounded from when it began,
    // which frames that answer nothing do not lengthen.
    int ReceiveFrameBy(const Deadline& deadline) { return Receive(true, deadline.Left(), true); }
    // The frame received last, for judging (link/replies.h).
    ReceivedFrame Received() const { return ReceivedFrame{std::span<const std::uint8_t>(rxFrame), rxCount}; }
    // Reads and drops the input queued on the line, without waiting: what is queued before a
    // request goes out answers an earlier one.
    void DiscardInput();
    // Pauses for `duration`, reading and dropping whatever arrives meanwhile: an answer the
    // line delivered twice, read after the pause, would pass for the next request's.
    void PauseDiscarding(Millis duration);

    // A complete frame, or 0 once `ask` has passed (the request sent last went unanswered for
    // its time, whatever else came meanwhile: the caller sends it again and starts `ask`
    // anew) or `wait` has.
    int ReceiveOrAskAgain(const Deadline& ask, const Deadline& wait) {
        return Receive(true, wait.Endless() ? ask.Left() : std::min(ask.Left(), wait.Left()), true);
    }
    // When a request just sent is to be sent again if its answer has not come: one receive
    // limit from now.
    Deadline AskAgainAt() const { return Deadline(timing.receiveFrameLimit); }

    // The bound of a wait for the phone that would otherwise wait until it answers
    // (timing.phoneWait; endless when negative).
    Deadline PhoneWait() const { return Deadline(timing.phoneWait); }
    // Fails such a wait: "No answer from the phone in 30 s (" + what it waited for + ")!".
    int PhoneWaitFailed(std::string_view waitingFor);
    // WaitReply(RECEIVE_POLL): a wait for the next complete frame that has no limit.
    int WaitForAnyFrame() { return WaitReply(RECEIVE_POLL); }

    void SetStatusText(std::string_view text) { statusText.Set(text); }

    // The file-system access handshake before a calibration run: loopback probes until the
    // echo comes (again a receive limit after each unanswered probe), then the access request until it
    // is answered; FS_BACKUP gives the backup's success text. Returns RESULT_OK or
    // RESULT_FAIL; waits without limit until the phone answers.
    [[nodiscard]] int WaitForFs(FsAccessMode mode);
    // The release after a calibration run (F3 03, then CE 00 00). Returns the last send's result.
    int FinishFsAccess();

    // --- A phone's presence (link/presence.cpp) ---
    // Loopback probes, one per timing.presenceProbeGap, each answered by the firmware's echo
    // or the boot loader's E0 00: never spaced as the boot-loader handshake is. A stop throws
    // LineStopped, as every wait does.
    //
    // One probe: Answers when an answer came within the gap, Silent when none did, PortGone
    // when the port has gone away (a USB adapter pulled out).
    [[nodiscard]] Presence ProbePresence();
    // Probes until a phone answers (Answers) or the port goes away (PortGone). The probe that
    // found the phone stands as the first probe of a BootLoad that follows within
    // timing.bootProbeGap: a phone that has just come takes it as the handshake's first.
    [[nodiscard]] Presence WaitForPhone();
    // Probes until the phone is gone: PortGone when the port goes away, Silent once no probe
    // has been answered for timing.phoneGoneSilence.
    [[nodiscard]] Presence WaitUntilPhoneGone();

    // --- Boot loading and flash programming (link/flash.cpp) ---
    // Each returns RESULT_OK or RESULT_FAIL after setting the status text; `type` is an image
    // type code (link/flash.h).
    //
    // Brings the phone into its boot loader: loopback probes, one per timing.bootProbeGap,
    // until it answers E0 00, then the confirm. Waits without limit for the phone (until the
    // line is stopped).
    [[nodiscard]] int BootLoad();
    // Erases the area of `type`. Succeeds on any reply; the reply leaves in flashBlock the
    // first block FlashWrite is to send (2 when the erase was accepted). Fails when no reply
    // comes within timing.eraseReplyLimit.
    [[nodiscard]] int FlashErase(int type);
    // Writes `section` in 350-byte blocks, starting at flashBlock and going where the phone's
    // replies point, until flashBlock lies past the end. Fails when flashBlock falls below 2,
    // a request cannot be sent, or timing.flashAttemptLimit attempts bring no accepted block.
    // Sets flashData and flashBlockCount, and leaves flashBlockCount set.
    [[nodiscard]] int FlashWrite(int type, std::span<const std::uint8_t> section);
    // One write request (block number flashBlock, 1 to 350 bytes) and its reply. Returns
    // RESULT_OK when a reply of any kind (the time-out frame included) was received, having
    // moved flashBlock as the reply says and counted the attempt; RESULT_FAIL when the attempt
    // limit had been reached (nothing is sent) or the request could not be sent.
    [[nodiscard]] int FlashWriteBlock(int type, std::span<const std::uint8_t> block);
    // Sends the reset request twice; no reply is awaited.
    void ResetPhone();
    // The line's progress for the display: 0 when flashBlockCount is 0, otherwise
    // (flashBlock * 100 - 100) / flashBlockCount, truncated; above 100 at the end of a write.
    // Safe to call from any thread while the worker runs.
    int DownloadPercent() const;

    // Shows the operator a message from this line's worker. A stop of the line closes the
    // message and throws LineStopped, so that stopping never waits for the operator.
    void Tell(Prompt& prompt, std::string_view text, PromptIcon icon);

    // Sleeps, or throws LineStopped when the line is stopped.
    void Pause(Millis duration);
    // Throws LineStopped when the line has been stopped.
    void CheckStopped() const;

    // --- Link fields ---
    SerialPort port;
    // What frames are sent to and read from: `port`, unless a test puts another device here.
    SerialDevice* device = &port;
    std::string portName;
    // The name ReopenLostLink opens when not empty: a stable name (a hub socket's by-path
    // link) that follows the adapter to whatever device it comes back as.
    std::string reopenName;
    int portNumber = 0;  // the COM number, 0 for a port that has none
    int baudRate = 0;
    SharedText statusText;

    // The request being built (see BuildRequest, ClearRequest, SendFrame).
    std::array<std::uint8_t, EtsFrame::BUFFER_SIZE> txFrame{};
    int txLength = 0;

private:
    std::array<std::uint8_t, EtsFrame::BUFFER_SIZE> txWire_{};  // txFrame escaped, as sent
    int txWireLength_ = 0;
    // What a read delivers, in a heap block of its own for the same reason as the receiver's
    // frame: a device read that overruns it meets AddressSanitizer instead of the frame.
    std::unique_ptr<std::array<std::uint8_t, EtsFrame::BUFFER_SIZE>> rxChunk_ =
        std::make_unique<std::array<std::uint8_t, EtsFrame::BUFFER_SIZE>>();
    FrameReceiver receiver_;

public:
    // The reply received last: its frame and byte count.
    FrameReceiver::Buffer& rxFrame = receiver_.frame;
    int& rxCount = receiver_.count;

    // --- Flash progress, read by the display while the worker writes it ---
    std::atomic<std::uint32_t> flashBlock{0};
    std::atomic<std::int32_t> flashBlockCount{0};
    int flashAttempts = 0;
    const std::uint8_t* flashData = nullptr;

    Timing timing = Timing::Standard();
    StopSignal stop;
    // Told of every frame sent and received, with `traceLine` as the line; null for none. Set
    // while the line is idle.
    FrameTrace* trace = nullptr;
    int traceLine = 0;

private:
    int Receive(bool limited, Millis limit, bool giveUpEmpty);
    // Fails the line when its port has reported itself gone for long enough; otherwise sleeps
    // a little, so that a dead port never makes a receive spin.
    void PortFailed(const Deadline& deadline);
    void Traced(FrameDirection direction) const;

    // Since when the port has reported itself gone without a byte coming in between.
    std::chrono::steady_clock::time_point portFailingSince_{};
    bool portFailing_ = false;
    // PortLost was thrown; the next job opens the port again. Read by the owner's thread.
    std::atomic<bool> portLost_{false};
    // When the presence probe that found the phone was sent, for the BootLoad that follows.
    std::optional<std::chrono::steady_clock::time_point> foundByProbeAt_;
};

// Clears a line's progress total when it goes out of scope, by return or by a stop: the runners
// whose progress must read 0 % once they end hold one.
struct ClearProgressTotal {
    LinkSession& line;
    ~ClearProgressTotal() { line.flashBlockCount.store(0, std::memory_order_relaxed); }
};

}  // namespace zolt
