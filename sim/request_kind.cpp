#include "sim/request_kind.h"

#include <algorithm>
#include <array>
#include <utility>

#include "link/flash.h"
#include "sim/cal_handlers.h"
#include "sim/message_ids.h"

namespace zolt::sim {

namespace {

constexpr std::array<std::pair<RequestKind, std::string_view>, 13> KIND_NAMES = {{
    {RequestKind::Other, "other"},
    {RequestKind::Probe, "probe"},
    {RequestKind::BootProbe, "boot-probe"},
    {RequestKind::Access, "access"},
    {RequestKind::PageRead, "page"},
    {RequestKind::SettingRead, "setting-read"},
    {RequestKind::SettingWrite, "setting-write"},
    {RequestKind::SidbWrite, "sidb"},
    {RequestKind::DbWrite, "db-write"},
    {RequestKind::Write, "write"},
    {RequestKind::Erase, "erase"},
    {RequestKind::Block, "block"},
    {RequestKind::Reset, "reset"},
}};

constexpr std::array<std::pair<FaultAction, std::string_view>, 11> ACTION_NAMES = {{
    {FaultAction::Lose, "lose"},
    {FaultAction::Short, "short"},
    {FaultAction::Cut, "cut"},
    {FaultAction::Late, "late"},
    {FaultAction::Duplicate, "duplicate"},
    {FaultAction::Corrupt, "corrupt"},
    {FaultAction::Silent, "silent"},
    {FaultAction::Vanish, "vanish"},
    {FaultAction::Slow, "slow"},
    {FaultAction::Refuse, "refuse"},
    {FaultAction::Miswrite, "miswrite"},
}};

template <class T, std::size_t N>
std::string_view NameOf(const std::array<std::pair<T, std::string_view>, N>& names, T value) {
    for (const auto& [v, name] : names) {
        if (v == value) return name;
    }
    return "?";
}

template <class T, std::size_t N>
std::optional<T> ValueOf(const std::array<std::pair<T, std::string_view>, N>& names, std::string_view name) {
    for (const auto& [v, n] : names) {
        if (n == name) return v;
    }
    return std::nullopt;
}

std::uint16_t Le16(const Request& r, std::size_t at) {
    return static_cast<std::uint16_t>(r.body[at] | (r.body[at + 1] << 8));
}

constexpr std::size_t SIDB_IDS_END = 6;  // id, type, setting id

RequestKind SidbWriteKind(const Request& r) {
    if (r.body.size() < SIDB_IDS_END) return RequestKind::SidbWrite;
    const std::uint16_t type = Le16(r, 2);
    const std::uint16_t id = Le16(r, 4);
    if (type == SIDB_FS_ACCESS_TYPE && id == SIDB_FS_ACCESS_ID) return RequestKind::Access;
    if (type == SIDB_CAL_SETTING_TYPE && id == SIDB_CAL_SETTING_ID) return RequestKind::SettingWrite;
    return RequestKind::SidbWrite;
}

RequestKind BootLoaderKind(const Request& r) {
    switch (r.id) {
        case ID_LOOPBACK: return RequestKind::BootProbe;
        case ID_RESET: return RequestKind::Reset;
        case ID_FLASH:
            if (r.body.size() <= 6) return RequestKind::Other;
            if (r.body[6] == FLASH_OP_ERASE) return RequestKind::Erase;
            return r.body[6] == FLASH_OP_WRITE ? RequestKind::Block : RequestKind::Other;
        default: return RequestKind::Other;
    }
}

}  // namespace

bool IsBootHandshakeProbe(const Request& probe, const PhoneState& s, const PhoneOptions& o) {
    return o.enterBootOnGap && s.havePrevious && s.previousId == ID_LOOPBACK &&
           s.previousQuietBefore >= o.bootGap && probe.arrived - s.previousArrived >= o.bootGap;
}

RequestKind Classify(const Request& r, const PhoneState& state, const PhoneOptions& options) {
    if (state.mode == PhoneMode::BootLoader) return BootLoaderKind(r);
    switch (r.id) {
        case ID_LOOPBACK:
            return IsBootHandshakeProbe(r, state, options) ? RequestKind::BootProbe : RequestKind::Probe;
        case ID_SIDB_WRITE: return SidbWriteKind(r);
        case ID_SIDB_READ: return RequestKind::SettingRead;
        case ID_DB_WRITE: return RequestKind::DbWrite;
        case ID_RESET: return RequestKind::Reset;
        default: break;
    }
    const auto& ids = options.pageReadIds;
    if (r.body.size() == 8 && std::find(ids.begin(), ids.end(), r.id) != ids.end()) return RequestKind::PageRead;
    return RequestKind::Other;
}

bool IsWrite(RequestKind kind) {
    return kind == RequestKind::DbWrite || kind == RequestKind::SidbWrite || kind == RequestKind::SettingWrite;
}

std::string_view RequestKindName(RequestKind kind) { return NameOf(KIND_NAMES, kind); }
std::optional<RequestKind> ParseRequestKind(std::string_view name) { return ValueOf(KIND_NAMES, name); }
std::string_view FaultActionName(FaultAction action) { return NameOf(ACTION_NAMES, action); }
std::optional<FaultAction> ParseFaultAction(std::string_view name) { return ValueOf(ACTION_NAMES, name); }

}  // namespace zolt::sim
