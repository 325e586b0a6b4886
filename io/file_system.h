// The few things the core asks of the file system beyond reading and writing a file, for paths
// as the core spells them (the platform's narrow encoding: UTF-8 here, the ANSI code page on
// Windows, where std::filesystem would read a narrow path as UTF-8).
#pragma once

#include <string>

namespace zolt {

// Whether anything (a file, a folder) has this name.
[[nodiscard]] bool PathExists(const std::string& path);

// Whether `path` is a folder (following links).
[[nodiscard]] bool IsFolder(const std::string& path);

// Makes the folder and any missing folders above it. Returns false, with the system's reason
// in `reason`, when it is not a folder afterwards.
[[nodiscard]] bool MakeFolders(const std::string& path, std::string& reason);

// Removes a file, if there is one; failures are not reported (it is a clean-up).
void RemoveFileQuietly(const std::string& path);

}  // namespace zolt
