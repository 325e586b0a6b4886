// A phone's flash: one area per image type (0 Boot, 1 CP, ..., 6 Data), each the bytes
// written to it since its last erase. With a folder, each area is also kept in
// <folder>/flash-<type>.bin, so that tests and people can compare it with the image's
// section; an area's file is read back when the phone starts, as flash survives a restart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace zolt::sim {

class FlashStore {
public:
    static constexpr int AREA_COUNT = 7;  // image types 0 to 6
    // No area grows beyond this: larger than any section, small enough for memory.
    static constexpr std::size_t MAX_AREA = 64u << 20;
    // Flash that was erased and not written reads as this.
    static constexpr std::uint8_t ERASED = 0xFF;

    // Without a folder the areas live in memory only. Creates the folder and reads existing
    // area files; throws SimError when the folder cannot be created.
    explicit FlashStore(std::filesystem::path folder = {});

    static bool IsArea(int type) { return type >= 0 && type < AREA_COUNT; }

    // Empties the area (and its file). Returns false for a type that is not an area, or when
    // the file could not be emptied.
    bool Erase(int type);
    // Places `data` at `offset`; any gap before it reads as erased flash. Returns false for a
    // type that is not an area, beyond MAX_AREA (nothing written), or when the file write
    // failed (the area in memory has the data all the same).
    bool Write(int type, std::size_t offset, std::span<const std::uint8_t> data);

    // The area's bytes; empty for a type that is not an area.
    const std::vector<std::uint8_t>& Area(int type) const;
    // The area's file; empty without a folder.
    std::filesystem::path File(int type) const;

private:
    std::array<std::vector<std::uint8_t>, AREA_COUNT> areas_;
    std::filesystem::path folder_;
};

}  // namespace zolt::sim
