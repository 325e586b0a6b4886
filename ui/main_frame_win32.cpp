#include "ui/main_frame.h"

#include <utility>

#include "io/paths.h"
#include "job/config_file.h"
#include "ui/form_logic.h"
#include "ui/port_select_dlg.h"
#include "ui/wide_text.h"

namespace zolt {

namespace {

constexpr const wchar_t* FRAME_CLASS = L"ZOLTMainFrame";
constexpr DWORD FRAME_STYLE = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD FRAME_EX_STYLE = WS_EX_CONTROLPARENT;

bool RegisterFrameClass(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXW cls{};
    if (GetClassInfoExW(instance, FRAME_CLASS, &cls)) return true;
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = proc;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = FRAME_CLASS;
    return RegisterClassExW(&cls) != 0;
}

// The core would ask the system for the current folder itself and get it in UTF-8, which
// its A calls read as another name.
std::string StartFolder(const std::string& given) {
    if (!given.empty()) return given;
    if (auto folder = PathForCore(CurrentFolder())) return *folder;
    // Nothing has moved the current directory yet, so "." still names it, and the files
    // of the start are read at once.
    return ".";
}

// "*.ini" in "ZOLT_CONFIG" below the current folder, as the operator reads it.
std::wstring ConfigChooserStart() {
    std::wstring name = CurrentFolder();
    if (!name.empty() && name.back() != L'\\') name += L'\\';
    return name + Widen(CONFIG_FOLDER_NAME) + L"\\*.ini";
}

}  // namespace

std::unique_ptr<HistoryStore> OpenFolderHistory(const std::string& folder,
                                                std::function<void(const std::string&)> notice) {
    return OpenHistoryForWriting("", folder, std::move(notice));
}

CMainFrame::CMainFrame(FrameServices services)
    : services_(std::move(services)),
      prompt_(services_.prompt ? services_.prompt : &windowPrompt_),
      standardDialogs_(services_.fileDialogs ? nullptr : FileDialogs::Standard()),
      fileDialogs_(services_.fileDialogs ? services_.fileDialogs : standardDialogs_.get()) {
    job_ = std::make_unique<JobControl>(view_, *prompt_, EventSink(), std::move(services_.prober),
                                        std::move(services_.runners), StartFolder(services_.folder));
    OpenHistory();
}

CMainFrame::~CMainFrame() {
    // The workers go first: nothing may post to a window that is going away. The recorder
    // then writes what the job recorded last, a stop's records included.
    job_.reset();
    recorder_.reset();
    if (const HWND window = Handle()) DestroyWindow(window);
}

bool CMainFrame::Create() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterFrameClass(instance, WindowProc)) return false;
    const HWND window = CreateWindowExW(FRAME_EX_STYLE, FRAME_CLASS, L"ZOLT", FRAME_STYLE, CW_USEDEFAULT,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    if (!window) return false;
    windowPrompt_.SetOwner(window);
    if (!view_.Create(window)) {
        DestroyWindow(window);
        return false;
    }
    FitToForm();
    // Notices that came while there was no window to post to.
    PostMessageW(window, WM_HISTORY_NOTICE, 0, 0);
    return true;
}

void CMainFrame::OpenHistory() {
    if (!services_.openHistory) return;
    const std::string folder = StartFolder(services_.folder);
    auto notice = [this](const std::string& text) { PostHistoryNotice(text); };
    try {
        auto store = services_.openHistory(folder, notice);
        if (!store) return;
        recorder_ = std::make_unique<HistoryRecorder>(std::move(store), DefaultStationName(), notice);
        job_->SetRecorder(recorder_.get());
    } catch (const std::exception& error) {
        // A job never waits for its history: it runs without one.
        prompt_->ShowMessage("The history " + JoinPath(folder, HISTORY_FILE_NAME) + " cannot be written: " + error.what(),
                             PromptIcon::Error);
    }
}

void CMainFrame::PostHistoryNotice(const std::string& text) {
    {
        const std::lock_guard lock(noticesMutex_);
        notices_.push_back(text);
    }
    // Without a window yet, Create posts for it; without one any more, nobody is left to tell.
    if (const HWND window = Handle()) PostMessageW(window, WM_HISTORY_NOTICE, 0, 0);
}

void CMainFrame::ShowHistoryNotices() {
    // A box's own message loop dispatches later notices here: they wait for this box to close
    // rather than stack boxes on top of it.
    if (showingNotice_) return;
    showingNotice_ = true;
    for (;;) {
        std::string text;
        {
            const std::lock_guard lock(noticesMutex_);
            if (notices_.empty()) break;
            text = std::move(notices_.front());
            notices_.pop_front();
        }
        prompt_->ShowMessage(text, PromptIcon::Information);
    }
    showingNotice_ = false;
}

void CMainFrame::FitToForm() {
    RECT form{};
    GetWindowRect(view_.Handle(), &form);
    RECT frame{0, 0, form.right - form.left, form.bottom - form.top};
    AdjustWindowRectEx(&frame, FRAME_STYLE, FALSE, FRAME_EX_STYLE);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    SetWindowPos(Handle(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(view_.Handle(), nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<CMainFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_.store(window);
    }
    auto* self = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (job_) job_->OnTimer();
            return 0;
        case WM_PORT_TASK_DONE:
        case WM_PORT_FAILED:
        case WM_PORT_ALL_DONE:
            OnLineEvent(message, wParam, lParam);
            return 0;
        case WM_HISTORY_NOTICE:
            ShowHistoryNotices();
            return 0;
        case WM_SYSCOLORCHANGE:
            // Only top-level windows hear of a colour change; the form passes it on.
            if (view_.Handle()) SendMessageW(view_.Handle(), message, wParam, lParam);
            return 0;
        case WM_SETFOCUS:
            if (view_.Handle()) SetFocus(view_.Handle());
            return 0;
        case WM_CLOSE:
            // The lines die with the frame: their workers are stopped before that.
            if (job_ && job_->IsAnyLineRunning()) job_->StopJob();
            DestroyWindow(Handle());
            return 0;
        case WM_DESTROY:
            StopDisplayTimer();
            if (services_.quitOnDestroy) PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            const HWND window = Handle();
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            hwnd_.store(nullptr);
            return DefWindowProcW(window, message, wParam, lParam);
        }
        default:
            return DefWindowProcW(Handle(), message, wParam, lParam);
    }
}

void CMainFrame::OnLineEvent(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!job_ || lParam < 1 || lParam > LINE_COUNT) return;
    const auto index = static_cast<std::size_t>(lParam - 1);
    if (++handled_[index] <= staleThrough_[index]) return;
    job_->OnLineEvent(message, wParam, lParam);
}

void CMainFrame::PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    // A window that goes after this read only makes the post fail.
    const HWND window = Handle();
    if (!window || lParam < 1 || lParam > LINE_COUNT) return;
    auto& posted = posted_[static_cast<std::size_t>(lParam - 1)];
    posted.fetch_add(1);
    if (!PostMessageW(window, message, wParam, lParam)) posted.fetch_sub(1);
}

void CMainFrame::DiscardPending(std::intptr_t lineNumber) {
    if (lineNumber < 1 || lineNumber > LINE_COUNT) return;
    const auto index = static_cast<std::size_t>(lineNumber - 1);
    staleThrough_[index] = posted_[index].load();
}

void CMainFrame::SelectPorts() {
    job_->SelectPorts([this](const std::vector<PortEntry>& rows) -> std::optional<std::vector<int>> {
        CPortSelectDlg dialog;
        dialog.ports = &rows;
        if (dialog.DoModal(Handle()) != IDOK) return std::nullopt;
        return ChosenRows(dialog.selected, rows.size());
    });
    LabelPorts();
}

void CMainFrame::LabelPorts() {
    for (int i = 0; i < LINE_COUNT; ++i) {
        const PortSession& line = job_->lines[static_cast<std::size_t>(i)];
        if (!line.IsAttached()) continue;
        job_->SetPortLabel(i, line.portNumber > 0 ? "COM" + std::to_string(line.portNumber) : line.portName);
    }
}

int CMainFrame::BuildTaskList(int choice, bool withCal) { return job_->BuildTaskList(choice, withCal); }

bool CMainFrame::ReadConfig() {
    FileDialogRequest request{std::string(CONFIG_CHOOSER_FILTER), std::string(CONFIG_CHOOSER_EXTENSION),
                              ConfigChooserStart(), true};
    const auto chosen = ChooseFile(request);
    std::optional<std::string> path;
    if (chosen) {
        path = PathForCore(*chosen);
        if (!path) {
            prompt_->ShowMessage(FILE_PATH_UNUSABLE, PromptIcon::Error);
            return false;
        }
    } else {
        // ZOLT.ini of the current folder, read at once: "." still names that folder.
        path = JoinPath(PathForCore(CurrentFolder()).value_or("."), CONFIG_FILE_NAME);
    }
    (void)zolt::ReadConfig(job_->config, path);
    return true;
}

std::optional<std::wstring> CMainFrame::ChooseFile(const FileDialogRequest& request) {
    return fileDialogs_->ChooseFile(Handle(), request);
}

void CMainFrame::StartDisplayTimer() {
    if (timerRunning_ || !Handle()) return;
    timerRunning_ = SetTimer(Handle(), DISPLAY_TIMER_ID, DISPLAY_TIMER_PERIOD_MS, nullptr) != 0;
}

void CMainFrame::StopDisplayTimer() {
    if (!timerRunning_) return;
    KillTimer(Handle(), DISPLAY_TIMER_ID);
    timerRunning_ = false;
}

}  // namespace zolt
