#include "io/atomic_file.h"

#include <windows.h>

#include "io/file_error_win32.h"

namespace zolt {

FileError AtomicFile::Hold() {
    // Shares nothing but deletion: a program that has the file open keeps it as it is, and
    // none opens it while the new content is written.
    HANDLE file = ::CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return FileError::None;
        errorText_ = Win32ErrorText(error);
        return FileErrorFromWin32(error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool isFolder = ::GetFileInformationByHandle(file, &info) &&
                          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder || ::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        errorText_ = Win32ErrorText(isFolder ? ERROR_ACCESS_DENIED : ERROR_INVALID_FUNCTION);
        return isFolder ? FileError::AccessDenied : FileError::Generic;
    }
    hold_ = reinterpret_cast<std::intptr_t>(file);
    return FileError::None;
}

void AtomicFile::Release() {
    if (hold_ == -1) return;
    ::CloseHandle(reinterpret_cast<HANDLE>(hold_));
    hold_ = -1;
}

FileError AtomicFile::Replace() {
    // A file that is open, even by us, cannot be replaced: the hold ends just before.
    Release();
    if (::MoveFileExA(tempPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return FileError::None;
    }
    const DWORD error = ::GetLastError();
    errorText_ = Win32ErrorText(error);
    return FileErrorFromWin32(error);
}

}  // namespace zolt
