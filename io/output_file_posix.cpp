#include "io/output_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zolt {
namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

FileError OutputFile::Create(const std::string& path) {
    (void)Close();
    errorText_.clear();
    const auto fail = [this](int fd, int error, FileError result) {
        if (fd >= 0) ::close(fd);
        errorText_ = std::generic_category().message(error);
        return result;
    };
    // Not O_TRUNC: a file that another program holds must stay as it is, so it is emptied only
    // once the lock is ours. O_NONBLOCK: a FIFO without a reader must not hold the caller; the
    // type check refuses it anyway.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return fail(-1, errno, FileErrorFromErrno(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(fd, errno, FileErrorFromErrno(errno));
    if (!S_ISREG(st.st_mode)) return fail(fd, EINVAL, FileError::Generic);
    // POSIX has no share modes: flock is advisory and keeps out only programs that take a lock
    // of their own (another ZOLT writing the same line's file, tools that lock what they
    // read), not one that simply opens the file. It is the most the platform offers.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return fail(fd, error, error == EWOULDBLOCK ? FileError::SharingViolation
                                                    : FileErrorFromErrno(error));
    }
    if (::ftruncate(fd, 0) != 0) return fail(fd, errno, FileErrorFromErrno(errno));
    handle_ = fd;
    return FileError::None;
}

FileError OutputFile::CreateNew(const std::string& path) {
    (void)Close();
    errorText_.clear();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        errorText_ = std::generic_category().message(error);
        return error == EEXIST ? FileError::Generic : FileErrorFromErrno(error);
    }
    handle_ = fd;
    return FileError::None;
}

FileError OutputFile::Flush() {
    if (handle_ < 0) return FileError::Generic;
    if (::fsync(Fd(handle_)) == 0) return FileError::None;
    const int error = errno;
    errorText_ = std::generic_category().message(error);
    return FileErrorFromErrno(error);
}

FileError OutputFile::Write(std::string_view bytes) {
    if (handle_ < 0) return FileError::Generic;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(Fd(handle_), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A regular file takes at least one byte or says why not; 0 is no progress.
            const int error = n < 0 ? errno : EIO;
            errorText_ = std::generic_category().message(error);
            return FileErrorFromErrno(error);
        }
        done += static_cast<std::size_t>(n);
    }
    return FileError::None;
}

FileError OutputFile::Close() {
    if (handle_ < 0) return FileError::None;
    // close releases the lock too, even when it reports an error.
    const int closed = ::close(Fd(handle_));
    const int error = errno;
    handle_ = -1;
    if (closed == 0) return FileError::None;
    errorText_ = std::generic_category().message(error);
    return FileErrorFromErrno(error);
}

}  // namespace zolt
