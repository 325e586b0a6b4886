#include "io/output_file.h"

#include <windows.h>

#include "io/file_error_win32.h"

namespace zolt {
namespace {

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Share mode 0: nobody else may open the file until it is closed. CREATE_ALWAYS empties an
// existing file only once it is ours: a file that another program has open is refused with a
// sharing violation before anything is changed.
FileError OpenForWriting(const std::string& path, DWORD disposition, std::intptr_t& handle, std::string& errorText) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        errorText = Win32ErrorText(error);
        return error == ERROR_FILE_EXISTS ? FileError::Generic : FileErrorFromWin32(error);
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        errorText = Win32ErrorText(ERROR_INVALID_FUNCTION);
        return FileError::Generic;
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    return FileError::None;
}

}  // namespace

FileError OutputFile::Create(const std::string& path) {
    (void)Close();
    errorText_.clear();
    return OpenForWriting(path, CREATE_ALWAYS, handle_, errorText_);
}

FileError OutputFile::CreateNew(const std::string& path) {
    (void)Close();
    errorText_.clear();
    return OpenForWriting(path, CREATE_NEW, handle_, errorText_);
}

FileError OutputFile::Flush() {
    if (handle_ == -1) return FileError::Generic;
    if (::FlushFileBuffers(Handle(handle_))) return FileError::None;
    const DWORD error = ::GetLastError();
    errorText_ = Win32ErrorText(error);
    return FileErrorFromWin32(error);
}

FileError OutputFile::Write(std::string_view bytes) {
    if (handle_ == -1) return FileError::Generic;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t rest = bytes.size() - done;
        const DWORD want = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD written = 0;
        const BOOL ok = ::WriteFile(Handle(handle_), bytes.data() + done, want, &written, nullptr);
        if (!ok || written == 0) {
            // A disk file takes at least one byte or says why not; 0 is no progress.
            const DWORD error = ok ? static_cast<DWORD>(ERROR_WRITE_FAULT) : ::GetLastError();
            errorText_ = Win32ErrorText(error);
            return FileErrorFromWin32(error);
        }
        done += written;
    }
    return FileError::None;
}

FileError OutputFile::Close() {
    if (handle_ == -1) return FileError::None;
    const BOOL closed = ::CloseHandle(Handle(handle_));
    const DWORD error = ::GetLastError();
    handle_ = -1;
    if (closed) return FileError::None;
    errorText_ = Win32ErrorText(error);
    return FileErrorFromWin32(error);
}

}  // namespace zolt
