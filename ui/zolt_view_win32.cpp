#include "ui/zolt_view.h"

#include <commctrl.h>

#include "io/texts.h"
#include "job/display_text.h"
#include "job/job_control.h"
#include "res/resource.h"
#include "res/version.h"
#include "ui/form_logic.h"
#include "ui/main_frame.h"
#include "ui/settings_dlg.h"
#include "ui/wide_text.h"
#include "ui/zolt_app.h"

namespace zolt {

namespace {

// Controls of line index 0 to 7.
constexpr int LAMP_IDS[8] = {IDC_LAMP1, IDC_LAMP2, IDC_LAMP3, IDC_LAMP4, IDC_LAMP5, IDC_LAMP6, IDC_LAMP7, IDC_LAMP8};
constexpr int COM_IDS[8] = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_COM5, IDC_COM6, IDC_COM7, IDC_COM8};
constexpr int PROGRESS_IDS[8] = {IDC_PROGRESS1, IDC_PROGRESS2, IDC_PROGRESS3, IDC_PROGRESS4,
                                 IDC_PROGRESS5, IDC_PROGRESS6, IDC_PROGRESS7, IDC_PROGRESS8};
constexpr int STATUS_IDS[8] = {IDC_STATUS1, IDC_STATUS2, IDC_STATUS3, IDC_STATUS4,
                               IDC_STATUS5, IDC_STATUS6, IDC_STATUS7, IDC_STATUS8};
// In the order of ImageLabelTexts.
constexpr int IMAGE_LABEL_IDS[5] = {IDC_BOOT_VERSION, IDC_BOOT_CHKSUM, IDC_CP_VERSION, IDC_CP_CHKSUM,
                                    IDC_MOBILE_NAME};

constexpr COLORREF ELAPSED_COLOUR = RGB(0, 0, 255);
constexpr COLORREF FILE_NAME_COLOUR = RGB(255, 0, 0);
constexpr COLORREF BANNER_COLOUR = RGB(255, 128, 128);
constexpr COLORREF BANNER_OUTLINE = RGB(255, 255, 255);

void SetText(HWND control, const std::wstring& text) { SetWindowTextW(control, text.c_str()); }

// A colour change reaches top-level windows only; the form's controls, the common ones
// included, cache colours, brushes and backgrounds that it makes stale.
void PassColourChange(HWND form, WPARAM wParam, LPARAM lParam) {
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageW(child, WM_SYSCOLORCHANGE, wParam, lParam);
    }
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

}  // namespace

bool CZOLTView::Create(HWND parent) {
    form_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ZOLT_FORM), parent, DialogProc,
                               reinterpret_cast<LPARAM>(this));
    if (!form_) return false;
    OnInitialUpdate();
    ShowWindow(form_, SW_SHOW);
    return true;
}

INT_PTR CALLBACK CZOLTView::DialogProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(form, GWLP_USERDATA, lParam);
        return FALSE;  // the form takes no focus of its own
    }
    if (message == WM_SYSCOLORCHANGE) {
        PassColourChange(form, wParam, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<CZOLTView*>(GetWindowLongPtrW(form, GWLP_USERDATA));
    if (self && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) return self->OnCommand(LOWORD(wParam));
    return FALSE;
}

bool CZOLTView::OnCommand(int id) {
    switch (id) {
        case IDC_SET_CONFIG: OnSetConfig(); return true;
        case IDC_OPEN: OnOpen(); return true;
        case IDC_SETTINGS: OnSettings(); return true;
        case IDC_SCRIPT: OnScript(); return true;
        case IDC_PORT: OnPort(); return true;
        case IDC_DONE: OnDone(); return true;
        case IDC_RESET: OnReset(); return true;
        case IDC_ABOUT: OnAbout(); return true;
        // Enter and Escape in the form must not end it as they would end a dialog.
        case IDOK:
        case IDCANCEL: return true;
        default: return false;
    }
}

void CZOLTView::OnInitialUpdate() {
    if (controlsFilled_) return;
    for (int i = 0; i < 8; ++i) {
        progress_[i].Attach(GetDlgItem(form_, PROGRESS_IDS[i]));
        lamps_[i].Attach(GetDlgItem(form_, LAMP_IDS[i]));
        status_[i] = GetDlgItem(form_, STATUS_IDS[i]);
        com_[i] = GetDlgItem(form_, COM_IDS[i]);
    }
    for (int i = 0; i < 5; ++i) imageLabels_[i] = GetDlgItem(form_, IMAGE_LABEL_IDS[i]);
    elapsed_.Attach(GetDlgItem(form_, IDC_ELAPSED));
    fileName_.Attach(GetDlgItem(form_, IDC_FILE_NAME));
    banner_.Attach(GetDlgItem(form_, IDC_BANNER));
    taskList_ = ListView(GetDlgItem(form_, IDC_TASK_LIST));
    controlsFilled_ = true;

    for (int i = 0; i < 8; ++i) SetLinePanel(i, false, -1, {});
    startTick_ = GetTickCount();

    taskList_.SetGridStyle();
    const TaskColumnWidths widths = TaskListColumnWidths(taskList_.WindowWidth());
    taskList_.AddColumn(L"Task", widths.task);
    for (int n = 1; n <= 8; ++n) taskList_.AddColumn(Widen(LineColumnHeading(n)), widths.line);

    elapsed_.SetTextColour(ELAPSED_COLOUR);
    fileName_.SetTextColour(FILE_NAME_COLOUR);
    banner_.SetTextColour(BANNER_COLOUR);
    banner_.SetOutline(BANNER_OUTLINE, true);
    SetText(banner_.Handle(), Widen(ZOLT_PRODUCT_LINE));
    SetElapsedText(Widen(ElapsedText(0)));
}

// --- What the frame shows ---

void CZOLTView::SetLinePanel(int line, bool attached, int comPort, const std::string&) {
    if (line < 0 || line >= 8) return;
    lamps_[line].SetIcon(attached ? IDI_LAMP_ON : IDI_LAMP_OFF);
    lamps_[line].SetDrawBorder(false, true);
    lamps_[line].SetTransparent(false);
    SetText(status_[line], Widen(attached ? texts::WAITING : texts::NOT_USED));
    SetText(com_[line], Widen(ComLabel(comPort)));
    // Attaching leaves the bar as the last job left it.
    if (!attached) ShowLineProgress(line, 0);
}

void CZOLTView::ResetLinePanel(int line) {
    if (line < 0 || line >= 8) return;
    SetText(status_[line], Widen(texts::WAITING));
    ShowLineProgress(line, 0);
}

void CZOLTView::SetLineStatus(int line, const std::string& text) {
    if (line < 0 || line >= 8) return;
    SetText(status_[line], WidenCore(text));
}

void CZOLTView::ShowLineProgress(int line, int percent) {
    if (line < 0 || line >= 8) return;
    // Unsigned arithmetic keeps the count right across the tick counter's wrap after 49 days.
    const DWORD seconds = (GetTickCount() - startTick_) / 1000;
    SetElapsedText(Widen(ElapsedText(seconds)));
    progress_[line].SetPos(percent);
    SetText(progress_[line].Handle(), Widen(ProgressText(percent)));
}

void CZOLTView::ShowImageInfo(bool valid, const ImageInfo& info) {
    const auto texts = ImageLabelTexts(valid, info);
    for (int i = 0; i < 5; ++i) SetText(imageLabels_[i], WidenCore(texts[i]));
}

void CZOLTView::ShowTaskList(const TaskList& tasks) {
    taskList_.DeleteAllRows();
    for (int i = 0; i < tasks.taskCount; ++i) {
        const int row = taskList_.InsertRow(i, Widen(TaskName(tasks.tasks[i].code)));
        if (row < 0) continue;
        for (int line = 0; line < 8; ++line) taskList_.SetCell(row, line + 1, Widen(TaskStatusName(tasks.LineOutcome(i, line))));
    }
}

void CZOLTView::SetTaskCell(int row, int column, std::uint8_t status) {
    taskList_.SetCell(row, column, Widen(TaskStatusName(status)));
}

void CZOLTView::StartDisplayTimer() { frame_.StartDisplayTimer(); }

void CZOLTView::StopDisplayTimer() { frame_.StopDisplayTimer(); }

// --- Labels ---

void CZOLTView::SetElapsedText(const std::wstring& text) {
    // The label paints no background: hidden and shown again, it makes the form paint the
    // area behind it before the new text is drawn over it.
    ShowWindow(elapsed_.Handle(), SW_HIDE);
    SetText(elapsed_.Handle(), text);
    ShowWindow(elapsed_.Handle(), SW_SHOW);
}

void CZOLTView::SetFileLabel(const std::wstring& text) {
    const HWND label = fileName_.Handle();
    SetText(label, text);
    RECT rect{};
    GetWindowRect(label, &rect);
    MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&rect), 2);
    // The old text is gone only once the form has painted the background behind the label.
    RedrawWindow(form_, &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void CZOLTView::RestartElapsed() {
    startTick_ = GetTickCount();
    SetElapsedText(Widen(ElapsedText(0)));
}

// --- Commands ---

void CZOLTView::OnSetConfig() {
    if (frame_.IsAnyLineRunning()) return;
    if (frame_.ReadConfig()) configSet_ = true;
}

void CZOLTView::OnOpen() {
    if (!configSet_) {
        frame_.prompt().ShowMessage(texts::SET_CONFIG_FIRST, PromptIcon::Error);
        return;
    }
    if (frame_.IsAnyLineRunning()) return;
    const auto path = frame_.ChooseFile({texts::IMAGE_FILTER, texts::IMAGE_DEFAULT_EXTENSION, L"", false});
    if (!path) return;
    const auto corePath = PathForCore(*path);
    if (!corePath) {
        // Nothing was loaded: the last file stays as it was.
        frame_.prompt().ShowMessage(FILE_PATH_UNUSABLE, PromptIcon::Error);
        return;
    }
    const int loaded = frame_.LoadRomImage(*corePath);
    if (loaded == LOAD_OK) {
        SetFileLabel(*path);
        filePath_ = *corePath;
        ShowImageInfo(true, frame_.Job().file.info());
        return;
    }
    if (loaded == LOAD_FORMAT_ERROR) frame_.prompt().ShowMessage(texts::FILE_FORMAT_ERROR, PromptIcon::Error);
    // filePath_ keeps the last file that loaded: Done still works on it.
    SetFileLabel(Widen(texts::NO_FILE_OPENED));
    ShowImageInfo(false, {});
}

void CZOLTView::OnSettings() {
    if (frame_.IsAnyLineRunning()) return;
    CSettingsDlg dialog;
    dialog.updateFlag = frame_.Job().config.updateFlag;
    if (dialog.DoModal(frame_.Handle()) != IDOK) return;
    // Kept for the job's backups, so it must name this folder even after a file dialog has
    // made another one current.
    const auto folder = PathForCore(CurrentFolder());
    if (!folder) {
        frame_.prompt().ShowMessage(FOLDER_PATH_UNUSABLE, PromptIcon::Error);
        return;
    }
    workDir_ = *folder;
    if (frame_.BuildTaskList(dialog.choice, dialog.withCal != 0)) {
        ShowTaskList(frame_.Job().tasks);
    } else {
        frame_.prompt().ShowMessage(texts::UNKNOWN_FUNCTIONS, PromptIcon::Error);
    }
}

void CZOLTView::OnScript() {
    if (frame_.IsAnyLineRunning()) return;
    const auto path = frame_.ChooseFile({texts::SCRIPT_FILTER, texts::IMAGE_DEFAULT_EXTENSION, L"", false});
    if (!path) return;
    const auto corePath = PathForCore(*path);
    if (!corePath) {
        frame_.prompt().ShowMessage(FILE_PATH_UNUSABLE, PromptIcon::Error);
        return;
    }
    if (frame_.LoadPlainFile(*corePath) == LOAD_OK) {
        SetFileLabel(*path);
        filePath_ = *corePath;
        ShowImageInfo(false, {});
        if (frame_.BuildTaskList(CHOICE_SCRIPT, false)) ShowTaskList(frame_.Job().tasks);
        return;
    }
    SetFileLabel(Widen(texts::NO_FILE_OPENED));
    ShowImageInfo(false, {});
}

void CZOLTView::OnPort() {
    if (frame_.IsAnyLineRunning()) return;
    frame_.SelectPorts();
}

void CZOLTView::OnDone() {
    if (frame_.IsAnyLineRunning()) return;
    frame_.StartJob(filePath_, workDir_);
    RestartElapsed();
}

void CZOLTView::OnReset() { frame_.StopJob(); }

void CZOLTView::OnAbout() { CZOLTApp::ShowAbout(frame_.Handle()); }

}  // namespace zolt
