#include "job/rom_image.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "io/input_file.h"

namespace zolt {
namespace {

// The bytes of `file` from `position` on, as zeros where the file has none. Positions come
// from the configuration unchecked, so they may be negative or run past the file.
template <std::size_t N>
std::array<std::uint8_t, N> BytesAt(std::span<const std::uint8_t> file, std::int64_t position) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        const std::int64_t p = position + static_cast<std::int64_t>(i);
        if (p >= 0 && static_cast<std::uint64_t>(p) < file.size()) {
            out[i] = file[static_cast<std::size_t>(p)];
        }
    }
    return out;
}

std::uint16_t WordAt(std::span<const std::uint8_t> file, std::int64_t position) {
    const auto bytes = BytesAt<2>(file, position);
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

bool EndsWithBinExtension(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
    return tail == ".bin";
}

}  // namespace

std::span<const std::uint8_t> RomImage::Bytes() const {
    if (!fileData) return {};
    return {fileData.get(), fileLength};
}

std::optional<std::span<const std::uint8_t>> RomImage::Section(std::int32_t start,
                                                               std::int32_t size) const {
    if (!fileData || start < 0 || size < 0) return std::nullopt;
    const auto first = static_cast<std::uint64_t>(start);
    const auto count = static_cast<std::uint64_t>(size);
    if (first > fileLength || count > fileLength - first) return std::nullopt;
    return Bytes().subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
}

std::string VersionBlockString(const VersionBlock& block, std::size_t offset) {
    if (offset >= block.size()) return {};
    const auto begin = block.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, block.end(), std::uint8_t{0});
    return std::string(begin, end);
}

std::string ImageInfo::BootVersionText() const {
    return VersionBlockString(bootVersion, VERSION_STRING_OFFSET);
}

std::string ImageInfo::CpVersionText() const {
    return VersionBlockString(cpVersion, VERSION_STRING_OFFSET);
}

std::string FormatChecksum(std::uint16_t checksum) {
    char text[8];
    std::snprintf(text, sizeof text, "0X%04X", static_cast<unsigned>(checksum));
    return text;
}

std::uint8_t* JobFile::AllocateImage(std::uint64_t length) {
    image_.fileData.reset();
    image_.fileLength = 0;
    // The length is held in 32 bits: a larger file cannot be held at all.
    if (length > std::numeric_limits<std::uint32_t>::max() ||
        length > std::numeric_limits<std::size_t>::max()) {
        prompt_.ShowMessage(NO_MEMORY_TEXT, PromptIcon::Error);
        return nullptr;
    }
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(length)]);
    if (!data) {
        prompt_.ShowMessage(NO_MEMORY_TEXT, PromptIcon::Error);
        return nullptr;
    }
    image_.fileData = std::move(data);
    image_.fileLength = static_cast<std::uint32_t>(length);
    return image_.fileData.get();
}

int JobFile::LoadWholeFile(const std::string& path) {
    InputFile file;
    if (FileError error = file.Open(path); error != FileError::None) {
        prompt_.ShowMessage(FileErrorText(error, path), PromptIcon::Error);
        return LOAD_FAILED;
    }
    std::uint64_t length = 0;
    FileError error = file.Length(length);

    // From here on the previous file is gone, whatever happens.
    image_.fileData.reset();
    image_.fileLength = 0;
    if (error == FileError::None) {
        std::uint8_t* data = AllocateImage(length);
        if (data == nullptr) return LOAD_FAILED;
        error = file.ReadAll(data, static_cast<std::size_t>(length));
        if (error == FileError::None) return LOAD_OK;
    }
    // A file that cannot be read whole is not kept: a partly filled buffer would be flashed.
    image_.fileData.reset();
    image_.fileLength = 0;
    prompt_.ShowMessage(FileErrorText(error, path), PromptIcon::Error);
    return LOAD_FAILED;
}

ImageInfo ReadImageInfo(std::span<const std::uint8_t> file, const Config& config) {
    ImageInfo info;
    const std::int64_t blockOffset = config.combineVer != 0 ? 16 : 2;
    info.bootChksum = WordAt(file, config.bootChksumPos);
    info.bootVersion = BytesAt<32>(file, config.bootChksumPos + blockOffset);
    info.cpChksum = WordAt(file, config.cpChksumPos);
    info.cpVersion = BytesAt<32>(file, config.cpChksumPos + blockOffset);
    info.imageIdent = VersionBlockString(info.cpVersion, VERSION_IDENT_OFFSET);
    info.imageModel = VersionBlockString(info.cpVersion, VERSION_MODEL_OFFSET);
    return info;
}

void JobFile::Remember(const std::string& path, JobFileKind kind) {
    lastPath_ = path;
    lastKind_ = kind;
}

int JobFile::IdentifyImage(const std::string& path) {
    info_ = ReadImageInfo(image_.Bytes(), config_);
    if (info_.imageIdent != config_.checkInfo || info_.imageModel != config_.mobileName) {
        return LOAD_FORMAT_ERROR;
    }
    Remember(path, JobFileKind::Image);
    return LOAD_OK;
}

int JobFile::LoadRomImage(const std::string& path) {
    ClearImageInfo();
    if (LoadWholeFile(path) != LOAD_OK) return LOAD_FAILED;
    return IdentifyImage(path);
}

int JobFile::LoadRomImage(std::span<const std::uint8_t> bytes, const std::string& path) {
    ClearImageInfo();
    std::uint8_t* data = AllocateImage(bytes.size());
    if (data == nullptr) return LOAD_FAILED;
    std::copy(bytes.begin(), bytes.end(), data);
    return IdentifyImage(path);
}

int JobFile::LoadPlainFile(const std::string& path) {
    ClearImageInfo();
    if (LoadWholeFile(path) != LOAD_OK) return LOAD_FAILED;
    Remember(path, JobFileKind::Plain);
    return LOAD_OK;
}

int JobFile::ReloadJobFile(const std::string& path) {
    JobFileKind kind = path == lastPath_ ? lastKind_ : JobFileKind::None;
    if (kind == JobFileKind::None) kind = EndsWithBinExtension(path) ? JobFileKind::Image : JobFileKind::Plain;
    const int result = kind == JobFileKind::Image ? LoadRomImage(path) : LoadPlainFile(path);
    return result;
}

}  // namespace zolt
