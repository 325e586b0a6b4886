// What a job is checked for before any line sends a byte: an operator's mistake found once the
// first phone has been half flashed costs that phone. Each check gives the problem in the
// operator's words, naming the file and what is wrong with it, or nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "cal/cal_state.h"
#include "job/config.h"
#include "job/job_task.h"

namespace zolt {

// Whether the tasks back up or restore calibration, and so need the page catalogue.
[[nodiscard]] bool TasksUseCatalog(const TaskList& tasks);
// Whether the tasks write calibration files into the work folder.
[[nodiscard]] bool TasksWriteCalFiles(const TaskList& tasks);

// The image at `path`, of `fileLength` bytes, against the sections that the tasks write: "the
// image X is too short by N bytes for its Data section (bytes S to E under the configuration;
// the file has F bytes)"; a section that the configuration places at a negative offset or with
// a negative size is named as such.
[[nodiscard]] std::optional<std::string> ImageSectionProblem(const TaskList& tasks, const Config& config,
                                                             std::uint64_t fileLength, const std::string& path);

// The catalogue "calibration.ini" in `folder` for tasks that back up or restore: it must be
// there and readable, list at least one page, and every page must be one that its own restore
// can play back (checked on `cal`, which must be no running line's). Nothing for other tasks.
[[nodiscard]] std::optional<std::string> CatalogProblemForTasks(const TaskList& tasks, CalState& cal,
                                                                const std::string& folder);

// The configuration file at `path` for a job that flashes an image: it must be a file and hold
// every key that places the sections, checksum words and version blocks and names the image
// ("the configuration X has no key CheckInfo in section MainConfig"). Missing keys would
// otherwise read as zero offsets and the default names, and the image would be judged by them.
[[nodiscard]] std::optional<std::string> ConfigFileProblem(const std::string& path);

// A script that its run would refuse before sending (a record too long for the reader or a
// frame, too many records): "the script X cannot be played: Record 3 (line 7) ...". Uses the
// reader of `cal`, which must be no running line's.
[[nodiscard]] std::optional<std::string> ScriptProblem(std::span<const std::uint8_t> text, CalState& cal,
                                                       const std::string& path);

// Whether a file can be made in `folder`: it must exist, be a folder, and take a new file
// (tried with a temporary file that is removed at once).
[[nodiscard]] std::optional<std::string> FolderWriteProblem(const std::string& folder, const std::string& what);

// Whether the file at `path` can be written when the job ends: not a folder, in a folder that
// takes new files, and writable itself when it exists (tried without changing it).
[[nodiscard]] std::optional<std::string> OutputFileProblem(const std::string& path, const std::string& what);

}  // namespace zolt
