#include "ui/zolt_app.h"

#include <commctrl.h>

#include "res/resource.h"

namespace zolt {

namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool CZOLTApp::InitInstance(int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    frame_ = std::make_unique<CMainFrame>();
    if (!frame_->Create()) return false;
    ShowWindow(frame_->Handle(), showCommand);
    UpdateWindow(frame_->Handle());
    return true;
}

int CZOLTApp::Run() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, arrows and mnemonics among the form's buttons.
        if (frame_ && frame_->View().Handle() && IsDialogMessageW(frame_->View().Handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    frame_.reset();
    return static_cast<int>(message.wParam);
}

void CZOLTApp::ShowAbout(HWND owner) {
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace zolt
