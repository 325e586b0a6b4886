// A phone's calibration: bytes by database, segment and offset, and the setting that the
// tool saves with a backup (file-system setting Type 18, id 3).
//
// A phone leaves the factory with calibration of its own: until a byte is written, it reads
// as a pattern of the phone's number, database, segment and offset, so no two phones hold
// the same calibration. Erasing the Data area wipes it all, as a reflash does on a real
// phone: afterwards every byte not written again reads as ERASED, and so does the setting.
//
// With a folder, what differs from the factory state is also kept there, so that tests and
// people can compare it, and read back when the phone starts:
//   cal-<database>-<segment>.bin  a written segment, from offset 0 to its last written byte
//   cal-setting.bin               the setting, once written
//   cal-erased                    present once the calibration has been wiped
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace zolt::sim {

class CalDatabase {
public:
    static constexpr std::uint8_t ERASED = 0xFF;
    // No segment grows beyond this: a 16-bit offset plus a page.
    static constexpr std::size_t MAX_SEGMENT = 0x10000 + 0x1000;

    // Reads what the folder holds (nothing without a folder). Files that cannot be read count
    // as never written.
    explicit CalDatabase(int phoneNumber, std::filesystem::path folder = {});

    // `count` bytes from `offset`; bytes past MAX_SEGMENT read as ERASED.
    [[nodiscard]] std::vector<std::uint8_t> Read(int database, int segment, std::size_t offset,
                                                 std::size_t count) const;
    // Stores `data` at `offset`, as far as MAX_SEGMENT. Returns false when the folder's file
    // could not be written (the database in memory has the data all the same).
    bool Write(int database, int segment, std::size_t offset, std::span<const std::uint8_t> data);

    [[nodiscard]] std::uint8_t Setting() const;
    bool SetSetting(std::uint8_t value);

    // Wipes every segment and the setting (and their files).
    void Wipe();
    [[nodiscard]] bool Wiped() const { return wiped_; }

    // The folder's file of a segment; empty without a folder.
    [[nodiscard]] std::filesystem::path SegmentFile(int database, int segment) const;
    [[nodiscard]] std::filesystem::path SettingFile() const;

private:
    using Key = std::pair<int, int>;
    std::uint8_t Base(Key key, std::size_t offset) const;
    void Load();

    int number_;
    std::filesystem::path folder_;
    std::map<Key, std::vector<std::uint8_t>> segments_;  // from offset 0 to the last write
    std::optional<std::uint8_t> setting_;
    bool wiped_ = false;
};

}  // namespace zolt::sim
