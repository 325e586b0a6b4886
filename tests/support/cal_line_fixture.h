// One calibration line against a scripted phone in its firmware, for unit tests of the
// backup, the restore and scripts: the line with short timings, the phone, the calibration
// state, a prompt and a work folder, and the status line noted at every send.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cal/backup.h"
#include "support/catalog_text.h"
#include "support/recording_prompt.h"
#include "support/scripted_phone.h"
#include "support/short_timing.h"
#include "support/temp_dir.h"

namespace zolt::test {

// Passes everything to the scripted device and notes the status line at every send, the
// sends that fail included. A request that `fails` picks is not sent: the port is closed.
class StatusAtSend : public SerialDevice {
public:
    StatusAtSend(SerialDevice& inner, const LinkSession& line) : inner_(inner), line_(line) {}
    int ReadData(std::uint8_t* buffer, int maxCount) override { return inner_.ReadData(buffer, maxCount); }
    int SendData(const std::uint8_t* bytes, int count) override {
        statuses.push_back(line_.statusText.Get());
        if (fails && fails(BodyOf(Bytes(bytes, bytes + count)))) return -1;
        return inner_.SendData(bytes, count);
    }
    WaitResult WaitReadable(Millis limit) override { return inner_.WaitReadable(limit); }
    std::vector<std::string> statuses;
    std::function<bool(const Bytes& body)> fails;

private:
    SerialDevice& inner_;
    const LinkSession& line_;
};

// The page read that asks for `p` as the catalogue lists it.
inline Bytes PageRead(const CatalogPage& p) {
    return {CATALOG_ETS_ID, 0, static_cast<std::uint8_t>(p.db), static_cast<std::uint8_t>(p.segment),
            static_cast<std::uint8_t>(p.offset), static_cast<std::uint8_t>(p.offset >> 8),
            static_cast<std::uint8_t>(p.bytes), static_cast<std::uint8_t>(p.bytes >> 8)};
}
inline bool IsPageRead(const Bytes& body) {
    return body.size() == 8 && body[0] == CATALOG_ETS_ID && body[1] == 0;
}

struct CalLineFixture : ::testing::Test {
    LinkSession line;
    ScriptedDevice device{line.stop};
    ScriptedPhone phone{device, false};
    StatusAtSend recorder{device, line};
    CalState cal;
    RecordingPrompt prompt;
    TempDir dir;
    // Line 0's calibration file.
    const std::string path = CalibrationFilePath(dir.path().string(), 0);

    CalLineFixture() {
        using namespace std::chrono_literals;
        line.device = &recorder;
        // A reply is queued before its receive starts, so a short limit never cuts one off;
        // it only bounds the silences a run waits out (after the setting read's first answer).
        line.timing = ShortTiming();
        line.timing.receiveFrameLimit = 60ms;
        line.timing.probeGap = 1ms;
    }

    void Catalog(const std::vector<CatalogPage>& pages) { cal.catalog.LoadFromText(CatalogText(pages)); }
    // A backup of line `lineIndex` into the work folder.
    int Backup(int lineIndex = 0) { return BackupCalibration(line, cal, lineIndex, dir.path().string(), prompt); }
    std::string File(int lineIndex = 0) const { return ReadFile(CalibrationFilePath(dir.path().string(), lineIndex)); }
    // Holds `text` as the backup a restore plays, with the setting it saved.
    void Hold(const std::string& text, std::uint8_t setting = 0x5A) {
        cal.backupText.assign(text.begin(), text.end());
        cal.backupHeld = true;
        cal.savedSettingByte = setting;
    }
    std::string HeldText() const { return std::string(cal.backupText.begin(), cal.backupText.end()); }
    std::string Status() const { return line.statusText.Get(); }
    // How often `body` was sent.
    std::size_t Sent(const Bytes& body) const {
        return phone.Requests([&](const Bytes& b) { return b == body; }).size();
    }
    // Every file below the work folder, by its path there, with its bytes.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            if (entry.is_regular_file()) {
                files[std::filesystem::relative(entry.path(), dir.path()).generic_string()] =
                    ReadFile(entry.path().string());
            }
        }
        return files;
    }
    // Loads `file` as a saved backup against the line's catalogue: empty, or why it was refused.
    std::string Load(const std::string& file) const {
        CalState saved;
        saved.catalog = cal.catalog;
        std::string reason;
        if (!LoadSavedBackup(saved, file, reason)) return reason;
        EXPECT_TRUE(saved.backupHeld);
        return "";
    }
};

}  // namespace zolt::test
