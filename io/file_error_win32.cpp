#include "io/file_error_win32.h"

#include <windows.h>

namespace zolt {

FileError FileErrorFromWin32(unsigned long errorCode) {
    switch (errorCode) {
    case ERROR_SUCCESS: return FileError::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NO_MORE_FILES: return FileError::NotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_DEV_NOT_EXIST: return FileError::BadPath;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_SHARING_BUFFER_EXCEEDED: return FileError::TooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_BUSY: return FileError::AccessDenied;
    case ERROR_SHARING_VIOLATION: return FileError::SharingViolation;
    case ERROR_LOCK_VIOLATION:
    case ERROR_DRIVE_LOCKED:
    case ERROR_LOCK_FAILED: return FileError::LockViolation;
    case ERROR_NOT_READY:
    case ERROR_CRC:
    case ERROR_BAD_UNIT:
    case ERROR_GEN_FAILURE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_HANDLE_EOF: return FileError::HardIo;
    default: return FileError::Generic;
    }
}

std::string Win32ErrorText(unsigned long errorCode) {
    char text[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         errorCode, 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == ' ')) {
        result.pop_back();
    }
    if (result.empty()) result = "Windows error " + std::to_string(errorCode);
    return result;
}

}  // namespace zolt
