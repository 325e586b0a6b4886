#include "io/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zolt {

FileError AtomicFile::Hold() {
    // The lock is the one OutputFile takes: another ZOLT writing the same file, or a tool that
    // locks what it reads, keeps the file as it is. O_NONBLOCK: a FIFO must not hold us.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return FileError::None;
        errorText_ = std::generic_category().message(error);
        return FileErrorFromErrno(error);
    }
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
        error = EINVAL;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errorText_ = std::generic_category().message(error);
        if (error == EWOULDBLOCK) return FileError::SharingViolation;
        return error == EINVAL ? FileError::Generic : FileErrorFromErrno(error);
    }
    hold_ = fd;
    return FileError::None;
}

void AtomicFile::Release() {
    if (hold_ < 0) return;
    ::close(static_cast<int>(hold_));
    hold_ = -1;
}

FileError AtomicFile::Replace() {
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        errorText_ = std::generic_category().message(error);
        return FileErrorFromErrno(error);
    }
    // The rename itself lives in the folder: until the folder is on the disk, a power cut can
    // bring back the old name, or neither.
    std::string folder = std::filesystem::path(path_).parent_path().string();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
    return FileError::None;
}

}  // namespace zolt
