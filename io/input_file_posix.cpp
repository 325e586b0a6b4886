#include "io/input_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zolt {
namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

FileError InputFile::Open(const std::string& path) {
    Close();
    // Non-blocking so that a FIFO cannot hold the opener until a writer appears; the type
    // check below refuses it anyway.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return FileErrorFromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        FileError error = FileErrorFromErrno(errno);
        ::close(fd);
        return error;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        // Windows refuses to open a directory as a file with "access denied".
        return S_ISDIR(st.st_mode) ? FileError::AccessDenied : FileError::Generic;
    }
    handle_ = fd;
    return FileError::None;
}

FileError InputFile::Length(std::uint64_t& length) const {
    struct stat st {};
    if (handle_ < 0) return FileError::Generic;
    if (::fstat(Fd(handle_), &st) != 0) return FileErrorFromErrno(errno);
    length = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return FileError::None;
}

FileError InputFile::ReadAll(std::uint8_t* buffer, std::size_t length) {
    if (handle_ < 0) return FileError::Generic;
    if (::lseek(Fd(handle_), 0, SEEK_SET) != 0) return FileErrorFromErrno(errno);
    // One request from the caller's view; the kernel hands out large files in pieces.
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(Fd(handle_), buffer + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FileErrorFromErrno(errno);
        }
        if (n == 0) return FileError::HardIo;
        done += static_cast<std::size_t>(n);
    }
    return FileError::None;
}

void InputFile::Close() {
    if (handle_ >= 0) ::close(Fd(handle_));
    handle_ = -1;
}

}  // namespace zolt
