#include "io/file_error.h"

#include <cerrno>

namespace zolt {

std::string FileErrorText(FileError error, std::string_view fileName) {
    std::string_view before;
    std::string_view after;
    switch (error) {
    case FileError::None: return {};
    case FileError::NotFound: after = " was not found."; break;
    case FileError::BadPath: after = " contains an invalid path."; break;
    case FileError::TooManyOpenFiles:
        after = " could not be opened because there are too many open files.";
        break;
    case FileError::AccessDenied: before = "Access to "; after = " was denied."; break;
    case FileError::SharingViolation: before = "A sharing violation occurred while accessing "; break;
    case FileError::LockViolation: before = "A locking violation occurred while accessing "; break;
    case FileError::HardIo: before = "A hardware I/O error was reported while accessing "; break;
    case FileError::Generic: before = "An unknown error occurred while accessing "; break;
    }
    if (after.empty()) after = ".";
    std::string text(before);
    text.append(fileName);
    text.append(after);
    return text;
}

FileError FileErrorFromErrno(int errorNumber) {
    switch (errorNumber) {
    case 0: return FileError::None;
    case ENOENT: return FileError::NotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case ENXIO:
    case ENODEV: return FileError::BadPath;
    case EMFILE:
    case ENFILE: return FileError::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return FileError::AccessDenied;
    case EBUSY:
    case ETXTBSY: return FileError::SharingViolation;
    case ENOLCK:
    case EDEADLK: return FileError::LockViolation;
    case EIO: return FileError::HardIo;
    default: return FileError::Generic;
    }
}

}  // namespace zolt
