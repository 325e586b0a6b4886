#include "io/atomic_file.h"

#include "io/file_system.h"

#include <random>

namespace zolt {

FileError AtomicFile::Begin(const std::string& path) {
    Abandon();
    errorText_.clear();
    path_ = path;
    if (const FileError error = Hold(); error != FileError::None) return error;
    // Two writers of one file (two programs, or a stopped line restarted at once) each get a
    // name of their own; a name that exists all the same is tried again, never emptied.
    std::random_device random;
    FileError error = FileError::Generic;
    for (int attempt = 0; attempt < 4 && error != FileError::None; ++attempt) {
        tempPath_ = path + "." + std::to_string(random() % 1000000000u) + ".tmp";
        error = temp_.CreateNew(tempPath_);
    }
    if (error != FileError::None) {
        errorText_ = temp_.ErrorText();
        tempPath_.clear();
        Release();
    }
    return error;
}

FileError AtomicFile::Write(std::string_view bytes) {
    const FileError error = temp_.Write(bytes);
    if (error != FileError::None) errorText_ = temp_.ErrorText();
    return error;
}

FileError AtomicFile::Commit() {
    if (tempPath_.empty()) return FileError::Generic;
    FileError error = temp_.Flush();
    if (error == FileError::None) error = temp_.Close();
    if (error != FileError::None) errorText_ = temp_.ErrorText();
    if (error == FileError::None) error = Replace();
    if (error != FileError::None) {
        Abandon();
        return error;
    }
    tempPath_.clear();
    Release();
    return FileError::None;
}

void AtomicFile::Abandon() {
    (void)temp_.Close();
    if (!tempPath_.empty()) {
        RemoveFileQuietly(tempPath_);
        tempPath_.clear();
    }
    Release();
}

}  // namespace zolt
