// The runners of the three flash tasks, called by a line's worker. Each is a fixed chain of
// the flash operations of LinkSession that stops at the first failing step, and returns
// RESULT_OK or RESULT_FAIL with the line's status text saying why.
//
// `file` is the loaded image; the section is [Start, Start + Size) of the task's section of
// `config`. A section that does not lie inside `file` fails the task before anything is sent.
// All run on the line's worker thread and throw LineStopped when the line is stopped.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "job/config.h"
#include "link/link_session.h"

namespace zolt {

// BootLoad, erase and write of the Boot section. Leaves flashBlockCount as the write left it.
[[nodiscard]] int RunUpdateBoot(LinkSession& line, const Config& config,
                                std::span<const std::uint8_t> file);

// BootLoad (only when `firstTask`), erase and write of the CP section. Clears
// flashBlockCount at the end, whatever the outcome.
[[nodiscard]] int RunUpdateCp(LinkSession& line, const Config& config,
                              std::span<const std::uint8_t> file, bool firstTask);

// BootLoad (only when `firstTask`), erase and write of the Data section; then, also after a
// failed erase or write, two reset requests, timing.dataResetPause for the phone to restart,
// and flashBlockCount cleared. The result is returned only after the pause.
[[nodiscard]] int RunUpdateData(LinkSession& line, const Config& config,
                                std::span<const std::uint8_t> file, bool firstTask);

// The bytes [start, start + size) of `file`, or nothing when they do not all lie inside it
// (a negative start or size, or an end past the file).
std::optional<std::span<const std::uint8_t>> ImageSection(std::span<const std::uint8_t> file,
                                                          std::int32_t start, std::int32_t size);

}  // namespace zolt
