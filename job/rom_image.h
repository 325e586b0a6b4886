// The one file a job works on, held in memory whole: a combined ROM image whose Boot, CP and
// Data sections are flashed, or a script handed whole to the script runner. For an image
// the loader also reads the checksum words and version blocks the configuration points to,
// so the operator can see what is about to be flashed.
//
// All operations run on the owner's thread; no load may happen while a line runs (the
// workers read the buffer in place).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "job/config.h"
#include "io/prompt.h"

namespace zolt {

// Results of the loaders.
inline constexpr int LOAD_FAILED = 0;        // nothing (new) is loaded; the operator was told why
inline constexpr int LOAD_OK = 1;            // the file is in memory and usable
inline constexpr int LOAD_FORMAT_ERROR = 2;  // an image of another identification or model

inline constexpr std::string_view NO_MEMORY_TEXT = "No Enough Memory!";

struct RomImage {
    std::unique_ptr<std::uint8_t[]> fileData;  // the whole file as read; none before a load
    std::uint32_t fileLength = 0;              // 0 whenever fileData is none

    // The whole file (empty when none is loaded).
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const;
    // The bytes [start, start + size) of the file, or nothing when they do not all lie
    // inside it (no file, a negative start or size, an end past the file).
    [[nodiscard]] std::optional<std::span<const std::uint8_t>> Section(std::int32_t start,
                                                                       std::int32_t size) const;
};

// Offsets of the fields of a 32-byte version block.
inline constexpr std::size_t VERSION_IDENT_OFFSET = 0;
inline constexpr std::size_t VERSION_MODEL_OFFSET = 10;
inline constexpr std::size_t VERSION_STRING_OFFSET = 18;

using VersionBlock = std::array<std::uint8_t, 32>;

// What a loaded image says about itself. All zero and empty for a plain file or after a
// failed load.
struct ImageInfo {
    std::uint16_t bootChksum = 0;  // the word stored at bootChksumPos, little-endian
    VersionBlock bootVersion{};
    std::uint16_t cpChksum = 0;  // the word stored at cpChksumPos
    VersionBlock cpVersion{};
    std::string imageIdent;  // identification string of the CP version block
    std::string imageModel;  // model name of the CP version block

    // The version strings the view shows.
    [[nodiscard]] std::string BootVersionText() const;
    [[nodiscard]] std::string CpVersionText() const;
};

// The text from `offset` of `block` up to its first zero byte or the end of the block (so a
// field without a zero runs on into the next one).
[[nodiscard]] std::string VersionBlockString(const VersionBlock& block, std::size_t offset);

// A checksum word as the view shows it: "0X" and four upper-case hexadecimal digits.
[[nodiscard]] std::string FormatChecksum(std::uint16_t checksum);

// What `file` says about itself under the layout of `config`: the checksum words at the
// configured positions and the version blocks behind them, and the identification and model
// of the CP version block. Positions come from the configuration unchecked: bytes at
// positions the file does not have (negative ones, or at or past its end) read as zero, and
// nothing outside `file` is read.
[[nodiscard]] ImageInfo ReadImageInfo(std::span<const std::uint8_t> file, const Config& config);

// How the job's file was loaded.
enum class JobFileKind { None, Image, Plain };

// The loaded file and its image information, and the loaders that replace them. Messages
// go to `prompt`; the image layout and the expected identification come from `config`, read
// at each load (both must outlive this object).
class JobFile {
public:
    JobFile(const Config& config, Prompt& prompt) : config_(config), prompt_(prompt) {}

    // Loads the image at `path`, fills the image information and checks its identification
    // and model against the configuration. The information is cleared first, so it stays
    // cleared when the load fails. Returns
    //  - LOAD_FAILED after a message box: the file cannot be opened (the platform's reason;
    //    the previous file stays loaded), there is not enough memory for it, or it cannot be
    //    read whole (no file is loaded then);
    //  - LOAD_FORMAT_ERROR, without a message: the identification or the model differs
    //    (exact comparisons); the file stays loaded with its information;
    //  - LOAD_OK.
    // Checksum words and version blocks that lie wholly or partly outside the file read as
    // zero bytes where the file has none; nothing outside the file is read.
    [[nodiscard]] int LoadRomImage(const std::string& path);
    // LoadRomImage for an image already in memory: takes a copy of `bytes` in place of a
    // file's contents and remembers `path` as where it came from (the path ReloadJobFile
    // reads again). The same results, LOAD_FAILED only when there is no memory for the copy
    // (the previous file is gone then).
    [[nodiscard]] int LoadRomImage(std::span<const std::uint8_t> bytes, const std::string& path);

    // Loads any file without looking into it; the image information is left cleared.
    // LOAD_FAILED as for LoadRomImage, otherwise LOAD_OK.
    [[nodiscard]] int LoadPlainFile(const std::string& path);

    // Loads the job's file at `path` again from disk, with the loader that last loaded it
    // with LOAD_OK (a file never loaded so is taken as an image when its name ends in
    // ".bin" in any case, else as a plain file). Returns the loader's result: LOAD_OK, after
    // which info() is what the view shows (cleared for a plain file); LOAD_FORMAT_ERROR for an
    // image that no longer matches the configuration; LOAD_FAILED. No message of its own (a
    // file that cannot be read was reported by the loader).
    [[nodiscard]] int ReloadJobFile(const std::string& path);

    const RomImage& image() const { return image_; }
    const ImageInfo& info() const { return info_; }
    std::span<const std::uint8_t> Bytes() const { return image_.Bytes(); }
    // The loader that last returned LOAD_OK, and for which path.
    JobFileKind lastLoadedKind() const { return lastKind_; }
    const std::string& lastLoadedPath() const { return lastPath_; }

    void ClearImageInfo() { info_ = ImageInfo{}; }

private:
    // Steps shared by both loaders: open, allocate exactly the file's length, read it whole.
    int LoadWholeFile(const std::string& path);
    // Replaces the file by `length` uninitialised bytes; none (after a message) when they
    // cannot be had.
    std::uint8_t* AllocateImage(std::uint64_t length);
    // Reads the information of the loaded image and checks its identification.
    int IdentifyImage(const std::string& path);
    void Remember(const std::string& path, JobFileKind kind);

    const Config& config_;
    Prompt& prompt_;
    RomImage image_;
    ImageInfo info_;
    JobFileKind lastKind_ = JobFileKind::None;
    std::string lastPath_;
};

}  // namespace zolt
