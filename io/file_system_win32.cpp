#include "io/file_system.h"

#include <windows.h>

#include "io/file_error_win32.h"

namespace zolt {

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& path, std::string& reason) {
    // Each folder from the top down. A part that cannot be made (a drive, a share, one that
    // exists) is passed over: only whether the whole is a folder in the end counts.
    DWORD lastError = ERROR_PATH_NOT_FOUND;
    for (std::size_t at = path.find_first_of("\\/", 1);; at = path.find_first_of("\\/", at + 1)) {
        const std::string part = path.substr(0, at);
        if (!part.empty() && !CreateDirectoryA(part.c_str(), nullptr)) lastError = GetLastError();
        if (at == std::string::npos) break;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = attributes == INVALID_FILE_ATTRIBUTES ? Win32ErrorText(lastError) : "not a folder";
        return false;
    }
    return true;
}

void RemoveFileQuietly(const std::string& path) { (void)DeleteFileA(path.c_str()); }

}  // namespace zolt
