// Boot loading, flash erase, flash write and reset: the flash operations of a line.
#include "link/flash.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string>

#include "link/link_session.h"
#include "link/messages.h"
#include "io/texts.h"

namespace zolt {

namespace {


int Fail(LinkSession& s, const std::string& text) {
    s.SetStatusText(text);
    return RESULT_FAIL;
}

std::string WithName(const char* text, std::string_view name) {
    std::string out(text);
    out += '(';
    out += name;
    out += ')';
    return out;
}

void SendProbe(LinkSession& s) {
    s.BuildRequest(msg::PROBE);
    if (s.SendFrame() < 0) s.SetStatusText(texts::LOOPBACK_TIMEOUT);
}

int BodyLength(const LinkSession& s) { return msg::BodyLength(s.rxFrame.data()); }

// A received frame whose checksum byte is valid: the bytes after the start byte sum to 0.
bool ChecksumValid(const LinkSession& s) {
    const int at = BodyLength(s) + 3;
    return at < EtsFrame::BUFFER_SIZE && at < s.rxCount &&
           FrameChecksum(s.rxFrame.data(), at) == s.rxFrame[at];
}

bool IsBootLoaderReply(const LinkSession& s) {
    return BodyLength(s) == msg::BOOT_REPLY_LENGTH && ChecksumValid(s) &&
           s.rxFrame[msg::BOOT_REPLY_LENGTH + 3] == msg::BOOT_REPLY_CHECKSUM;
}

// The B2 04 reply in rxFrame, if that is what came (link/replies.h): a frame damaged on the
// line, or too short for a block number and status, is no reply at all, as acting on a block
// number that noise produced could skip blocks and end a write with a hole in the flash.
std::optional<FlashAnswer> ReadFlashReply(const LinkSession& s) { return ReadFlashAnswer(s.Received()); }

// A B2 04 acceptance of another block than `block`: the answer to another request (a block
// accepted late). A request to send some block is an answer the phone may give to any.
bool IsOtherBlockAcceptance(const LinkSession& s, std::uint32_t block) {
    const auto reply = ReadFlashReply(s);
    return reply && reply->status == FLASH_ACCEPTED && reply->block != block;
}

// Moves flashBlock as a reply says. Returns true when the reply accepted a block.
bool FollowReply(LinkSession& s, const FlashAnswer& reply) {
    if (reply.status == FLASH_ACCEPTED) {
        // Block 0xFFFFFFFF accepted wraps to block 0, which the write takes as an erase
        // failure, as it does every block whose position is negative in 32 bits.
        s.flashBlock.store(reply.block + 1, std::memory_order_relaxed);
        return true;
    }
    if (reply.status == FLASH_SEND_BLOCK) s.flashBlock.store(reply.block, std::memory_order_relaxed);
    return false;
}

// Builds a B2 04 request in txFrame: header and, for a write, the data behind it.
void BuildFlashRequest(LinkSession& s, std::uint32_t block, std::uint8_t operation, int type,
                       std::span<const std::uint8_t> data) {
    s.txLength = 3 + msg::FlashRequest(s.ClearRequest(), block, operation, type, data);
}

}  // namespace

std::optional<std::string_view> ImageTypeName(int code) {
    static constexpr std::array<std::string_view, 7> NAMES = {"Boot", "CP", "DSPM", "DSPV",
                                                              "All",  "4M", "1M Data"};
    if (code < 0 || code >= static_cast<int>(NAMES.size())) return std::nullopt;
    return NAMES[static_cast<std::size_t>(code)];
}

int LinkSession::BootLoad() {
    SetStatusText(texts::WAIT_FOR_BOOT_LOAD);
    // A phone that a presence probe has just found heard that probe first: its handshake's
    // second probe is due a gap after it. A probe of our own now would start the handshake
    // afresh, a gap later.
    const auto since = foundByProbeAt_ ? std::chrono::steady_clock::now() - *foundByProbeAt_ : timing.bootProbeGap;
    foundByProbeAt_.reset();
    if (since < timing.bootProbeGap) {
        Pause(std::chrono::duration_cast<Millis>(timing.bootProbeGap - since));
    } else {
        SendProbe(*this);
        Pause(timing.bootProbeGap);
    }
    SendProbe(*this);
    // Until the boot loader answers: anything else (an echo of the running firmware, noise),
    // and silence too, earns another probe, one per gap. Probes sent back to back on the
    // firmware's echoes would never again show a phone that missed the handshake the pause
    // it waits for, and silence is what a phone attached late, or an answer cut off on the
    // line, leaves.
    Deadline nextProbe(timing.bootProbeGap);
    const Deadline wait = PhoneWait();
    for (;;) {
        if (wait.Passed()) return PhoneWaitFailed("boot loader");
        const Millis left = wait.Endless() ? nextProbe.Left() : std::min(nextProbe.Left(), wait.Left());
        if (Receive(true, left, true) > 0 && IsBootLoaderReply(*this)) break;
        if (nextProbe.Passed()) {
            SendProbe(*this);
            nextProbe = Deadline(timing.bootProbeGap);
        }
    }
    BuildRequest(msg::BOOT_CONFIRM);
    if (SendFrame() < 0) return Fail(*this, texts::BOOT_LOAD_FAILED);
    SetStatusText(texts::BOOT_LOAD_SUCCESS);
    return RESULT_OK;
}

int LinkSession::FlashErase(int type) {
    const auto name = ImageTypeName(type);
    if (!name) return Fail(*this, texts::FLASH_TYPE_ERROR);
    SetStatusText(WithName(texts::FLASH_ERASING, *name));

    flashBlock.store(ERASE_BLOCK, std::memory_order_relaxed);
    BuildFlashRequest(*this, ERASE_BLOCK, FLASH_OP_ERASE, type, {});
    // Whatever is queued now answers something older (a late reply to the previous section's
    // last block) and would be taken for the erase reply, moving the write off block 2.
    DiscardInput();
    if (SendFrame() < 0) return Fail(*this, texts::FLASH_ERASE_ERROR);
    // The boot loader answers every probe that reached it, and only the first answer ends
    // BootLoad; the others may still be on their way and are not the erase reply. Nor is a
    // block reply that comes late from the section written before: taken for the erase's, it
    // would start this write past its end, and end it as done with nothing written.
    //
    // Every other flash reply answers the erase, as the phone may: status 0 takes the erase
    // (block 1) and moves on to the block after it, status 1 names the block to send.
    const Deadline deadline(timing.eraseReplyLimit);
    do {
        if (deadline.Passed() || Receive(true, deadline.Left(), true) <= 0) {
            return Fail(*this, texts::FLASH_ERASE_ERROR);
        }
    } while (IsBootLoaderReply(*this) || IsOtherBlockAcceptance(*this, ERASE_BLOCK));
    // Whether the phone accepted the erase shows only in flashBlock, which FlashWrite checks.
    if (const auto reply = ReadFlashReply(*this)) (void)FollowReply(*this, *reply);

    SetStatusText(WithName(texts::FLASH_ERASE_SUCCESS, *name));
    return RESULT_OK;
}

int LinkSession::FlashWrite(int type, std::span<const std::uint8_t> section) {
    flashData = section.data();
    const auto name = ImageTypeName(type);
    if (!name) return Fail(*this, texts::FLASH_TYPE_ERROR);
    SetStatusText(WithName(texts::FLASH_WRITING, *name));

    const auto length = static_cast<std::int64_t>(section.size());
    flashBlockCount.store(static_cast<std::int32_t>(FlashBlockCountOf(length)),
                          std::memory_order_relaxed);
    flashAttempts = 0;

    for (;;) {
        const std::int64_t position = FlashBlockPosition(flashBlock.load(std::memory_order_relaxed));
        if (position < 0) return Fail(*this, texts::FLASH_ERASE_FAILED);
        if (position >= length) {
            SetStatusText(WithName(texts::FLASH_WRITING_SUCCESS, *name));
            // Lets the phone commit its last page before an erase or reset arrives.
            Pause(timing.flashDonePause);
            return RESULT_OK;
        }
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(length - position, FLASH_BLOCK_SIZE));
        if (FlashWriteBlock(type, section.subspan(static_cast<std::size_t>(position), n)) != RESULT_OK) {
            // Few attempts since the last accepted block: the request itself could not go out.
            return Fail(*this, flashAttempts < 3 ? texts::FLASH_WRITE_ERROR : texts::LINK_ERROR);
        }
    }
}

int LinkSession::FlashWriteBlock(int type, std::span<const std::uint8_t> block) {
    if (flashAttempts >= timing.flashAttemptLimit) return RESULT_FAIL;
    const std::uint32_t sent = flashBlock.load(std::memory_order_relaxed);
    BuildFlashRequest(*this, sent, FLASH_OP_WRITE, type,
                      block.first(std::min<std::size_t>(block.size(), FLASH_BLOCK_SIZE)));
    // A reply that came after its attempt had timed out is queued now; read as the answer to
    // this request it would put every later block one reply behind.
    DiscardInput();
    if (SendFrame() < 0) return RESULT_FAIL;
    const Deadline deadline(timing.waitReplyLimit);
    if (WaitReply(RECEIVE_TIMEOUT_FRAME) <= 0) return RESULT_FAIL;
    auto reply = ReadFlashReply(*this);
    // An acceptance of another block answers an earlier request, sent again after a time-out:
    // the answer to this one may still come within this attempt's time.
    while (reply && reply->status == FLASH_ACCEPTED && reply->block != sent) {
        reply.reset();
        if (deadline.Passed()) break;
        (void)Receive(true, deadline.Left(), false);
        reply = ReadFlashReply(*this);
    }
    if (reply && FollowReply(*this, *reply)) flashAttempts = 0;
    ++flashAttempts;
    return RESULT_OK;
}

void LinkSession::ResetPhone() {
    for (int i = 0; i < 2; ++i) {
        BuildRequest(msg::RESET);
        if (SendFrame() < 0) SetStatusText(texts::RESET_PHONE_ERROR);
    }
}

int LinkSession::DownloadPercent() const {
    const std::int64_t count = flashBlockCount.load(std::memory_order_relaxed);
    if (count == 0) return 0;
    const std::int64_t block = flashBlock.load(std::memory_order_relaxed);
    const std::int64_t percent = (block * 100 - 100) / count;
    // Only a nonsense block number from a phone gets near the limits of int.
    return static_cast<int>(std::clamp<std::int64_t>(percent, INT_MIN, INT_MAX));
}

}  // namespace zolt
