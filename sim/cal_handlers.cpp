#include "sim/cal_handlers.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "link/flash.h"
#include "sim/cal_database.h"
#include "sim/message_ids.h"
#include "sim/phone_context.h"
#include "sim/standard_handlers.h"

namespace zolt::sim {
namespace {

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

constexpr std::size_t PAGE_READ_LENGTH = 8;
constexpr std::size_t DB_WRITE_HEADER = 9;
constexpr std::size_t SIDB_HEADER = 10;
// A reply's length field is 16 bits.
constexpr std::size_t MAX_REPLY_DATA = 0xFFFF - PAGE_READ_LENGTH;

bool IsCalSettingWrite(const Request& r) {
    return r.body.size() > SIDB_HEADER && Le16(r.body, 2) == SIDB_CAL_SETTING_TYPE &&
           Le16(r.body, 4) == SIDB_CAL_SETTING_ID && Le16(r.body, 8) == 0;
}

bool IsAccessRequest(const Request& r) {
    return r.body.size() >= SIDB_HEADER && Le16(r.body, 2) == SIDB_FS_ACCESS_TYPE &&
           Le16(r.body, 4) == SIDB_FS_ACCESS_ID;
}

// Calibration requests are answered only inside the file-system session that the tool's
// handshake opens; outside it the phone stays quiet.
bool OutsideSession(PhoneContext& phone, const char* what) {
    if (phone.State().fsAccessOpen) return false;
    phone.Note(std::string(what) + " without file-system access: not answered");
    return true;
}

bool IsPageRead(PhoneContext& phone, const Request& r) {
    const auto& ids = phone.Options().pageReadIds;
    return r.body.size() == PAGE_READ_LENGTH && std::find(ids.begin(), ids.end(), r.id) != ids.end();
}

// The calibration of one phone, made when the phone first needs it: only then are its
// number and state folder known.
class Calibration {
public:
    CalDatabase& Of(PhoneContext& phone) {
        if (!database_) database_ = std::make_unique<CalDatabase>(phone.Number(), phone.Options().stateDir);
        return *database_;
    }

    bool PageRead(PhoneContext& phone, const Request& r) {
        if (!IsPageRead(phone, r)) return false;
        if (OutsideSession(phone, "page read")) return true;
        const std::size_t count = std::min<std::size_t>(Le16(r.body, 6), MAX_REPLY_DATA);
        std::vector<std::uint8_t> reply(r.body.begin(), r.body.end());
        const std::vector<std::uint8_t> data = Of(phone).Read(r.body[2], r.body[3], Le16(r.body, 4), count);
        reply.insert(reply.end(), data.begin(), data.end());
        phone.Reply(reply);
        return true;
    }

    bool SettingRead(PhoneContext& phone, const Request& r) {
        if (r.body.size() < SIDB_HEADER || OutsideSession(phone, "setting read")) return true;
        const std::uint16_t type = Le16(r.body, 2);
        const std::uint16_t id = Le16(r.body, 4);
        const std::uint16_t offset = Le16(r.body, 8);
        std::uint8_t value = 0;
        if (type == SIDB_CAL_SETTING_TYPE && id == SIDB_CAL_SETTING_ID && offset == 0) {
            value = Of(phone).Setting();
        } else if (const auto it = phone.State().settings.find({type, id});
                   it != phone.State().settings.end() && offset < it->second.size()) {
            value = it->second[offset];
        }
        const std::uint8_t reply[] = {r.body[0], r.body[1], r.body[2], r.body[3], r.body[4], r.body[5], value};
        phone.Reply(reply);
        return true;
    }

    bool DbWrite(PhoneContext& phone, const Request& r) {
        if (r.body.size() < DB_WRITE_HEADER || OutsideSession(phone, "database write")) return true;
        if (Le16(r.body, 6) != r.body.size() - DB_WRITE_HEADER) {
            // Storing a count that the data do not bear out would leave the page half old.
            phone.Note("database write: byte count does not match its data, refused");
            const std::uint8_t refused[] = {0x9B, 0x08};
            phone.Reply(refused);
            return true;
        }
        std::vector<std::uint8_t> data(r.body.begin() + DB_WRITE_HEADER, r.body.end());
        if (phone.Plays(FaultAction::Miswrite) && !data.empty()) {
            data[data.size() / 2] ^= 0xFF;
            phone.Note("fault: stored byte " + std::to_string(data.size() / 2) + " of the write wrong");
        }
        if (!Of(phone).Write(r.body[2], r.body[3], Le16(r.body, 4), data)) {
            phone.Note("calibration segment file could not be written");
        }
        phone.Reply(r.body.first(PAGE_READ_LENGTH), phone.Options().writeTime);
        return true;
    }

    Handler SettingWrite(Handler firmware) {
        // The restore writes the calibration setting after it has released the file system
        // and waits for the answer without limit, so that one write is answered outside the
        // session as well.
        return [this, firmware](PhoneContext& phone, const Request& r) {
            const bool setting = IsCalSettingWrite(r);
            if (!setting && !IsAccessRequest(r) && OutsideSession(phone, "setting write")) return true;
            if (setting) Of(phone).SetSetting(r.body[SIDB_HEADER]);
            return firmware && firmware(phone, r);
        };
    }

    // The Data area holds the calibration: erasing it for a reflash loses it.
    Handler Flash(Handler bootLoader) {
        return [this, bootLoader](PhoneContext& phone, const Request& r) {
            const std::uint64_t erases = phone.State().erases;
            const bool taken = bootLoader && bootLoader(phone, r);
            if (phone.State().erases != erases && r.body[7] == IMAGE_DATA) {
                Of(phone).Wipe();
                phone.Note("calibration wiped with the Data area");
            }
            return taken;
        };
    }

private:
    std::unique_ptr<CalDatabase> database_;
};

bool Marker(PhoneContext& phone, const Request& r) {
    if (r.body.size() >= 3) phone.Note(r.body[2] == 0 ? "records open" : "records closed");
    return true;
}

// The fault rules and the record numbering they go by.
class RecordFaults {
public:
    explicit RecordFaults(CalFaults faults) : faults_(std::move(faults)) {}

    Handler MarkerStep(Handler inner) {
        return [this, inner](PhoneContext& phone, const Request& r) {
            if (r.body.size() >= 3) {
                open_ = r.body[2] == 0;
                record_ = 0;
                played_.clear();
            }
            return inner ? inner(phone, r) : true;
        };
    }

    Handler RecordStep(Handler inner, bool sidb) {
        return [this, inner, sidb](PhoneContext& phone, const Request& r) {
            if (!open_ || (sidb && IsAccessRequest(r))) return inner && inner(phone, r);
            if (Play(phone)) return true;
            ++record_;
            return inner && inner(phone, r);
        };
    }

private:
    // Answers the current record oddly when a rule says so; true when it did.
    bool Play(PhoneContext& phone) {
        for (const CalFaults::Rule& rule : faults_.rules) {
            if (rule.record != record_ || played_[record_] >= rule.times) continue;
            ++played_[record_];
            phone.Note("fault: record " + std::to_string(record_) + " answered oddly");
            if (rule.answer == CalFaults::Answer::Refuse) {
                const std::uint8_t refused[] = {0x9B, 0x08};
                phone.Reply(refused);
            } else if (rule.answer == CalFaults::Answer::Chatter) {
                phone.Reply(CHATTER_BODY);
            }
            return true;
        }
        return false;
    }

    CalFaults faults_;
    bool open_ = false;
    std::uint64_t record_ = 0;
    std::map<std::uint64_t, int> played_;
};

}  // namespace

void InstallCalibrationHandlers(MessageTable& table) {
    // One calibration per table, that is per phone.
    auto cal = std::make_shared<Calibration>();
    auto bind = [cal](bool (Calibration::*step)(PhoneContext&, const Request&)) {
        return [cal, step](PhoneContext& p, const Request& r) { return (*cal.*step)(p, r); };
    };
    // The wrappers hold `cal` too, so it lives as long as any of them.
    auto keep = [cal](Handler h) {
        return [cal, h](PhoneContext& p, const Request& r) { return h(p, r); };
    };
    table.Otherwise(PhoneMode::Firmware, bind(&Calibration::PageRead));
    table.On(PhoneMode::Firmware, ID_SIDB_READ, bind(&Calibration::SettingRead));
    table.On(PhoneMode::Firmware, ID_DB_WRITE, bind(&Calibration::DbWrite));
    table.On(PhoneMode::Firmware, ID_CAL_MARKER, Marker);
    table.On(PhoneMode::Firmware, ID_SIDB_WRITE,
             keep(cal->SettingWrite(table.Find(PhoneMode::Firmware, ID_SIDB_WRITE))));
    table.On(PhoneMode::BootLoader, ID_FLASH, keep(cal->Flash(table.Find(PhoneMode::BootLoader, ID_FLASH))));
}

void InstallCalibrationFaults(MessageTable& table, const CalFaults& faults) {
    auto rules = std::make_shared<RecordFaults>(faults);
    auto keep = [rules](Handler h) {
        return [rules, h](PhoneContext& p, const Request& r) { return h(p, r); };
    };
    table.On(PhoneMode::Firmware, ID_CAL_MARKER,
             keep(rules->MarkerStep(table.Find(PhoneMode::Firmware, ID_CAL_MARKER))));
    table.On(PhoneMode::Firmware, ID_DB_WRITE,
             keep(rules->RecordStep(table.Find(PhoneMode::Firmware, ID_DB_WRITE), false)));
    table.On(PhoneMode::Firmware, ID_SIDB_WRITE,
             keep(rules->RecordStep(table.Find(PhoneMode::Firmware, ID_SIDB_WRITE), true)));
}

}  // namespace zolt::sim
