// History entries for tests, every field filled and each entry's fields its own.
#pragma once

#include <string>

#include "history/history_store.h"
#include "io/sha256.h"

namespace zolt::test {

// Entry `n` (from 1): line (n - 1) % 8 + 1 of station "bench-A" (odd n) or "bench-B", started
// n minutes after 2026-12-09 06:00 UTC, failed when n is a multiple of 3; a backup, with bytes
// that a text would not hold, when `withBackup`.
inline HistoryEntry SampleEntry(int n, bool withBackup = false) {
    HistoryEntry e;
    const std::string k = std::to_string(n);
    e.uid = std::string(30 - k.size(), '0') + "ab" + k;
    e.station = n % 2 ? "bench-A" : "bench-B";
    LineRecord& r = e.line;
    r.line = (n - 1) % 8 + 1;
    r.port = "/dev/ttyUSB" + k;
    r.device = "/dev/serial/by-id/usb-FTDI_" + k;
    r.usbSerial = "FT" + k;
    r.startedMs = 1'796'796'000'000LL + n * 60'000LL;  // 2026-12-09T06:00:00Z + n minutes
    r.endedMs = r.startedMs + 83'250;
    r.imageName = "C:\\roms\\\"new\", v" + k + ".bin";
    r.imageSize = 4'000'000'000ULL + static_cast<unsigned>(n);
    r.imageSha256 = Sha256Hex("image" + k);
    r.bootVersion = "BOOT 1." + k;
    r.cpVersion = "CP 2." + k;
    r.update = "all+cal";
    const bool failed = n % 3 == 0;
    r.tasks = {{"Backup Cal-Data", "Done", "Backup done"},
               {"Update Boot", failed ? "Fail" : "Done", failed ? "No answer, line\n2" : "Boot written"},
               {"Restore Cal-Data", failed ? "Wait" : "Done", ""}};
    r.status = failed ? "No answer, line\n2" : "All done";
    r.outcome = failed ? "failed" : "ok";
    if (withBackup) {
        r.backup.taken = true;
        r.backup.text = std::string("PAGE 1\0\xff\r\n", 10) + k + "\nEND\n";
        r.backup.sha256 = Sha256Hex(r.backup.text);
        r.backup.setting = 200 + n % 50;
        r.backup.file = "backups/20261209-060000-COM-1-" + r.backup.sha256.substr(0, 12) + ".srp";
    }
    return e;
}

}  // namespace zolt::test
