// A file that is replaced whole or not at all. The new content goes to a temporary file beside
// the one it replaces, which takes the file's place only once all of it is on the disk: after a
// stop, a failed write, a crash or a power cut the file holds either all of its old content or
// all of its new content, never a part.
//
// The temporary file is `path` with ".<digits>.tmp" behind it, so that it never ends in the
// file's own extension and is never taken for the file itself. It is removed when the new
// content is abandoned; only a killed process or a power cut can leave one behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/file_error.h"
#include "io/output_file.h"

namespace zolt {

class AtomicFile {
public:
    AtomicFile() = default;
    // Abandons what was not committed.
    ~AtomicFile() { Abandon(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Starts new content for `path` and holds `path` against other writers until Commit or
    // Abandon:
    // - an existing `path` that another program holds (Windows: has open; POSIX: has locked
    //   with flock) gives SharingViolation; anything but a regular file gives AccessDenied (a
    //   directory) or Generic;
    // - the temporary file is created with OutputFile::CreateNew (errors as OutputFile::Create).
    // Nothing of an existing `path` is changed.
    [[nodiscard]] FileError Begin(const std::string& path);

    // Writes `bytes` behind what was written before, to the temporary file.
    [[nodiscard]] FileError Write(std::string_view bytes);

    // Puts the temporary file on the disk, renames it over `path` and puts that rename on the
    // disk too (POSIX: fsync of the file and of its folder; Windows: FlushFileBuffers and
    // MoveFileEx with MOVEFILE_WRITE_THROUGH). On failure the temporary file is removed and
    // `path` is as it was. Afterwards nothing is held.
    [[nodiscard]] FileError Commit();

    // Removes the temporary file and lets go of `path`, which stays as it was. Does nothing
    // when nothing was begun.
    void Abandon();

    // The temporary file's path while new content is open; empty otherwise.
    [[nodiscard]] const std::string& TempPath() const { return tempPath_; }

    // The platform's own description of the last failure.
    [[nodiscard]] const std::string& ErrorText() const { return errorText_; }

private:
    // The platform's parts (atomic_file_posix.cpp, atomic_file_win32.cpp).
    FileError Hold();
    void Release();
    FileError Replace();

    OutputFile temp_;
    std::intptr_t hold_ = -1;  // `path` opened against other writers, when it exists
    std::string path_;
    std::string tempPath_;
    std::string errorText_;
};

}  // namespace zolt
