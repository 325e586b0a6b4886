#include "cal/backup_files.h"

#include <chrono>
#include <cstdio>
#include <string_view>

#include "io/file_error.h"
#include "io/file_system.h"
#include "io/input_file.h"
#include "io/paths.h"
#include "io/sha256.h"

namespace zolt {
namespace {

constexpr std::string_view SETTING_KEY = "setting=";
constexpr std::string_view FINGERPRINT_KEY = "srp-sha256=";

std::string_view AsText(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string_view Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
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

// The page name a record gives after "Segment=", as the reader takes a value: up to the next
// comma.
std::string_view RecordPageName(const SrpReader& reader, int length) {
    const std::string_view line(reinterpret_cast<const char*>(reader.recordLine.data()),
                                static_cast<std::size_t>(length));
    constexpr std::string_view KEY = "Segment=";
    const auto at = line.find(KEY);
    if (at == std::string_view::npos) return {};
    const auto start = at + KEY.size();
    return line.substr(start, line.find(',', start) - start);
}

// Why record `i` of the text split last does not write catalogue page `i`; empty when it does.
std::string PageMismatch(SrpReader& reader, const CalMessageCatalog& catalog, int i) {
    const CalMessageEntry& entry = catalog.entries[static_cast<std::size_t>(i)];
    const std::string page = "record " + std::to_string(i + 1) + " ";
    const SrpReader::Parsed parsed = reader.ReadRecord(i, catalog);
    if (parsed.kind != SRP_DB_WRITE) return page + "is no page write";
    const std::string_view name = RecordPageName(reader, reader.CopyRecord(i));
    if (name != entry.msgString) {
        return page + "names page \"" + std::string(name) + "\" where the catalogue has \"" + entry.msgString + "\"";
    }
    const SrpMessage& m = reader.message;
    if (m.dbId != entry.dbId || m.offset != entry.offset || m.bytes != entry.bytes || parsed.dataCount != entry.bytes) {
        return page + "(page " + entry.msgString + ") does not write the database, offset and " +
               std::to_string(entry.bytes) + " bytes the catalogue gives";
    }
    return {};
}

std::string CheckRecords(SrpReader& reader, const CalMessageCatalog& catalog, std::string_view text) {
    const int found = reader.SplitRecords(text);
    if (const SrpReader::Check check = reader.CheckRecords(SrpRun::Restore, catalog);
        check.refusal != SrpRefusal::None) {
        return reader.RefusalText(check.refusal, check.index);
    }
    if (found != catalog.pageCount) {
        return "it holds " + std::to_string(found) + " pages, the catalogue (calibration.ini) lists " +
               std::to_string(catalog.pageCount);
    }
    for (int i = 0; i < found; ++i) {
        if (std::string mismatch = PageMismatch(reader, catalog, i); !mismatch.empty()) return mismatch;
    }
    return {};
}

// Writes `bytes` to `path` whole or not at all.
bool WriteWhole(const std::string& path, std::string_view bytes, std::string& reason) {
    AtomicFile file;
    FileError error = file.Begin(path);
    if (error == FileError::None) error = file.Write(bytes);
    if (error == FileError::None) error = file.Commit();
    if (error == FileError::None) return true;
    reason = FileErrorText(error, path) + (file.ErrorText().empty() ? "" : " (" + file.ErrorText() + ")");
    return false;
}

// A name in the archive that no file has yet: an archive entry is never overwritten, even by
// the same text saved twice in one second.
std::string FreeArchivePath(const std::string& path) {
    std::string candidate = path;
    for (int n = 2; PathExists(candidate) || PathExists(SettingFilePath(candidate)); ++n) {
        candidate = path.substr(0, path.size() - 4) + "-" + std::to_string(n) + ".srp";
    }
    return candidate;
}

bool WriteArchive(const std::string& workDir, int lineIndex, std::string_view text, const std::string& setting,
                  std::string& path, std::string& reason) {
    const std::string folder = BackupArchiveFolder(workDir);
    if (std::string why; !MakeFolders(folder, why)) {
        reason = "Couldn't create the folder " + folder + ": " + why;
        return false;
    }
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    path = FreeArchivePath(BackupArchivePath(workDir, lineIndex, now, Sha256Hex(text)));
    return WriteWhole(path, text, reason) && WriteWhole(SettingFilePath(path), setting, reason);
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

std::string SettingFileText(std::uint8_t setting, std::string_view calibration) {
    return std::string(SETTING_KEY) + std::to_string(setting) + "\n" + std::string(FINGERPRINT_KEY) +
           Sha256Hex(calibration) + "\n";
}

std::string BackupArchiveFolder(const std::string& workDir) { return JoinPath(workDir, "backups"); }

std::string BackupArchivePath(const std::string& workDir, int lineIndex, std::time_t when, std::string_view fingerprint) {
    using namespace std::chrono;
    const auto time = floor<seconds>(system_clock::from_time_t(when));
    const auto day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss clock(time - day);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02u%02u-%02d%02d%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return JoinPath(BackupArchiveFolder(workDir), std::string(stamp) + "-COM-" + std::to_string(lineIndex + 1) + "-" +
                                                      std::string(fingerprint.substr(0, 12)) + ".srp");
}

bool CommitBackupFiles(AtomicFile& calibration, std::string_view text, std::uint8_t setting,
                       const std::string& workDir, int lineIndex, std::string& reason, std::string* archivePath) {
    const std::string settingText = SettingFileText(setting, text);
    std::string archived;
    if (!WriteArchive(workDir, lineIndex, text, settingText, archived, reason)) {
        calibration.Abandon();
        return false;
    }
    const std::string path = CalibrationFilePath(workDir, lineIndex);
    if (const FileError error = calibration.Commit(); error != FileError::None) {
        reason = FileErrorText(error, path) + " (" + calibration.ErrorText() + ")";
        return false;
    }
    if (archivePath) *archivePath = archived;
    return WriteWhole(SettingFilePath(path), settingText, reason);
}

bool CheckSavedBackup(CalState& cal, std::string_view text, std::string& reason) {
    if (Trimmed(text).empty()) {
        reason = "it is empty";
        return false;
    }
    const std::string_view body = Trimmed(text);
    const auto lastLine = body.find_last_of('\n');
    if (Trimmed(lastLine == std::string_view::npos ? body : body.substr(lastLine + 1)) != "END") {
        reason = "it does not end in the line END: it was cut off";
        return false;
    }
    SrpReader& reader = cal.reader;
    const SrpMessage before = reader.message;
    reason = CheckRecords(reader, cal.catalog, text);
    (void)reader.SplitRecords(nullptr, 0);  // the reader must not keep pointing into `text`
    reader.message = before;
    return reason.empty();
}

bool ReadSettingFile(std::string_view settingText, std::string_view calibration, std::uint8_t& setting,
                     std::string& reason) {
    std::string_view value;
    std::string_view fingerprint;
    std::string_view rest = settingText;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string_view line = Trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.starts_with(SETTING_KEY)) value = line.substr(SETTING_KEY.size());
        if (line.starts_with(FINGERPRINT_KEY)) fingerprint = line.substr(FINGERPRINT_KEY.size());
    }
    const std::string expected = Sha256Hex(calibration);
    if (fingerprint.empty()) {
        reason = "its setting file names no calibration file (written by an older ZOLT, or not by ZOLT); if it "
                 "belongs to this file, add the line " + std::string(FINGERPRINT_KEY) + expected;
        return false;
    }
    if (fingerprint != expected) {
        reason = "its setting file belongs to another calibration file (" + std::string(FINGERPRINT_KEY) +
                 std::string(fingerprint) + ", this file has " + expected + ")";
        return false;
    }
    int byte = -1;
    if (!value.empty() && value.size() <= 3 && value.find_first_not_of("0123456789") == std::string_view::npos) {
        byte = std::stoi(std::string(value));
    }
    if (byte < 0 || byte > 255) {
        reason = "its setting file holds no setting from 0 to 255";
        return false;
    }
    setting = static_cast<std::uint8_t>(byte);
    return true;
}

bool LoadSavedBackup(CalState& cal, const std::string& calibrationPath, std::string& reason) {
    cal.ReleaseBackup();
    std::vector<std::uint8_t> text;
    if (const FileError error = ReadWholeFile(calibrationPath, text); error != FileError::None) {
        reason = FileErrorText(error, calibrationPath);
        return false;
    }
    std::string why;
    if (!CheckSavedBackup(cal, AsText(text), why)) {
        reason = "cannot restore " + calibrationPath + ": " + why;
        return false;
    }
    const std::string settingPath = SettingFilePath(calibrationPath);
    std::vector<std::uint8_t> settingText;
    if (const FileError error = ReadWholeFile(settingPath, settingText); error != FileError::None) {
        reason = "cannot restore " + calibrationPath + " without its setting file: " + FileErrorText(error, settingPath);
        return false;
    }
    std::uint8_t setting = 0;
    if (!ReadSettingFile(AsText(settingText), AsText(text), setting, why)) {
        reason = "cannot restore " + calibrationPath + ": " + why;
        return false;
    }
    cal.backupText = std::move(text);
    cal.backupHeld = true;
    cal.savedSettingByte = setting;
    cal.writeSettingBack = true;
    return true;
}

}  // namespace zolt
