#include "cli/run_checks.h"

#include <cstdio>

#include "cal/cal_catalog.h"
#include "io/file_system.h"
#include "io/paths.h"
#include "job/config_file.h"
#include "job/job_checks.h"
#include "job/job_control.h"

namespace zolt::cli {

namespace {

// The job's file: there, and a file.
std::optional<std::string> JobFileProblem(const RunOptions& options) {
    const std::string& path = JobFilePath(options);
    const char* what = !options.script.empty() ? "the script" : !options.restore.empty() ? "the calibration backup" : "the image";
    if (!PathExists(path)) return std::string(what) + " " + path + " was not found";
    if (IsFolder(path)) return std::string(what) + " " + path + " is a folder: give the file itself";
    return std::nullopt;
}

std::optional<std::string> ConfigProblem(const RunOptions& options) {
    const bool chosen = options.config && !options.config->empty();
    auto problem = ConfigFileProblem(chosen ? *options.config : DefaultConfigPath());
    if (problem && !chosen) *problem += ": run zolt in the folder that holds ZOLT.ini, or give --config FILE";
    return problem;
}

}  // namespace

const std::string& JobFilePath(const RunOptions& options) {
    return !options.script.empty() ? options.script : !options.restore.empty() ? options.restore : options.image;
}

std::optional<std::string> CheckRunInputs(const RunOptions& options, const std::string& workDir) {
    const bool backsUp = options.withCal;
    if (!PathExists(workDir) || !IsFolder(workDir)) {
        return "the work folder " + workDir + (PathExists(workDir) ? " is not a folder" : " does not exist") +
               ": give --workdir FOLDER, the folder for the calibration files";
    }
    if (backsUp) {
        if (auto problem = FolderWriteProblem(workDir, "the work folder")) {
            return *problem + ": the backups are written there; give --workdir FOLDER";
        }
    }
    const bool imageJob = options.script.empty() && options.restore.empty();
    if (imageJob) {
        if (auto problem = ConfigProblem(options)) return problem;
    }
    if (auto problem = JobFileProblem(options)) return problem;
    if (backsUp || !options.restore.empty()) {
        const std::string catalog = JoinPath(workDir, CalMessageCatalog::FILE_NAME);
        if (!PathExists(catalog)) {
            return std::string(CalMessageCatalog::FILE_NAME) + " not found in " + workDir +
                   ": a backup or a restore needs the page catalogue there; copy it in, or give --workdir FOLDER";
        }
    }
    if (options.report) {
        if (auto problem = OutputFileProblem(*options.report, "the report")) return problem;
    }
    if (options.trace) {
        if (auto problem = OutputFileProblem(*options.trace, "the trace")) return problem;
    }
    return std::nullopt;
}

std::string MissingPortText(const std::string& typed, const std::string& device) {
    if (PathExists(device)) return "port " + typed + " is not a serial port";
    return "port " + typed + " does not exist (zolt ports lists the serial ports)";
}

std::string MismatchText(const std::string& path, const ImageInfo& info, const Config& config) {
    return path + " does not match the configuration: its identification is \"" + PrintableText(info.imageIdent) +
           "\" and its model \"" + PrintableText(info.imageModel) + "\", the configuration expects \"" +
           PrintableText(config.checkInfo) + "\" and \"" + PrintableText(config.mobileName) + "\"";
}

std::string PrintableText(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            shown += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

}  // namespace zolt::cli
