#include "io/input_file.h"

#include <windows.h>

#include "io/file_error_win32.h"

namespace zolt {
namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

FileError InputFile::Open(const std::string& path) {
    Close();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileErrorFromWin32(::GetLastError());
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
    if (!::GetFileSizeEx(Handle(handle_), &size)) return FileErrorFromWin32(::GetLastError());
    length = size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    return FileError::None;
}

FileError InputFile::ReadAll(std::uint8_t* buffer, std::size_t length) {
    if (handle_ == -1) return FileError::Generic;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(Handle(handle_), start, nullptr, FILE_BEGIN)) {
        return FileErrorFromWin32(::GetLastError());
    }
    std::size_t done = 0;
    while (done < length) {
        const std::size_t rest = length - done;
        const DWORD want = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD got = 0;
        if (!::ReadFile(Handle(handle_), buffer + done, want, &got, nullptr)) {
            return FileErrorFromWin32(::GetLastError());
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
