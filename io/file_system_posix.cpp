#include "io/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zolt {

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolders(const std::string& path, std::string& reason) {
    // Each folder from the top down. A part that cannot be made (one that exists, one we may
    // not write in) is passed over: only whether the whole is a folder in the end counts.
    int lastError = ENOENT;
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0) lastError = errno;
        if (at == std::string::npos) break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = ::stat(path.c_str(), &info) != 0 ? std::strerror(lastError) : "not a folder";
        return false;
    }
    return true;
}

void RemoveFileQuietly(const std::string& path) { (void)::unlink(path.c_str()); }

}  // namespace zolt
