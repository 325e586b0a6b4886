#include "cli/frame_names.h"

#include <algorithm>
#include <cstdio>

#include "link/flash.h"
#include "link/messages.h"
#include "link/replies.h"

namespace zolt::cli {

namespace {

using Body = std::span<const std::uint8_t>;

// Body offsets of the fields the names show.
constexpr std::size_t PAGE_DB = 2, PAGE_SEGMENT = 3, PAGE_OFFSET = 4, PAGE_BYTES = 6;
constexpr std::size_t FLASH_BLOCK = 2, FLASH_OP = 6, FLASH_TYPE = 7, FLASH_COUNT = 10, FLASH_STATUS = 6;
constexpr std::size_t SIDB_TYPE_AT = 2, SIDB_ID_AT = 4, SIDB_LEN_AT = 6, SIDB_OFFSET_AT = 8;
constexpr std::size_t MARKER_WHICH = 2;

unsigned Le16(Body b, std::size_t at) { return b[at] | (b[at + 1] << 8); }

unsigned long Le32(Body b, std::size_t at) {
    return static_cast<unsigned long>(b[at]) | (static_cast<unsigned long>(b[at + 1]) << 8) |
           (static_cast<unsigned long>(b[at + 2]) << 16) | (static_cast<unsigned long>(b[at + 3]) << 24);
}

template <class... Args>
std::string Text(const char* format, Args... args) {
    char text[96];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// "db 1 seg 4 offset 17 32 bytes": the page that page reads, their replies and database
// writes name in the same four fields.
std::string Page(Body b) {
    return Text("db %u seg %u offset %u %u bytes", b[PAGE_DB], b[PAGE_SEGMENT], Le16(b, PAGE_OFFSET), Le16(b, PAGE_BYTES));
}

std::string ImageType(int code) {
    const auto name = ImageTypeName(code);
    return name ? std::string(*name) : std::to_string(code);
}

std::string FlashRequestName(Body b) {
    if (b.size() < msg::FLASH_HEADER) return "flash request (short)";
    const int type = b[FLASH_TYPE];
    switch (b[FLASH_OP]) {
        case FLASH_OP_ERASE: return "erase type " + ImageType(type);
        case FLASH_OP_WRITE:
            return Text("flash write block %lu type %s (%u bytes)", Le32(b, FLASH_BLOCK), ImageType(type).c_str(),
                        Le16(b, FLASH_COUNT));
        default: return Text("flash operation %u block %lu", b[FLASH_OP], Le32(b, FLASH_BLOCK));
    }
}

bool IsSetting(Body b, unsigned id) {
    return b.size() >= SIDB_ID_AT + 2 && Le16(b, SIDB_TYPE_AT) == msg::SIDB_TYPE && Le16(b, SIDB_ID_AT) == id;
}

std::string SidbWriteName(Body b) {
    if (b.size() < msg::SIDB_WRITE_HEADER) return "SIDB write (short)";
    if (IsSetting(b, msg::SIDB_FS_ACCESS_ID)) return "file-system access";
    std::string name = Text("SIDB write type %u id %u len %u offset %u", Le16(b, SIDB_TYPE_AT), Le16(b, SIDB_ID_AT),
                            Le16(b, SIDB_LEN_AT), Le16(b, SIDB_OFFSET_AT));
    if (IsSetting(b, msg::SIDB_SETTING_ID) && b.size() > msg::SIDB_WRITE_HEADER) {
        name += Text(" (setting 0x%02X)", b[msg::SIDB_WRITE_HEADER]);
    }
    return name;
}

std::string RequestName(Body b) {
    // No other request has exactly a page read's length, whatever id the catalogue gives it.
    if (b.size() == msg::PAGE_READ_LENGTH) return "page read " + Page(b);
    switch (msg::IdOf(b.data())) {
        case msg::ID_LOOPBACK: return "probe";
        case msg::ID_BOOT_CONFIRM: return "boot confirm";
        case msg::ID_FLASH: return FlashRequestName(b);
        case msg::ID_DB_WRITE: return b.size() >= msg::DB_WRITE_HEADER ? "record write " + Page(b) : "record write (short)";
        case msg::ID_MARKER:
            if (b.size() > MARKER_WHICH) return b[MARKER_WHICH] == 0 ? "records begin" : "records end";
            return "records marker (short)";
        case msg::ID_SIDB_READ:
            if (IsSetting(b, msg::SIDB_SETTING_ID)) return "setting read";
            return b.size() >= SIDB_ID_AT + 2 ? Text("SIDB read type %u id %u", Le16(b, SIDB_TYPE_AT), Le16(b, SIDB_ID_AT))
                                              : "SIDB read (short)";
        case msg::ID_SIDB_WRITE: return SidbWriteName(b);
        case msg::ID_RELEASE_FIRST: return "file-system release (first)";
        case msg::ID_RELEASE_SECOND: return "file-system release (second)";
        case msg::ID_RESET: return "reset";
        default: return "unknown";
    }
}

std::string FlashReplyName(Body b) {
    if (b.size() < FLASH_REPLY_LENGTH) return "flash reply (short)";
    const unsigned long block = Le32(b, FLASH_BLOCK);
    switch (b[FLASH_STATUS]) {
        case FLASH_ACCEPTED: return Text("flash reply block %lu accepted", block);
        case FLASH_SEND_BLOCK: return Text("flash reply send block %lu", block);
        default: return Text("flash reply block %lu status %u", block, b[FLASH_STATUS]);
    }
}

std::string ReplyName(Body b) {
    switch (msg::IdOf(b.data())) {
        case msg::ID_REFUSED: return "refused";
        case msg::ID_LOOPBACK: return "echo";
        case msg::ID_BOOT_CONFIRM: return "boot loader ready";
        case msg::ID_FLASH: return FlashReplyName(b);
        case msg::ID_DB_WRITE:
            return b.size() >= msg::PAGE_READ_LENGTH ? "record accepted " + Page(b) : "record accepted";
        case msg::ID_SIDB_READ:
            if (b.size() != msg::SETTING_READ_REPLY_LENGTH) return "SIDB read reply (odd length)";
            if (IsSetting(b, msg::SIDB_SETTING_ID)) return Text("setting 0x%02X", b[msg::SETTING_READ_VALUE_AT]);
            return Text("SIDB type %u id %u value 0x%02X", Le16(b, SIDB_TYPE_AT), Le16(b, SIDB_ID_AT),
                        b[msg::SETTING_READ_VALUE_AT]);
        case msg::ID_SIDB_WRITE: return "SIDB write accepted";
        default: break;
    }
    // A page reply echoes its read, whose id is the catalogue's, and then holds the data.
    if (b.size() < msg::PAGE_READ_LENGTH) return "unknown";
    const std::size_t data = b.size() - msg::PAGE_READ_LENGTH;
    std::string name = "page reply " + Page(b);
    if (data != Le16(b, PAGE_BYTES)) name += Text(" (holds %zu)", data);
    return name;
}

}  // namespace

std::string FrameName(FrameDirection direction, std::span<const std::uint8_t> frame) {
    const ReceivedFrame received{frame, static_cast<int>(frame.size())};
    if (direction == FrameDirection::TimedOut || received.TimedOut()) return "timed out";
    if (frame.size() < 3) return "cut short";
    const std::size_t declared = static_cast<std::size_t>(msg::BodyLength(frame.data()));
    const Body body = frame.subspan(3, std::min(declared, frame.size() - 3));
    if (body.size() < 2) return body.empty() ? "empty" : "unknown";
    std::string name = direction == FrameDirection::Sent ? RequestName(body) : ReplyName(body);
    if (direction == FrameDirection::Received && !received.Intact()) {
        name += frame.size() < declared + 4 ? " (cut short)" : " (bad checksum)";
    }
    return name;
}

}  // namespace zolt::cli
