#include "io/paths.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace zolt {
namespace {

constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

bool IsSeparator(char c) { return c == kSeparator || c == '/'; }

}  // namespace

std::string CurrentDirectory() {
    try {
        std::error_code ec;
        const std::filesystem::path cwd = std::filesystem::current_path(ec);
        if (ec) return {};
        return cwd.string();
    } catch (const std::exception&) {
        // A directory name the narrow character set cannot express.
        return {};
    }
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.empty() && !IsSeparator(path.back())) path += kSeparator;
    path.append(name);
    return path;
}

}  // namespace zolt
