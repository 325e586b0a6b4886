// A local file opened for reading, through the platform's own calls so that a failure can
// be told apart as precisely as the platform reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/file_error.h"

namespace zolt {

class InputFile {
public:
    InputFile() = default;
    ~InputFile() { Close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens `path` for reading; others may read it meanwhile. A directory gives AccessDenied;
    // anything else that is not a regular file (a device, a pipe) gives Generic, so nothing
    // can block the caller.
    [[nodiscard]] FileError Open(const std::string& path);
    // The length of the open file in bytes.
    [[nodiscard]] FileError Length(std::uint64_t& length) const;
    // Reads exactly `length` bytes from the start of the file into `buffer`. A file that
    // ends early (it shrank since Length) gives HardIo.
    [[nodiscard]] FileError ReadAll(std::uint8_t* buffer, std::size_t length);
    void Close();

private:
    std::intptr_t handle_ = -1;  // a file descriptor or a Win32 handle
};

}  // namespace zolt
