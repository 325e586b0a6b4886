#include "sim/cal_database.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace zolt::sim {
namespace {

// SplitMix64's finaliser: every bit of the input reaches every bit of the output.
std::uint64_t Mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr const char* ERASED_MARK = "cal-erased";
constexpr int SETTING_SEGMENT = -1;  // the setting's place in the factory pattern

bool WriteWhole(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::vector<std::uint8_t> ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// "cal-<database>-<segment>.bin" back into its numbers.
bool ParseSegmentFile(const std::string& name, int& database, int& segment) {
    unsigned d = 0;
    unsigned s = 0;
    char tail[8] = {};
    if (std::sscanf(name.c_str(), "cal-%u-%u%7s", &d, &s, tail) != 3 || std::string(tail) != ".bin") return false;
    if (d > 0xFF || s > 0xFF) return false;
    database = static_cast<int>(d);
    segment = static_cast<int>(s);
    return true;
}

}  // namespace

CalDatabase::CalDatabase(int phoneNumber, std::filesystem::path folder)
    : number_(phoneNumber), folder_(std::move(folder)) {
    Load();
}

void CalDatabase::Load() {
    if (folder_.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (!std::filesystem::is_directory(folder_, ec)) return;
    wiped_ = std::filesystem::exists(folder_ / ERASED_MARK, ec);
    const std::vector<std::uint8_t> setting = ReadWhole(SettingFile());
    if (!setting.empty()) setting_ = setting[0];
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        int database = 0;
        int segment = 0;
        if (!ParseSegmentFile(entry.path().filename().string(), database, segment)) continue;
        std::vector<std::uint8_t> bytes = ReadWhole(entry.path());
        if (bytes.size() > MAX_SEGMENT) bytes.resize(MAX_SEGMENT);
        segments_[{database, segment}] = std::move(bytes);
    }
}

std::uint8_t CalDatabase::Base(Key key, std::size_t offset) const {
    if (wiped_) return ERASED;
    const std::uint64_t where = (static_cast<std::uint64_t>(number_) << 48) ^
                                (static_cast<std::uint64_t>(key.first & 0xFF) << 40) ^
                                (static_cast<std::uint64_t>(key.second & 0xFFFF) << 24) ^ offset;
    return static_cast<std::uint8_t>(Mix(where));
}

std::vector<std::uint8_t> CalDatabase::Read(int database, int segment, std::size_t offset,
                                            std::size_t count) const {
    const Key key{database, segment};
    const auto stored = segments_.find(key);
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = offset + i;
        if (at >= MAX_SEGMENT) {
            bytes[i] = ERASED;
        } else if (stored != segments_.end() && at < stored->second.size()) {
            bytes[i] = stored->second[at];
        } else {
            bytes[i] = Base(key, at);
        }
    }
    return bytes;
}

bool CalDatabase::Write(int database, int segment, std::size_t offset, std::span<const std::uint8_t> data) {
    if (offset >= MAX_SEGMENT) return true;
    data = data.first(std::min(data.size(), MAX_SEGMENT - offset));
    const Key key{database, segment};
    std::vector<std::uint8_t>& bytes = segments_[key];
    // The gap up to the write keeps what it read as before.
    for (std::size_t at = bytes.size(); at < offset + data.size(); ++at) bytes.push_back(Base(key, at));
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<long>(offset));
    if (folder_.empty()) return true;
    return WriteWhole(SegmentFile(database, segment), bytes);
}

std::uint8_t CalDatabase::Setting() const {
    if (setting_) return *setting_;
    return Base({0, SETTING_SEGMENT}, 0);
}

bool CalDatabase::SetSetting(std::uint8_t value) {
    setting_ = value;
    if (folder_.empty()) return true;
    return WriteWhole(SettingFile(), std::span<const std::uint8_t>(&value, 1));
}

void CalDatabase::Wipe() {
    wiped_ = true;
    setting_.reset();
    if (!folder_.empty()) {
        std::error_code ec;
        for (const auto& [key, bytes] : segments_) std::filesystem::remove(SegmentFile(key.first, key.second), ec);
        std::filesystem::remove(SettingFile(), ec);
        std::filesystem::create_directories(folder_, ec);
        WriteWhole(folder_ / ERASED_MARK, {});
    }
    segments_.clear();
}

std::filesystem::path CalDatabase::SegmentFile(int database, int segment) const {
    if (folder_.empty()) return {};
    return folder_ / ("cal-" + std::to_string(database) + "-" + std::to_string(segment) + ".bin");
}

std::filesystem::path CalDatabase::SettingFile() const {
    if (folder_.empty()) return {};
    return folder_ / "cal-setting.bin";
}

}  // namespace zolt::sim
