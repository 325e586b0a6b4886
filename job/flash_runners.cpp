// The runners of Update Boot, Update CP and Update Data.
#include "job/flash_runners.h"

#include <string>

#include "link/flash.h"

namespace zolt {

namespace {

// The section a task writes, or RESULT_FAIL with the reason when it lies outside the file.
struct SectionOf {
    const char* name;  // as in the status text
    std::int32_t start;
    std::int32_t size;
};

std::optional<std::span<const std::uint8_t>> CheckSection(LinkSession& line, const SectionOf& of,
                                                          std::span<const std::uint8_t> file) {
    auto section = ImageSection(file, of.start, of.size);
    if (!section) line.SetStatusText(std::string(of.name) + " section lies outside the image file!");
    return section;
}


int EraseAndWrite(LinkSession& line, int type, std::span<const std::uint8_t> section) {
    if (line.FlashErase(type) != RESULT_OK) return RESULT_FAIL;
    return line.FlashWrite(type, section);
}

}  // namespace

std::optional<std::span<const std::uint8_t>> ImageSection(std::span<const std::uint8_t> file,
                                                          std::int32_t start, std::int32_t size) {
    if (start < 0 || size < 0) return std::nullopt;
    const auto first = static_cast<std::uint64_t>(start);
    const auto count = static_cast<std::uint64_t>(size);
    if (first > file.size() || count > file.size() - first) return std::nullopt;
    return file.subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
}

int RunUpdateBoot(LinkSession& line, const Config& config, std::span<const std::uint8_t> file) {
    const auto section = CheckSection(line, {"Boot", config.bootStart, config.bootSize}, file);
    if (!section) return RESULT_FAIL;
    if (line.BootLoad() != RESULT_OK) return RESULT_FAIL;
    return EraseAndWrite(line, IMAGE_BOOT, *section);
}

int RunUpdateCp(LinkSession& line, const Config& config, std::span<const std::uint8_t> file,
                bool firstTask) {
    const ClearProgressTotal clear{line};
    const auto section = CheckSection(line, {"CP", config.cpStart, config.cpSize}, file);
    if (!section) return RESULT_FAIL;
    if (firstTask && line.BootLoad() != RESULT_OK) return RESULT_FAIL;
    return EraseAndWrite(line, IMAGE_CP, *section);
}

int RunUpdateData(LinkSession& line, const Config& config, std::span<const std::uint8_t> file,
                  bool firstTask) {
    const ClearProgressTotal clear{line};
    const auto section = CheckSection(line, {"Data", config.dataStart, config.dataSize}, file);
    int result = RESULT_FAIL;
    if (section && (!firstTask || line.BootLoad() == RESULT_OK)) {
        result = EraseAndWrite(line, IMAGE_DATA, *section);
    }
    // The phone restarts into its new firmware whatever became of the write.
    line.ResetPhone();
    line.Pause(line.timing.dataResetPause);
    return result;
}

}  // namespace zolt
