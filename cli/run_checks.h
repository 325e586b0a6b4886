// What `zolt run` checks of its options before it opens a port, in the words a technician
// needs: which file or port, what is wrong with it, and where it helps, what to do.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/run_options.h"
#include "job/config.h"
#include "job/rom_image.h"

namespace zolt::cli {

// The file the job plays or flashes: the script, the saved backup or the image.
[[nodiscard]] const std::string& JobFilePath(const RunOptions& options);

// The files and folders that the options name, before anything is read into a line: the work
// folder (and that it takes new files when the job backs up), the configuration for an image,
// the job's file, the page catalogue when the job backs up or restores, and the report and
// trace files. `workDir` is the work folder the job uses.
[[nodiscard]] std::optional<std::string> CheckRunInputs(const RunOptions& options, const std::string& workDir);

// Why a port that the port list does not have cannot be a line: it is no serial port, or it
// does not exist at all.
[[nodiscard]] std::string MissingPortText(const std::string& typed, const std::string& device);

// An image whose identification or model is not the configuration's, with both shown.
[[nodiscard]] std::string MismatchText(const std::string& path, const ImageInfo& info, const Config& config);

// `text` with every byte outside printable ASCII as \xNN: an image's version block may hold
// anything.
[[nodiscard]] std::string PrintableText(std::string_view text);

}  // namespace zolt::cli
