#include "sim/flash_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <system_error>

#include "sim/sim_error.h"

namespace zolt::sim {

FlashStore::FlashStore(std::filesystem::path folder) : folder_(std::move(folder)) {
    if (folder_.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (!std::filesystem::is_directory(folder_)) {
        throw SimError("cannot create the state folder " + folder_.string());
    }
    for (int type = 0; type < AREA_COUNT; ++type) {
        std::ifstream in(File(type), std::ios::binary);
        if (!in) continue;
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() > MAX_AREA) bytes.resize(MAX_AREA);
        areas_[static_cast<std::size_t>(type)] = std::move(bytes);
    }
}

std::filesystem::path FlashStore::File(int type) const {
    if (folder_.empty()) return {};
    return folder_ / ("flash-" + std::to_string(type) + ".bin");
}

const std::vector<std::uint8_t>& FlashStore::Area(int type) const {
    static const std::vector<std::uint8_t> none;
    return IsArea(type) ? areas_[static_cast<std::size_t>(type)] : none;
}

bool FlashStore::Erase(int type) {
    if (!IsArea(type)) return false;
    areas_[static_cast<std::size_t>(type)].clear();
    if (folder_.empty()) return true;
    const int fd = open(File(type).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool FlashStore::Write(int type, std::size_t offset, std::span<const std::uint8_t> data) {
    if (!IsArea(type) || offset > MAX_AREA || data.size() > MAX_AREA - offset) return false;
    std::vector<std::uint8_t>& area = areas_[static_cast<std::size_t>(type)];
    const std::size_t oldSize = area.size();
    if (area.size() < offset + data.size()) area.resize(offset + data.size(), ERASED);
    std::copy(data.begin(), data.end(), area.begin() + static_cast<long>(offset));
    if (folder_.empty()) return true;

    // The file gets the gap's erased bytes too, so that it always equals the area.
    const std::size_t from = std::min(oldSize, offset);
    const int fd = open(File(type).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::uint8_t* bytes = area.data() + from;
    std::size_t left = offset + data.size() - from;
    off_t at = static_cast<off_t>(from);
    bool ok = true;
    while (left > 0) {
        const ssize_t n = pwrite(fd, bytes, left, at);
        if (n <= 0) {
            ok = false;
            break;
        }
        bytes += n;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    close(fd);
    return ok;
}

}  // namespace zolt::sim
