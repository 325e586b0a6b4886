#include "ui/file_dialogs.h"

#include <commdlg.h>

#include <vector>

#include "ui/form_logic.h"
#include "ui/wide_text.h"

namespace zolt {

namespace {

class CommonFileDialogs : public FileDialogs {
public:
    std::optional<std::wstring> ChooseFile(HWND owner, const FileDialogRequest& request) override {
        const std::wstring filter = Widen(DialogFilter(request.filter));
        const std::wstring extension = Widen(request.defaultExtension);
        std::vector<wchar_t> name(32768, L'\0');
        request.initialName.copy(name.data(), name.size() - 1);

        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = name.data();
        ofn.nMaxFile = static_cast<DWORD>(name.size());
        ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
        // No OFN_NOCHANGEDIR: the operator's folder becomes the current directory, which is
        // where the next Settings takes the job's working folder from.
        ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | (request.promptOverwrite ? OFN_OVERWRITEPROMPT : 0);
        if (!GetOpenFileNameW(&ofn)) return std::nullopt;
        return std::wstring(name.data());
    }
};

}  // namespace

std::unique_ptr<FileDialogs> FileDialogs::Standard() { return std::make_unique<CommonFileDialogs>(); }

}  // namespace zolt
