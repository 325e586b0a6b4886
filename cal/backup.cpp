#include "cal/backup.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "io/paths.h"
#include "io/file_error.h"
#include "io/input_file.h"

namespace zolt {
namespace {

const char* const BACKUP_FAIL = " Backup fail...";
const char* const LOOPBACK_FAILED = "Timeout on message loopback!";
const char* const NOT_SENT = "Port closed: the request could not be sent!";

// A page reply: FE, length, the 8-byte echo of the request, the data, the checksum.
constexpr int PAGE_DATA_AT = 11;
constexpr int PAGE_REPLY_OVERHEAD = 12;

// The setting read: an FFS SIDB read of Type 18, id 3, len 1, offset 0. Its reply carries
// the setting at body offset 6.
constexpr std::uint8_t SETTING_READ_ID_LOW = 0xA1;
constexpr std::uint8_t SETTING_READ_ID_HIGH = 0x07;
constexpr int SETTING_REPLY_LENGTH = 7;
constexpr int SETTING_BYTE_AT = 9;

int Fail(LinkSession& line, const std::string& text) {
    line.SetStatusText(text);
    return RESULT_FAIL;
}

std::string ErrnoText(int error) {
    return error != 0 ? std::generic_category().message(error) : "write error";
}

// The calibration file while it is written. Every piece is flushed at once, so a full disk
// or a lost drive shows up at the page that could not be stored.
class CalFile {
public:
    ~CalFile() {
        if (file_) std::fclose(file_);
    }

    // `reason` is the operator's text for the failure, naming the file.
    bool Create(const std::string& path, std::string& reason) {
        errno = 0;
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) reason = FileErrorText(FileErrorFromErrno(errno != 0 ? errno : EIO), path);
        return file_ != nullptr;
    }

    bool Write(std::string_view text, std::string& reason) {
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() ||
            std::fflush(file_) != 0) {
            reason = ErrnoText(errno);
            return false;
        }
        return true;
    }

    bool Close(std::string& reason) {
        errno = 0;
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) reason = ErrnoText(errno);
        return closed == 0;
    }

private:
    std::FILE* file_ = nullptr;
};

// One page as it stands in the file. The first text line carries one data item and every
// further line sixteen: calibration files already kept from earlier jobs have this shape,
// and the text reader takes items wherever the line breaks fall.
std::string PageRecord(const CalMessageEntry& entry, const std::uint8_t* data) {
    std::string record = "ETS, Id=" + entry.kindName + ", DB id=" + entry.dbName +
                         ", Segment=" + entry.msgString + ", Offset=" +
                         std::to_string(entry.offset) + ", Bytes=" + std::to_string(entry.bytes) +
                         ", Write Thru=1, Data=";
    char item[8];
    for (int j = 0; j < entry.bytes; ++j) {
        std::snprintf(item, sizeof item, "0x%02x ", data[j]);
        record += item;
        if (j % 16 == 0) record += '\n';
    }
    record += '\n';
    return record;
}

void BuildPageRequest(LinkSession& line, const CalMessageEntry& entry) {
    line.BuildRequest({static_cast<std::uint8_t>(entry.etsId & 0xFF),
                       static_cast<std::uint8_t>(entry.etsId >> 8), entry.dbId, entry.segment,
                       static_cast<std::uint8_t>(entry.offset & 0xFF),
                       static_cast<std::uint8_t>(entry.offset >> 8),
                       static_cast<std::uint8_t>(entry.bytes & 0xFF),
                       static_cast<std::uint8_t>(entry.bytes >> 8)});
}

// Only the database, segment and length are compared: phones echo the id and the offset in
// more than one way.
bool ReplyMatches(const LinkSession& line, const CalMessageEntry& entry) {
    const auto& f = line.rxFrame;
    return f[5] == entry.dbId && f[6] == entry.segment && f[9] == (entry.bytes & 0xFF) &&
           f[10] == (entry.bytes >> 8);
}

// Requests one page until its reply matches. Page 0 gets one chance: a phone that does not
// answer it is not in a state to be backed up.
int ReadPage(LinkSession& line, const CalMessageEntry& entry, int page) {
    for (int attempt = 1;; ++attempt) {
        BuildPageRequest(line, entry);
        if (line.SendFrame() < 0) return Fail(line, NOT_SENT);
        (void)line.ReceiveFrame(RECEIVE_TIMEOUT_FRAME);
        if (ReplyMatches(line, entry)) return RESULT_OK;
        if (page == 0) return Fail(line, BACKUP_FAIL);
        if (attempt >= line.timing.calPageAttemptLimit) {
            return Fail(line, " Backup fail... no answer for page " + entry.msgString + " after " +
                                  std::to_string(attempt) + " requests!");
        }
    }
}

void SendSettingRead(LinkSession& line) {
    line.BuildRequest({SETTING_READ_ID_LOW, SETTING_READ_ID_HIGH, 0x12, 0x00, 0x03, 0x00, 0x01,
                       0x00, 0x00, 0x00});
    if (line.SendFrame() < 0) line.SetStatusText(LOOPBACK_FAILED);
}

bool IsSettingReply(const LinkSession& line) {
    const auto& f = line.rxFrame;
    const int length = f[1] | (f[2] << 8);
    return length == SETTING_REPLY_LENGTH && FrameChecksum(f.data(), 10) == f[10] &&
           f[3] == SETTING_READ_ID_LOW && f[4] == SETTING_READ_ID_HIGH;
}

// Waits, re-asking whenever the phone has been silent for a receive limit, until the
// setting read is answered. The phone always answers in the end; Stop ends the wait too.
std::uint8_t ReadSetting(LinkSession& line) {
    SendSettingRead(line);
    // The first frame after the request is passed over unseen, as the tool always has; if it
    // was the answer, the silence that follows brings a second request.
    (void)line.ReceiveFrame(RECEIVE_TIMEOUT_FRAME);
    for (;;) {
        if (line.ReceiveFrame(RECEIVE_POLL) == 0) {
            SendSettingRead(line);
            continue;
        }
        if (IsSettingReply(line)) return line.rxFrame[SETTING_BYTE_AT];
    }
}

int ReadBackFailed(LinkSession& line, Prompt& prompt, FileError error, const std::string& path) {
    const std::string report = FileErrorText(error, path);
    prompt.ShowMessage(report, PromptIcon::Error);
    prompt.ShowMessage("File format error !", PromptIcon::Error);
    return Fail(line, "Couldn't read the calibration file back: " + report);
}

// Reads the written file into cal.backupText, which is held only when all of it was read.
int ReadBack(LinkSession& line, CalState& cal, const std::string& path, Prompt& prompt) {
    InputFile in;
    if (const FileError error = in.Open(path); error != FileError::None) {
        return ReadBackFailed(line, prompt, error, path);
    }
    std::uint64_t length = 0;
    if (const FileError error = in.Length(length); error != FileError::None) {
        return ReadBackFailed(line, prompt, error, path);
    }
    std::vector<std::uint8_t> text;
    try {
        if (length > text.max_size()) throw std::length_error("calibration file");
        text.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        prompt.ShowMessage("No Enough Memory!", PromptIcon::Error);
        return Fail(line, "No memory to hold the calibration file!");
    } catch (const std::length_error&) {
        prompt.ShowMessage("No Enough Memory!", PromptIcon::Error);
        return Fail(line, "No memory to hold the calibration file!");
    }
    if (const FileError error = in.ReadAll(text.data(), text.size()); error != FileError::None) {
        return ReadBackFailed(line, prompt, error, path);
    }
    cal.backupText = std::move(text);
    cal.backupHeld = true;
    return RESULT_OK;
}

// A page whose reply would not fit the receive buffer could never be read whole.
int CheckPagesFit(LinkSession& line, const CalMessageCatalog& catalog) {
    for (int i = 0; i < catalog.pageCount; ++i) {
        const CalMessageEntry& entry = catalog.entries[static_cast<std::size_t>(i)];
        if (PAGE_REPLY_OVERHEAD + entry.bytes > EtsFrame::BUFFER_SIZE) {
            return Fail(line, "Calibration page " + entry.msgString + " of " +
                                  std::to_string(entry.bytes) + " bytes is too large for a reply (" +
                                  std::to_string(EtsFrame::BUFFER_SIZE - PAGE_REPLY_OVERHEAD) +
                                  " bytes at most)!");
        }
    }
    return RESULT_OK;
}

}  // namespace

std::string CalibrationFilePath(const std::string& workDir, int lineIndex) {
    return JoinPath(workDir, "COM-" + std::to_string(lineIndex + 1) + "calibration.srp");
}

int RunBackupCal(LinkSession& line, CalState& cal, int lineIndex, const std::string& workDir,
                 Prompt& prompt) {
    if (line.WaitForFs(1) != RESULT_OK) return RESULT_FAIL;
    return BackupCalibration(line, cal, lineIndex, workDir, prompt);
}

int BackupCalibration(LinkSession& line, CalState& cal, int lineIndex, const std::string& workDir,
                      Prompt& prompt) {
    cal.backupText = {};
    cal.backupHeld = false;
    const CalMessageCatalog& catalog = cal.catalog;
    if (CheckPagesFit(line, catalog) != RESULT_OK) return RESULT_FAIL;

    const std::string path = CalibrationFilePath(workDir, lineIndex);
    CalFile file;
    std::string reason;
    if (!file.Create(path, reason)) {
        prompt.ShowMessage("Couldn't open file: " + reason, PromptIcon::None);
        return Fail(line, "Couldn't create the calibration file: " + reason);
    }
    const auto writeFailed = [&] {
        return Fail(line, "Couldn't write the calibration file " + path + ": " + reason);
    };

    line.flashBlock.store(1);
    line.flashBlockCount.store(catalog.pageCount);
    for (int i = 0; i < catalog.pageCount; ++i) {
        const CalMessageEntry& entry = catalog.entries[static_cast<std::size_t>(i)];
        if (ReadPage(line, entry, i) != RESULT_OK) return RESULT_FAIL;
        line.SetStatusText("Backup  Calbration...... " + entry.msgString);
        line.flashBlock.fetch_add(1);
        line.Pause(line.timing.calRecordGap);

        std::string text;
        if (i == 0) text = "ETS, Id=CP Power, Power=Down\n";
        text += PageRecord(entry, line.rxFrame.data() + PAGE_DATA_AT);
        if (i == catalog.pageCount - 1) text += "END\n";
        if (!file.Write(text, reason)) return writeFailed();
    }

    line.Pause(line.timing.backupSettingPause);
    cal.savedSettingByte = ReadSetting(line);
    (void)line.FinishFsAccess();
    if (!file.Close(reason)) return writeFailed();
    line.SetStatusText(" Backup  finished...");
    line.SetStatusText(" PASS...");

    if (ReadBack(line, cal, path, prompt) != RESULT_OK) return RESULT_FAIL;

    line.SetStatusText(path);
    line.Pause(line.timing.backupFileShowPause);
    line.SetStatusText("Wait for boot load...");
    line.Pause(line.timing.backupBootWaitPause);
    line.flashBlock.store(1);
    return RESULT_OK;
}

}  // namespace zolt
