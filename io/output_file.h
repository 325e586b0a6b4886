// A local file created afresh for writing and held exclusively until it is closed, through the
// platform's own calls (the counterpart of InputFile). The calibration backup writes its file
// through it, so that no other program opens a calibration file while it is half written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/file_error.h"

namespace zolt {

class OutputFile {
public:
    OutputFile() = default;
    // Closes the file; what was written stays.
    ~OutputFile() { (void)Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates `path`, or empties it when it exists, and holds it until Close:
    // - Windows: opened with no sharing at all, so no other program can open the file
    //   meanwhile; a file another program has open gives SharingViolation and stays as it is.
    // - POSIX: an exclusive lock (flock) is taken before the file is emptied; a file that
    //   another program has locked gives SharingViolation and stays as it is. The lock keeps
    //   out only programs that ask for one themselves (see output_file_posix.cpp).
    // Anything but a regular file is refused: a directory gives AccessDenied, a device or a
    // pipe Generic.
    [[nodiscard]] FileError Create(const std::string& path);

    // Creates `path`, which must not exist yet (a file of that name gives Generic and stays as
    // it is), and holds it as Create does: for a temporary name that no other writer shares.
    [[nodiscard]] FileError CreateNew(const std::string& path);

    // Writes all of `bytes` behind what was written before, straight to the system (there is
    // no buffer here), so that a full disk shows at the write that did not fit.
    [[nodiscard]] FileError Write(std::string_view bytes);

    // Waits until everything written is on the disk itself, not only in the system's cache
    // (fsync, FlushFileBuffers), so that a power cut after it loses none of it.
    [[nodiscard]] FileError Flush();

    // Closes the file and lets others at it. Fails when the system reports that what was
    // written could not be stored. Closing a file that is not open does nothing.
    [[nodiscard]] FileError Close();

    // The platform's own description of the last failure of Create, Write or Close, for the
    // status line ("No space left on device", "There is not enough space on the disk.").
    [[nodiscard]] const std::string& ErrorText() const { return errorText_; }

private:
    std::intptr_t handle_ = -1;  // a file descriptor or a Win32 handle
    std::string errorText_;
};

}  // namespace zolt
