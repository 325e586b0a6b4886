#include "cal/backup.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "io/file_error.h"
#include "io/input_file.h"
#include "io/output_file.h"
#include "io/paths.h"
#include "io/texts.h"
#include "cal/phone_reads.h"
#include "link/messages.h"

namespace zolt {
namespace {

const char* const FIRST_LINE = "ETS, Id=CP Power, Power=Down\n";
const char* const LAST_LINE = "END\n";

// A page reply: FE, length, the 8-byte echo of the request, the data, the checksum.
constexpr int PAGE_REPLY_OVERHEAD = 4 + msg::PAGE_READ_LENGTH;

int Fail(LinkSession& line, const std::string& text) {
    line.SetStatusText(text);
    return RESULT_FAIL;
}

void ReleaseBackup(CalState& cal) {
    cal.backupText = {};
    cal.backupHeld = false;
}

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

// Reads one page: page 0 gets one chance, as a phone that does not answer it is not in a state
// to be backed up; a later page is requested at most timing.calPageAttemptLimit times. A
// request that cannot be sent fails without a status text of its own.
std::optional<std::vector<std::uint8_t>> ReadPage(LinkSession& line, const CalMessageEntry& entry, int page) {
    const int attempts = page == 0 ? 1 : line.timing.calPageAttemptLimit;
    PageReading reading = ReadCalPage(line, entry, attempts);
    switch (reading.outcome) {
    case PageReading::Outcome::Read: return std::move(reading.data);
    case PageReading::Outcome::NotSent: return std::nullopt;
    case PageReading::Outcome::NoReply: break;
    }
    if (page == 0) {
        line.SetStatusText(texts::BACKUP_FAIL);
    } else {
        line.SetStatusText(" Backup fail... page " + entry.msgString + " not read in " + std::to_string(attempts) +
                           " requests!");
    }
    return std::nullopt;
}

// Reads a whole file that a person keeps beside a job: a calibration text is some hundred
// kilobytes at the very most, so anything past a few megabytes is refused, not allocated.
FileError ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    constexpr std::uint64_t MOST = 16u << 20;
    InputFile in;
    std::uint64_t length = 0;
    if (const FileError error = in.Open(path); error != FileError::None) return error;
    if (const FileError error = in.Length(length); error != FileError::None) return error;
    if (length > MOST) return FileError::Generic;
    bytes.resize(static_cast<std::size_t>(length));
    return in.ReadAll(bytes.data(), bytes.size());
}

int ReadBackFailed(LinkSession& line, Prompt& prompt, FileError error, const std::string& path) {
    const std::string report = FileErrorText(error, path);
    line.Tell(prompt, report, PromptIcon::Error);
    line.Tell(prompt, texts::FILE_FORMAT_ERROR, PromptIcon::Error);
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
        line.Tell(prompt, texts::NO_ENOUGH_MEMORY, PromptIcon::Error);
        return Fail(line, "No memory to hold the calibration file!");
    } catch (const std::length_error&) {
        line.Tell(prompt, texts::NO_ENOUGH_MEMORY, PromptIcon::Error);
        return Fail(line, "No memory to hold the calibration file!");
    }
    if (const FileError error = in.ReadAll(text.data(), text.size()); error != FileError::None) {
        return ReadBackFailed(line, prompt, error, path);
    }
    cal.backupText = std::move(text);
    cal.backupHeld = true;
    return RESULT_OK;
}

// Why the restore could not play back `record`, the record of page i of `pageCount`, from the
// calibration file: it is read as it will stand there, behind the file's first line and
// before the next record's "ETS" or the closing line, by the line's own reader.
SrpRefusal PlaybackRefusal(CalState& cal, const std::string& record, int i, int pageCount) {
    const std::string text = FIRST_LINE + record + (i == pageCount - 1 ? LAST_LINE : "ETS");
    SrpReader& reader = cal.reader;
    (void)reader.SplitRecords(text);
    const SrpRefusal refusal = reader.CheckRecords(SrpRun::Restore, cal.catalog).refusal;
    (void)reader.SplitRecords(nullptr, 0);  // the reader must not keep pointing into `text`
    return refusal;
}

// Whether `record`, read back as the restore will read it, writes exactly this page: the same
// database, segment, offset and length, and the same data. A page name holding the reader's
// punctuation or a database without a name makes a record that the
// restore would send somewhere else, or skip.
bool RecordWritesThePage(CalState& cal, const std::string& record, const CalMessageEntry& entry,
                         const std::uint8_t* data) {
    SrpReader& reader = cal.reader;
    const SrpMessage before = reader.message;
    const std::string text = FIRST_LINE + record + LAST_LINE;
    bool same = false;
    if (reader.SplitRecords(text) == 1) {
        const SrpReader::Parsed parsed = reader.ReadRecord(0, cal.catalog);
        SrpReader::Frame frame{};
        int txLength = 0;
        if (parsed.kind == SRP_DB_WRITE && parsed.dataCount == entry.bytes &&
            reader.BuildDbWriteRequest(parsed.dataCount, frame, txLength) == SrpRefusal::None) {
            SrpReader::Frame expected{};
            const int length = msg::DbWrite(std::span<std::uint8_t>(expected).subspan(3), msg::ID_DB_WRITE,
                                            entry.dbId, entry.segment, entry.offset, entry.bytes, 1,
                                            std::span<const std::uint8_t>(data, entry.bytes));
            same = txLength == 3 + length && std::equal(frame.begin() + 3, frame.begin() + txLength, expected.begin() + 3);
        }
    }
    (void)reader.SplitRecords(nullptr, 0);  // the reader must not keep pointing into `text`
    reader.message = before;
    return same;
}

int PageRefused(LinkSession& line, const CalMessageEntry& entry, SrpRefusal refusal) {
    return Fail(line, "Calibration page " + entry.msgString + " cannot be restored: record " +
                          RefusalReason(refusal) + "!");
}

// Refuses, before anything is sent, a catalogue that the backup could not read or the restore
// could not play back, whatever the pages hold: a page whose reply would not fit the receive
// buffer, or whose record would not fit the reader's buffers. A record's length does not
// depend on the data (every item is five characters), and with data that need no escapes its
// request is far below a frame whenever its line fits, so zeros stand in for the data here;
// the real data are checked again before each record is written.
int CheckPages(LinkSession& line, CalState& cal) {
    const CalMessageCatalog& catalog = cal.catalog;
    for (int i = 0; i < catalog.pageCount; ++i) {
        const CalMessageEntry& entry = catalog.entries[static_cast<std::size_t>(i)];
        if (PAGE_REPLY_OVERHEAD + entry.bytes > EtsFrame::BUFFER_SIZE) {
            return Fail(line, "Calibration page " + entry.msgString + " of " +
                                  std::to_string(entry.bytes) + " bytes is too large for a reply (" +
                                  std::to_string(EtsFrame::BUFFER_SIZE - PAGE_REPLY_OVERHEAD) +
                                  " bytes at most)!");
        }
        const std::vector<std::uint8_t> zeros(entry.bytes, 0);
        const std::string record = PageRecord(entry, zeros.data());
        const SrpRefusal refusal = PlaybackRefusal(cal, record, i, catalog.pageCount);
        if (refusal != SrpRefusal::None) return PageRefused(line, entry, refusal);
        if (!RecordWritesThePage(cal, record, entry, zeros.data())) {
            return Fail(line, "Calibration page " + entry.msgString +
                                  " cannot be restored: its record would not write it back!");
        }
    }
    return RESULT_OK;
}

}  // namespace

std::string CalibrationFilePath(const std::string& workDir, int lineIndex) {
    return JoinPath(workDir, "COM-" + std::to_string(lineIndex + 1) + "calibration.srp");
}

std::string SettingFilePath(const std::string& calibrationPath) {
    constexpr std::string_view EXTENSION = ".srp";
    std::string path = calibrationPath;
    if (path.size() >= EXTENSION.size() && path.compare(path.size() - EXTENSION.size(), EXTENSION.size(), EXTENSION) == 0) {
        path.resize(path.size() - EXTENSION.size());
    }
    return path + ".setting";
}

bool LoadSavedBackup(CalState& cal, const std::string& calibrationPath, std::string& reason) {
    ReleaseBackup(cal);
    std::vector<std::uint8_t> text;
    if (const FileError error = ReadWholeFile(calibrationPath, text); error != FileError::None) {
        reason = FileErrorText(error, calibrationPath);
        return false;
    }
    cal.backupText = std::move(text);
    cal.backupHeld = true;
    // The setting is written back only when its file holds a byte in decimal.
    std::vector<std::uint8_t> setting;
    cal.writeSettingBack = false;
    if (ReadWholeFile(SettingFilePath(calibrationPath), setting) == FileError::None) {
        const std::string value(setting.begin(), setting.end());
        std::size_t used = 0;
        try {
            const int byte = std::stoi(value, &used);
            const bool rest = value.find_first_not_of(" \r\n", used) == std::string::npos;
            if (byte >= 0 && byte <= 255 && rest) {
                cal.savedSettingByte = static_cast<std::uint8_t>(byte);
                cal.writeSettingBack = true;
            }
        } catch (const std::exception&) {
            // Not a number: the restore leaves the phone's setting as it is.
        }
    }
    return true;
}

int RunBackupCal(LinkSession& line, CalState& cal, int lineIndex, const std::string& workDir,
                 Prompt& prompt) {
    // Another phone's text must not outlive a backup that fails; and a catalogue that cannot
    // work is refused before the handshake, so that nothing at all is sent.
    ReleaseBackup(cal);
    if (CheckPages(line, cal) != RESULT_OK) return RESULT_FAIL;
    if (line.WaitForFs(FS_BACKUP) != RESULT_OK) return RESULT_FAIL;
    return BackupCalibration(line, cal, lineIndex, workDir, prompt);
}

int BackupCalibration(LinkSession& line, CalState& cal, int lineIndex, const std::string& workDir,
                      Prompt& prompt) {
    ReleaseBackup(cal);
    const CalMessageCatalog& catalog = cal.catalog;
    if (CheckPages(line, cal) != RESULT_OK) return RESULT_FAIL;

    const std::string path = CalibrationFilePath(workDir, lineIndex);
    OutputFile file;
    if (const FileError error = file.Create(path); error != FileError::None) {
        const std::string reason = FileErrorText(error, path);
        line.Tell(prompt, texts::COULDNT_OPEN_FILE + reason, PromptIcon::None);
        return Fail(line, "Couldn't create the calibration file: " + reason);
    }
    const auto writeFailed = [&] {
        return Fail(line, "Couldn't write the calibration file " + path + ": " + file.ErrorText());
    };

    line.flashBlock.store(1);
    line.flashBlockCount.store(catalog.pageCount);
    for (int i = 0; i < catalog.pageCount; ++i) {
        const CalMessageEntry& entry = catalog.entries[static_cast<std::size_t>(i)];
        const auto data = ReadPage(line, entry, i);
        if (!data) return RESULT_FAIL;
        line.SetStatusText(texts::BACKUP_PAGE + entry.msgString);
        line.flashBlock.fetch_add(1);
        line.PauseDiscarding(line.timing.calRecordGap);

        const std::string record = PageRecord(entry, data->data());
        // Escapes make a request longer on the wire by its data: only now is it known.
        const SrpRefusal refusal = PlaybackRefusal(cal, record, i, catalog.pageCount);
        if (refusal != SrpRefusal::None) return PageRefused(line, entry, refusal);
        std::string text;
        if (i == 0) text = FIRST_LINE;
        text += record;
        if (i == catalog.pageCount - 1) text += LAST_LINE;
        if (file.Write(text) != FileError::None) return writeFailed();
    }

    line.Pause(line.timing.backupSettingPause);
    const auto settingRead = ReadCalSetting(line, true);
    if (!settingRead) return RESULT_FAIL;
    cal.savedSettingByte = *settingRead;
    cal.writeSettingBack = true;
    (void)line.FinishFsAccess();
    if (file.Close() != FileError::None) return writeFailed();
    // The setting beside the file, so that the backup can be played back whole later.
    const std::string settingPath = SettingFilePath(path);
    OutputFile setting;
    if (setting.Create(settingPath) != FileError::None ||
        setting.Write(std::to_string(cal.savedSettingByte) + "\n") != FileError::None ||
        setting.Close() != FileError::None) {
        return Fail(line, "Couldn't write the calibration file " + settingPath + ": " + setting.ErrorText());
    }
    line.SetStatusText(texts::BACKUP_FINISHED);
    line.SetStatusText(texts::PASS);

    if (ReadBack(line, cal, path, prompt) != RESULT_OK) return RESULT_FAIL;

    line.SetStatusText(path);
    line.Pause(line.timing.backupFileShowPause);
    line.SetStatusText(texts::WAIT_FOR_BOOT_LOAD);
    line.Pause(line.timing.backupBootWaitPause);
    line.flashBlock.store(1);
    return RESULT_OK;
}

}  // namespace zolt
