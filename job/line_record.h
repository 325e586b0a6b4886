// What became of one line's phone in one job, taken on the owner's thread when the line's last
// task has ended (done, failed or stopped), before a stop or the next job resets the line: the
// raw material of the history (history/), handed to a LineRecorder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolt {

struct TaskRecord {
    std::string name;     // as the task list shows it: "Update Boot", "Backup Cal-Data", ...
    std::string outcome;  // "Done", "Fail" or "Wait" (never reached, or stopped)
    std::string status;   // the line's status text when the task ended; empty when it never did
};

// A calibration backup that the line took in this job.
struct BackupRecord {
    bool taken = false;
    std::string sha256;  // fingerprint of the calibration text (lower-case hexadecimal)
    std::string text;    // the calibration file, byte for byte
    int setting = -1;    // the setting byte saved with it, 0..255
    std::string file;    // the archive's copy below the work folder (backups/...)
};

struct LineRecord {
    int line = 0;            // 1..32
    std::string port;        // as the operator gave it (or the window's COM label)
    std::string device;      // what was opened: the port with a stable name resolved
    std::string usbSerial;   // the adapter's USB serial number, where known
    std::int64_t startedMs = 0;  // wall-clock time, milliseconds since 1970-01-01 UTC
    std::int64_t endedMs = 0;
    std::string imageName;   // the job's file as given (image, script or saved backup)
    std::uint64_t imageSize = 0;
    std::string imageSha256;
    std::string bootVersion;  // of an image; empty for a script or a restore
    std::string cpVersion;
    std::string update;       // "all", "all+cal", "boot", "cp", "data", "script" or "restore"
    std::vector<TaskRecord> tasks;
    std::string status;       // the line's last status text
    std::string outcome;      // "ok", "failed" or "stopped"
    BackupRecord backup;
};

// Takes the records of ended lines. Called on the owner's thread; must not block on anything
// slow (a database): queue and return.
class LineRecorder {
public:
    virtual ~LineRecorder() = default;
    virtual void Record(LineRecord record) = 0;
};

}  // namespace zolt
