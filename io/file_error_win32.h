// The Win32 side of job/file_error.h, for the platform files of the local-file layer only.
#pragma once

#include <string>

#include "io/file_error.h"

namespace zolt {

// The error for a Win32 error code (GetLastError).
[[nodiscard]] FileError FileErrorFromWin32(unsigned long errorCode);

// The system's own description of a Win32 error code, without the line break it ends in.
[[nodiscard]] std::string Win32ErrorText(unsigned long errorCode);

}  // namespace zolt
