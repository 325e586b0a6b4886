// The phone's firmware as the phone link meets it. The tool only says which replies it
// accepts; where it leaves the phone's side open, these handlers do what a phone would:
//  - the loopback probe is echoed with its own body, whatever that body is;
//  - a setting write (A2 07: type, id, len, offset, data) stores the data and is answered
//    A2 07 00 00, after PhoneOptions::writeTime but for the access request. The access
//    request is such a write (type 18, id 8, data 30): it opens the file system, and is
//    answered only after a probe has been echoed, as the tool's handshake always probes
//    first. Other setting writes are calibration requests (see cal_handlers.h). A write
//    too short to carry its header is not answered;
//  - the release F3 03 then CE 00 00 closes the file system; neither is answered;
//  - a reset (DC 00) restarts the firmware: the file system closes, nothing is answered,
//    and the phone hears nothing for restartTime;
//  - anything else is not answered (see PhoneCore: recorded, traced, no reply), as the tool
//    reads a stale reply to a message it does not wait for as the answer to its next one.
// The firmware hands over to the boot loader on the probe pattern of the boot-loader
// handshake (IsBootHandshakeProbe); the boot loader then answers that probe.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/message_ids.h"
#include "sim/phone_context.h"
#include "sim/request_kind.h"
#include "sim/standard_handlers.h"

namespace zolt::sim {

namespace {

std::uint16_t Le16(const Request& r, std::size_t at) {
    return static_cast<std::uint16_t>(r.body[at] | (r.body[at + 1] << 8));
}

bool Loopback(PhoneContext& phone, const Request& probe) {
    if (IsBootHandshakeProbe(probe, phone.State(), phone.Options())) {
        phone.SetMode(PhoneMode::BootLoader);
        return false;  // handed over: the boot loader answers this probe
    }
    phone.Reply(probe.body);
    return true;
}

bool SettingWrite(PhoneContext& phone, const Request& write) {
    constexpr std::size_t HEADER = 10;  // id, type, setting id, len, offset
    if (write.body.size() < HEADER) return true;
    const std::uint16_t type = Le16(write, 2);
    const std::uint16_t id = Le16(write, 4);
    const std::uint16_t offset = Le16(write, 8);
    const auto data = write.body.subspan(HEADER);
    PhoneState& state = phone.State();
    const bool access = type == SIDB_FS_ACCESS_TYPE && id == SIDB_FS_ACCESS_ID;
    if (access && !state.probed) {
        phone.Note("access request before any probe: not answered");
        return true;
    }

    std::vector<std::uint8_t>& setting = state.settings[{type, id}];
    if (setting.size() < offset + data.size()) setting.resize(offset + data.size());
    std::copy(data.begin(), data.end(), setting.begin() + offset);

    if (access && !state.fsAccessOpen) {
        state.fsAccessOpen = true;
        phone.Note("file system open");
    }
    const std::uint8_t accepted[] = {0xA2, 0x07, 0x00, 0x00};
    phone.Reply(accepted, access ? Millis{0} : phone.Options().writeTime);
    return true;
}

bool ReleaseFirst(PhoneContext&, const Request&) { return true; }

bool ReleaseSecond(PhoneContext& phone, const Request&) {
    PhoneState& state = phone.State();
    if (state.fsAccessOpen && state.havePrevious && state.previousId == ID_RELEASE_FIRST) {
        CloseFileSystem(state);
        phone.Note("file system released");
    }
    return true;
}

bool Reset(PhoneContext& phone, const Request& r) {
    Restart(phone, r);
    phone.Note("reset: firmware restarts");
    return true;
}

}  // namespace

void CloseFileSystem(PhoneState& state) {
    state.fsAccessOpen = false;
    state.probed = false;
}

void Restart(PhoneContext& phone, const Request& reset) {
    PhoneState& state = phone.State();
    ++state.resets;
    CloseFileSystem(state);
    state.deafUntil = reset.arrived + phone.Options().restartTime;
}

void InstallFirmwareHandlers(MessageTable& table) {
    table.On(PhoneMode::Firmware, ID_LOOPBACK, Loopback);
    table.On(PhoneMode::Firmware, ID_SIDB_WRITE, SettingWrite);
    table.On(PhoneMode::Firmware, ID_RELEASE_FIRST, ReleaseFirst);
    table.On(PhoneMode::Firmware, ID_RELEASE_SECOND, ReleaseSecond);
    table.On(PhoneMode::Firmware, ID_RESET, Reset);
}

}  // namespace zolt::sim
