// Fuzzes the loading and identification of a ROM image: the layout (positions and sizes,
// unchecked, as a configuration file may give them) comes from the input's first bytes, the
// image from the rest. Nothing outside the image is read or reported: a section lies wholly
// inside the image or is refused, and every byte of a checksum word or version block is the
// image's byte at that position, or zero where the image has none.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "job/rom_image.h"

namespace {

using zolt::fuzz::Require;

struct NoPrompt : zolt::Prompt {
    void ShowMessage(std::string_view, zolt::PromptIcon) override {}
};

constexpr std::size_t LAYOUT_BYTES = 1 + 9 * 4;

std::int32_t Int32At(const std::uint8_t* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return static_cast<std::int32_t>(v);
}

// The byte the image has at `position`, or zero.
std::uint8_t ByteAt(std::span<const std::uint8_t> image, std::int64_t position) {
    if (position < 0 || static_cast<std::uint64_t>(position) >= image.size()) return 0;
    return image[static_cast<std::size_t>(position)];
}

void CheckWordAndBlock(std::span<const std::uint8_t> image, std::int32_t position,
                       std::int64_t blockOffset, std::uint16_t word, const zolt::VersionBlock& block) {
    Require(word == (ByteAt(image, position) | (ByteAt(image, std::int64_t{position} + 1) << 8)));
    for (std::size_t i = 0; i < block.size(); ++i) {
        Require(block[i] == ByteAt(image, position + blockOffset + static_cast<std::int64_t>(i)));
    }
}

void CheckSection(const zolt::RomImage& image, std::int32_t start, std::int32_t size) {
    const auto section = image.Section(start, size);
    if (!section) return;
    const auto whole = image.Bytes();
    Require(start >= 0 && size >= 0 && section->size() == static_cast<std::size_t>(size));
    Require(section->data() == whole.data() + start);
    Require(static_cast<std::uint64_t>(start) + static_cast<std::uint64_t>(size) <= whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < LAYOUT_BYTES) return 0;
    zolt::Config config;
    std::int32_t* fields[] = {&config.bootStart, &config.bootSize, &config.bootChksumPos,
                              &config.cpStart,   &config.cpSize,   &config.cpChksumPos,
                              &config.dataStart, &config.dataSize, &config.combineVer};
    for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = Int32At(data + 1 + 4 * i);
    const std::span<const std::uint8_t> bytes(data + LAYOUT_BYTES, size - LAYOUT_BYTES);
    // Every other input expects the identification the image carries, so that both outcomes
    // of the check are explored.
    if (data[0] & 1) {
        const zolt::ImageInfo info = zolt::ReadImageInfo(bytes, config);
        config.checkInfo = info.imageIdent;
        config.mobileName = info.imageModel;
    }

    NoPrompt prompt;
    zolt::JobFile job(config, prompt);
    const int result = job.LoadRomImage(bytes, "fuzz.bin");
    Require(result != zolt::LOAD_FAILED);
    if (data[0] & 1) Require(result == zolt::LOAD_OK);
    const auto loaded = job.Bytes();
    Require(loaded.size() == bytes.size() && std::equal(loaded.begin(), loaded.end(), bytes.begin()));

    const zolt::ImageInfo& info = job.info();
    const std::int64_t blockOffset = config.combineVer != 0 ? 16 : 2;
    CheckWordAndBlock(loaded, config.bootChksumPos, blockOffset, info.bootChksum, info.bootVersion);
    CheckWordAndBlock(loaded, config.cpChksumPos, blockOffset, info.cpChksum, info.cpVersion);
    Require(info.imageIdent.size() <= info.cpVersion.size() && info.imageModel.size() <= 22);
    Require(info.BootVersionText().size() <= 14 && info.CpVersionText().size() <= 14);

    CheckSection(job.image(), config.bootStart, config.bootSize);
    CheckSection(job.image(), config.cpStart, config.cpSize);
    CheckSection(job.image(), config.dataStart, config.dataSize);
    return 0;
}
