#include "job/job_checks.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "cal/backup.h"
#include "io/file_error.h"
#include "io/file_system.h"
#include "io/ini_file.h"
#include "io/output_file.h"
#include "io/paths.h"
#include "io/texts.h"

namespace zolt {

namespace {

struct Section {
    const char* name;
    std::int32_t start;
    std::int32_t size;
};

std::optional<Section> SectionOfTask(std::uint8_t code, const Config& config) {
    switch (code) {
        case TASK_UPDATE_BOOT: return Section{"Boot", config.bootStart, config.bootSize};
        case TASK_UPDATE_CP: return Section{"CP", config.cpStart, config.cpSize};
        case TASK_UPDATE_DATA: return Section{"Data", config.dataStart, config.dataSize};
        default: return std::nullopt;
    }
}

bool HasTask(const TaskList& tasks, std::uint8_t code) {
    for (int t = 0; t < tasks.taskCount; ++t) {
        if (tasks.tasks[t].code == code) return true;
    }
    return false;
}

constexpr const char* SEPARATORS = std::filesystem::path::preferred_separator == '\\' ? "\\/" : "/";

// The folder that holds `path`: the current one for a bare name.
std::string FolderOf(const std::string& path) {
    const std::size_t at = path.find_last_of(SEPARATORS);
    if (at == std::string::npos) return ".";
    return at == 0 ? path.substr(0, 1) : path.substr(0, at);
}

// What keeps a new file from being made in `folder`, as the end of a sentence naming it.
std::optional<std::string> FolderReason(const std::string& folder) {
    if (!PathExists(folder)) return "does not exist";
    if (!IsFolder(folder)) return "is not a folder";
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string probe = JoinPath(folder, ".zolt-write-check-" + std::to_string(tick));
    OutputFile file;
    if (file.CreateNew(probe) != FileError::None) return "cannot take new files (" + file.ErrorText() + ")";
    (void)file.Close();
    RemoveFileQuietly(probe);
    return std::nullopt;
}

}  // namespace

bool TasksUseCatalog(const TaskList& tasks) {
    return HasTask(tasks, TASK_BACKUP_CAL) || HasTask(tasks, TASK_RESTORE_CAL);
}

bool TasksWriteCalFiles(const TaskList& tasks) { return HasTask(tasks, TASK_BACKUP_CAL); }

std::optional<std::string> ImageSectionProblem(const TaskList& tasks, const Config& config,
                                               std::uint64_t fileLength, const std::string& path) {
    for (int t = 0; t < tasks.taskCount; ++t) {
        const auto section = SectionOfTask(tasks.tasks[t].code, config);
        if (!section) continue;
        const std::string name = std::string(section->name) + " section";
        if (section->start < 0 || section->size < 0) {
            return "the configuration places the " + name + " at offset " + std::to_string(section->start) +
                   " with size " + std::to_string(section->size) + ", outside any image";
        }
        const std::uint64_t end = static_cast<std::uint64_t>(section->start) + static_cast<std::uint64_t>(section->size);
        if (end <= fileLength) continue;
        return "the image " + path + " is too short by " + std::to_string(end - fileLength) + " bytes for its " +
               name + " (bytes " + std::to_string(section->start) + " to " + std::to_string(end) +
               " under the configuration; the file has " + std::to_string(fileLength) + ")";
    }
    return std::nullopt;
}

std::optional<std::string> CatalogProblemForTasks(const TaskList& tasks, CalState& cal, const std::string& folder) {
    if (!TasksUseCatalog(tasks)) return std::nullopt;
    const std::string path = JoinPath(folder.empty() ? CurrentDirectory() : folder, CalMessageCatalog::FILE_NAME);
    if (IsFolder(path)) return "the page catalogue " + path + " is a folder, not a file";
    // Read afresh: the file may have come or changed since the lines were made.
    std::string reason;
    if (!cal.catalog.LoadFile(path, reason)) return texts::COULDNT_OPEN_FILE + reason;
    if (cal.catalog.pageCount <= 0) {
        return "the page catalogue " + path + " lists no pages (section " + std::string(CalMessageCatalog::COUNT_SECTION) +
               " needs a Count of 1 or more)";
    }
    if (auto problem = CatalogProblem(cal)) return "the page catalogue " + path + ": " + *problem;
    return std::nullopt;
}

std::optional<std::string> ScriptProblem(std::span<const std::uint8_t> text, CalState& cal, const std::string& path) {
    SrpReader& reader = cal.reader;
    const SrpMessage kept = reader.message;
    (void)reader.SplitRecords(text.data(), text.size());
    const SrpReader::Check check = reader.CheckRecords(SrpRun::Script, cal.catalog);
    std::optional<std::string> problem;
    if (check.refusal != SrpRefusal::None) {
        problem = "the script " + path + " cannot be played: " + reader.RefusalText(check.refusal, check.index);
    }
    (void)reader.SplitRecords(nullptr, 0);  // the reader must not keep pointing into `text`
    reader.message = kept;
    return problem;
}

std::optional<std::string> ConfigFileProblem(const std::string& path) {
    if (!PathExists(path)) return "the configuration " + path + " was not found";
    if (IsFolder(path)) return "the configuration " + path + " is a folder, not a file";
    static constexpr std::pair<const char*, const char*> REQUIRED[] = {
        {"MainConfig", "CheckInfo"}, {"MainConfig", "MobileName"}, {"BootConfig", "Start"}, {"BootConfig", "Size"},
        {"BootConfig", "ChksumPos"}, {"CpConfig", "Start"},        {"CpConfig", "Size"},    {"CpConfig", "ChksumPos"},
        {"DataConfig", "Start"},     {"DataConfig", "Size"},
    };
    const IniFile file = IniFile::Load(path);
    for (const auto& [section, key] : REQUIRED) {
        if (!file.HasKey(section, key)) {
            return "the configuration " + path + " has no key " + key + " in section " + section;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FolderWriteProblem(const std::string& folder, const std::string& what) {
    if (auto reason = FolderReason(folder)) return what + " " + folder + " " + *reason;
    return std::nullopt;
}

std::optional<std::string> OutputFileProblem(const std::string& path, const std::string& what) {
    if (IsFolder(path)) return what + " " + path + " is a folder, not a file";
    const std::string folder = FolderOf(path);
    if (auto reason = FolderReason(folder)) return what + " " + path + " cannot be written: its folder " + folder + " " + *reason;
    if (!PathExists(path)) return std::nullopt;
    // Append mode opens an existing file for writing without changing a byte of it.
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return what + " " + path + " cannot be written";
    std::fclose(file);
    return std::nullopt;
}

}  // namespace zolt
