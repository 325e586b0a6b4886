// Why a local file could not be opened, read or written, and the text the operator is shown
// for it (the file name in place of %1).
#pragma once

#include <string>
#include <string_view>

namespace zolt {

enum class FileError {
    None,
    NotFound,          // "%1 was not found."
    BadPath,           // "%1 contains an invalid path."
    TooManyOpenFiles,  // "%1 could not be opened because there are too many open files."
    AccessDenied,      // "Access to %1 was denied." (also a directory opened as a file)
    SharingViolation,  // "A sharing violation occurred while accessing %1."
    LockViolation,     // "A locking violation occurred while accessing %1."
    HardIo,            // "A hardware I/O error was reported while accessing %1."
    Generic,           // "An unknown error occurred while accessing %1."
};

// The operator's text for `error` with `fileName` in place of %1; empty for None.
[[nodiscard]] std::string FileErrorText(FileError error, std::string_view fileName);

// The error for an errno value of the C library (fopen, open, read, write...).
[[nodiscard]] FileError FileErrorFromErrno(int errorNumber);

}  // namespace zolt
