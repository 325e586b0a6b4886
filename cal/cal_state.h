// The calibration side of a line: its page catalogue, the calibration text of its last
// backup, and the reader that plays a calibration or script text back. The line owns one
// CalState; only the line's worker touches it while a job runs (the catalogue is loaded
// before, on the owner's thread, and only read afterwards).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cal/cal_catalog.h"
#include "cal/srp_reader.h"

namespace zolt {

struct CalState {
    CalMessageCatalog catalog;
    // The calibration file as read back at the end of a backup; empty when none is held.
    std::vector<std::uint8_t> backupText;
    // Whether backupText holds the text of a backup (which may be empty, for a catalogue of
    // no pages): a restore plays only a held text.
    bool backupHeld = false;
    // A setting read from the phone at the end of a backup, written back after a restore.
    std::uint8_t savedSettingByte = 0;
    // Whether the restore writes savedSettingByte back: not when a backup saved earlier is
    // played without the setting that was saved with it.
    bool writeSettingBack = true;
    // Pages that the last restore found different when it read them back, and wrote again.
    int pagesRewritten = 0;
    SrpReader reader;

    // The backup this line took in the running job, for the line's history entry: kept after a
    // restore has let go of backupText. Cleared when a job starts.
    struct Taken {
        bool taken = false;
        std::string text;
        std::uint8_t setting = 0;
        std::string archivePath;  // the archive's copy below the work folder
    } lastBackup;

    // Lets go of the held text; the reader, which may point into it, forgets it too.
    void ReleaseBackup() {
        backupText = {};
        backupHeld = false;
        (void)reader.SplitRecords(nullptr, 0);
    }
};

}  // namespace zolt
