#include "io/input_file.h"

#include <windows.h>

namespace zolt {
namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

FileError FromWin32(DWORD error) {
    switch (error) {
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
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_HANDLE_EOF: return FileError::HardIo;
    default: return FileError::Generic;
    }
}

}  // namespace

FileError InputFile::Open(const std::string& path) {
    Close();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FromWin32(::GetLastError());
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return FileError::Generic;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return FileError::None;
}

FileError InputFile::Length(std::uint64_t& length) const {
    if (handle_ == -1) return FileError::Generic;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Handle(handle_), &size)) return FromWin32(::GetLastError());
    length = size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    return FileError::None;
}

FileError InputFile::ReadAll(std::uint8_t* buffer, std::size_t length) {
    if (handle_ == -1) return FileError::Generic;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(Handle(handle_), start, nullptr, FILE_BEGIN)) {
        return FromWin32(::GetLastError());
    }
    std::size_t done = 0;
    while (done < length) {
        const std::size_t rest = length - done;
        const DWORD want = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD got = 0;
        if (!::ReadFile(Handle(handle_), buffer + done, want, &got, nullptr)) {
            return FromWin32(::GetLastError());
        }
        if (got == 0) return FileError::HardIo;
        done += got;
    }
    return FileError::None;
}

void InputFile::Close() {
    if (handle_ != -1) ::CloseHandle(Handle(handle_));
    handle_ = -1;
}

}  // namespace zolt
