// The file choosers of the form and the frame, behind an interface so that tests can answer
// them without a dialog.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace zolt {

struct FileDialogRequest {
    std::string filter;            // "name|pattern|...||"
    std::string defaultExtension;  // added to a name typed without one
    std::wstring initialName;      // empty for none
    bool promptOverwrite = false;
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen file's full path, or nothing when the operator cancelled.
    virtual std::optional<std::wstring> ChooseFile(HWND owner, const FileDialogRequest& request) = 0;

    // The common Open dialog, read-only box hidden.
    static std::unique_ptr<FileDialogs> Standard();
};

}  // namespace zolt
