// The phone's boot loader: it answers the loopback probe with E0 00, takes the confirm
// E0 00 without a reply, erases and writes flash areas (B2 04), and leaves for the firmware
// on a reset (DC 00, no reply), after which it hears nothing while the phone restarts.
//
// Flash replies are 7 body bytes: B2 04, the block number (32-bit little-endian), status
// 0 (the block is written; go on with the next) or 1 (send the named block). Where the
// tool leaves the phone's side open, the boot loader does what a careful phone would:
//  - an erase before the confirm E0 00 of this stay names block 1 with status 1 (a phone
//    that started in its boot loader counts as confirmed);
//  - an erase of an area that does not exist (type 7 and above) names block 1 with status 1,
//    which the tool takes as a failed erase;
//  - a write to an area not erased since the boot loader started names block 1 too;
//  - a write whose length field disagrees with its data, that carries no or over 350 bytes,
//    or whose 16-bit sum does not match, is asked for again;
//  - a write of a block past the next one the phone expects (a block lost on the way) names
//    the expected block; a write of an earlier block is written again and accepted, as a
//    tool that lost the reply sends the block once more;
//  - a request too short to name a block is not answered.
// The fault options repeatBlock and skipBlock act here, once per block for the phone's life;
// eraseReply makes a done erase name block 2 with status 1 instead of block 1 with status 0.
#include <cstdint>
#include <memory>
#include <set>

#include "link/flash.h"
#include "sim/flash_store.h"
#include "sim/message_ids.h"
#include "sim/phone_context.h"
#include "sim/standard_handlers.h"

namespace zolt::sim {

namespace {

// What the boot loader is writing, valid for one stay in the boot loader.
struct BootSession {
    std::uint64_t entry = 0;   // PhoneState::bootLoaderEntries when it began
    int type = -1;             // the area erased last, -1 before any erase
    std::uint32_t next = 0;    // the block the phone expects next
    bool confirmed = false;    // E0 00 came during this stay
    std::set<std::uint32_t> repeated;  // blocks on which the fault options have played
    std::set<std::uint32_t> skipped;
};

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void FlashReply(PhoneContext& phone, std::uint32_t block, std::uint8_t status, Millis work = Millis{0}) {
    const std::uint8_t body[FLASH_REPLY_LENGTH] = {
        FLASH_ID, FLASH_SUBCOMMAND, static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8),
        static_cast<std::uint8_t>(block >> 16), static_cast<std::uint8_t>(block >> 24), status};
    phone.Reply(body, work);
}

class BootLoader {
public:
    bool Probe(PhoneContext& phone, const Request&) {
        const std::uint8_t ready[] = {0xE0, 0x00};
        phone.Reply(ready);
        return true;
    }

    bool Confirm(PhoneContext& phone, const Request&) {
        Session(phone).confirmed = true;
        phone.Note("boot loader confirmed");
        return true;
    }

    bool Reset(PhoneContext& phone, const Request& r) {
        Restart(phone, r);
        phone.SetMode(PhoneMode::Firmware);
        return true;
    }

    bool Flash(PhoneContext& phone, const Request& r) {
        constexpr std::size_t NAMES_BLOCK = 6;  // B2 04 and the block number
        if (r.body.size() < NAMES_BLOCK) return true;
        const std::uint32_t block = Le32(r.body, 2);
        if (r.body.size() < 8) {
            FlashReply(phone, block, FLASH_SEND_BLOCK);
            return true;
        }
        Session(phone);
        const std::uint8_t op = r.body[6];
        const int type = r.body[7];
        if (op == FLASH_OP_ERASE) return Erase(phone, block, type);
        if (op == FLASH_OP_WRITE) return Write(phone, r, block, type);
        phone.Note("unknown flash operation");
        FlashReply(phone, block, FLASH_SEND_BLOCK);
        return true;
    }

private:
    // The session of the current stay in the boot loader.
    BootSession& Session(PhoneContext& phone) {
        if (session_.entry != phone.State().bootLoaderEntries) {
            session_.entry = phone.State().bootLoaderEntries;
            session_.type = -1;
            session_.next = 0;
            session_.confirmed = phone.Options().startInBootLoader && session_.entry == 1;
        }
        return session_;
    }

    bool Erase(PhoneContext& phone, std::uint32_t block, int type) {
        if (!session_.confirmed) {
            phone.Note("erase before the confirm refused");
            FlashReply(phone, ERASE_BLOCK, FLASH_SEND_BLOCK);
            return true;
        }
        if (!phone.Flash().Erase(type)) {
            phone.Note("erase of area " + std::to_string(type) + " refused");
            FlashReply(phone, ERASE_BLOCK, FLASH_SEND_BLOCK);
            return true;
        }
        session_.type = type;
        session_.next = FIRST_DATA_BLOCK;
        ++phone.State().erases;
        if (phone.Options().faults.eraseReply == EraseReply::SendBlock2) {
            phone.Note("area " + std::to_string(type) + " erased, answered send block 2");
            FlashReply(phone, FIRST_DATA_BLOCK, FLASH_SEND_BLOCK, phone.Options().eraseTime);
        } else {
            phone.Note("area " + std::to_string(type) + " erased");
            FlashReply(phone, block, FLASH_ACCEPTED, phone.Options().eraseTime);
        }
        return true;
    }

    bool Write(PhoneContext& phone, const Request& r, std::uint32_t block, int type) {
        if (type != session_.type) {
            phone.Note("write to area " + std::to_string(type) + " that was not erased");
            FlashReply(phone, ERASE_BLOCK, FLASH_SEND_BLOCK);
            return true;
        }
        const std::size_t header = FLASH_REQUEST_HEADER;
        const std::size_t n = r.body.size() >= header ? Le16(r.body, 10) : 0;
        if (r.body.size() < header || n == 0 || n > FLASH_BLOCK_SIZE || r.body.size() != header + n) {
            phone.Note("block " + std::to_string(block) + ": length does not match");
            FlashReply(phone, block, FLASH_SEND_BLOCK);
            return true;
        }
        const auto data = r.body.subspan(header, n);
        std::uint16_t sum = 0;
        for (std::uint8_t b : data) sum = static_cast<std::uint16_t>(sum + b);
        if (sum != Le16(r.body, 8)) {
            phone.Note("block " + std::to_string(block) + ": sum does not match");
            FlashReply(phone, block, FLASH_SEND_BLOCK);
            return true;
        }
        if (block < FIRST_DATA_BLOCK || block > session_.next) {
            FlashReply(phone, session_.next, FLASH_SEND_BLOCK);
            return true;
        }
        if (PlayFaults(phone, block)) return true;

        const std::size_t offset = static_cast<std::size_t>(FlashBlockPosition(block));
        if (!phone.Flash().Write(type, offset, data) && phone.Flash().Area(type).size() < offset + n) {
            phone.Note("block " + std::to_string(block) + " does not fit the area");
            FlashReply(phone, block, FLASH_SEND_BLOCK);
            return true;
        }
        if (block == session_.next) ++session_.next;
        FlashReply(phone, block, FLASH_ACCEPTED, phone.Options().blockTime);
        return true;
    }

    // The fault options on a block; true when one of them answered it.
    bool PlayFaults(PhoneContext& phone, std::uint32_t block) {
        const FaultOptions& f = phone.Options().faults;
        for (std::uint32_t b : f.repeatBlock) {
            if (b == block && session_.repeated.insert(block).second) {
                phone.Note("fault: block " + std::to_string(block) + " asked for again");
                FlashReply(phone, block, FLASH_SEND_BLOCK, phone.Options().blockTime);
                return true;
            }
        }
        for (const auto& [from, to] : f.skipBlock) {
            if (from == block && session_.skipped.insert(block).second) {
                phone.Note("fault: block " + std::to_string(block) + " skipped to " + std::to_string(to));
                session_.next = to;
                FlashReply(phone, to, FLASH_SEND_BLOCK, phone.Options().blockTime);
                return true;
            }
        }
        return false;
    }

    BootSession session_;
};

}  // namespace

void InstallBootLoaderHandlers(MessageTable& table) {
    // One boot loader per table, that is per phone.
    auto loader = std::make_shared<BootLoader>();
    auto bind = [loader](bool (BootLoader::*step)(PhoneContext&, const Request&)) {
        return [loader, step](PhoneContext& p, const Request& r) { return (*loader.*step)(p, r); };
    };
    table.On(PhoneMode::BootLoader, ID_LOOPBACK, bind(&BootLoader::Probe));
    table.On(PhoneMode::BootLoader, ID_BOOT_CONFIRM, bind(&BootLoader::Confirm));
    table.On(PhoneMode::BootLoader, ID_FLASH, bind(&BootLoader::Flash));
    table.On(PhoneMode::BootLoader, ID_RESET, bind(&BootLoader::Reset));
}

}  // namespace zolt::sim
