// Drives a running ZOLT.exe from another process as an operator would: presses its buttons,
// answers its dialogs (the file dialog with a typed path), reads its task grid and labels.
//
//   zolt_window_driver job --image PATH --ports 5,6 [--limit SECONDS] [--cal]
//   zolt_window_driver reset --ports 5,6
//   zolt_window_driver quit
//
// job: attaches the listed COM ports, cancels Set config's dialog (so that ZOLT.ini of the
// working folder is read), opens the image (PATH as typed into the file dialog, so a bare
// name is one in the working folder), confirms Settings as offered (with the calibration
// backup and restore ticked for --cal), presses Done and waits until every cell of the task
// grid says "Done". It prints the file name label, which shows the opened path.
// reset: starts the job again, presses Reset in the middle, checks that every line shows
// "Waiting ..." within a second and stays attached; then starts it once more and closes the
// window in the middle: the program must end. quit: closes the window; the program must end.
// show DIALOG: presses Port or Settings (DIALOG "port" or "settings") and leaves the dialog
// open; close: cancels the open dialog; rect: prints the main window's place on the screen
// as WxH+X+Y. For screenshots.
// Exits 0 when all of it held; says what did not on stderr otherwise.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "resource.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "window driver: %s\n", what.c_str());
    std::exit(1);
}

// Texts for the log, which is read on the Linux side.
std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::string out(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    return out;
}

// Memory in the program's process, for the list-view messages whose arguments are pointers.
class Remote {
public:
    explicit Remote(DWORD pid) {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (!process_) Fail("cannot open the program's process");
        base_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, SIZE, MEM_COMMIT, PAGE_READWRITE));
        if (!base_) Fail("cannot allocate memory in the program's process");
    }
    ~Remote() {
        VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    Remote(const Remote&) = delete;
    Remote& operator=(const Remote&) = delete;

    std::wstring Cell(HWND list, int row, int column) {
        LVITEMW item{};
        item.iSubItem = column;
        item.cchTextMax = TEXT_CHARS;
        item.pszText = reinterpret_cast<wchar_t*>(base_ + sizeof item);
        Write(item);
        const auto n = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(base_));
        std::wstring text(static_cast<std::size_t>(n), L'\0');
        if (n > 0) ReadProcessMemory(process_, base_ + sizeof item, text.data(), static_cast<SIZE_T>(n) * sizeof(wchar_t), nullptr);
        return text;
    }
    void Select(HWND list, int row) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        Write(item);
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(base_));
    }

private:
    static constexpr int TEXT_CHARS = 256;
    static constexpr SIZE_T SIZE = sizeof(LVITEMW) + TEXT_CHARS * sizeof(wchar_t);
    template <typename T>
    void Write(const T& value) {
        if (!WriteProcessMemory(process_, base_, &value, sizeof value, nullptr)) Fail("cannot write to the program's process");
    }
    HANDLE process_ = nullptr;
    char* base_ = nullptr;
};

struct Search {
    DWORD pid;
    std::wstring title;  // empty: any dialog whose title is not in `skip`
    std::vector<std::wstring> skip;
    HWND found = nullptr;
};

std::wstring Text(HWND window) {
    wchar_t buffer[512] = {};
    SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != s.pid || !IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
    const std::wstring title = Text(window);
    if (!s.title.empty() ? title == s.title : std::find(s.skip.begin(), s.skip.end(), title) == s.skip.end()) {
        s.found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog of the program: by title, or (empty title) any but the known ones.
HWND WaitDialog(DWORD pid, const std::wstring& title, std::chrono::milliseconds limit = 20s) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        Search s{pid, title, {L"Port Selection", L"Settings", L"ZOLT"}};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        std::this_thread::sleep_for(100ms);
    }
    Fail("no dialog \"" + Narrow(title) + "\" came up");
}

// A message box that the program shows is a failure of the run: say what it says.
void NoMessageBox(DWORD pid) {
    Search s{pid, L"", {L"Port Selection", L"Settings"}};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
    if (!s.found) return;
    const HWND text = GetDlgItem(s.found, 0xFFFF);
    Fail("the program shows a message: " + Narrow(text ? Text(text) : Text(s.found)));
}

struct ChildSearch {
    int id;
    HWND found = nullptr;
};

BOOL CALLBACK FindChild(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<ChildSearch*>(param);
    if (GetDlgCtrlID(window) != s.id) return TRUE;
    s.found = window;
    return FALSE;
}

HWND Control(HWND root, int id) {
    ChildSearch s{id};
    EnumChildWindows(root, FindChild, reinterpret_cast<LPARAM>(&s));
    if (!s.found) Fail("no control " + std::to_string(id));
    return s.found;
}

// Buttons that open a modal dialog are pressed by a posted message, so the driver goes on.
void Press(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }
void Answer(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void WaitGone(HWND dialog) {
    for (int i = 0; i < 200 && IsWindow(dialog); ++i) std::this_thread::sleep_for(50ms);
    if (IsWindow(dialog)) Fail("a dialog did not close");
}

struct Options {
    std::wstring stage;
    std::wstring image;
    std::vector<int> ports;
    int limitSeconds = 300;
    bool cal = false;
};

Options Parse(int argc, wchar_t** argv) {
    Options o;
    if (argc > 1) o.stage = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring key = argv[i];
        if (key == L"--cal") {
            o.cal = true;
            continue;
        }
        if (i + 1 == argc) break;
        const std::wstring value = argv[++i];
        if (key == L"--image") o.image = value;
        else if (key == L"--limit") o.limitSeconds = _wtoi(value.c_str());
        else if (key == L"--ports") {
            for (std::size_t at = 0; at < value.size();) {
                const std::size_t comma = value.find(L',', at);
                o.ports.push_back(_wtoi(value.substr(at, comma - at).c_str()));
                at = comma == std::wstring::npos ? value.size() : comma + 1;
            }
        } else Fail("unknown option " + Narrow(key));
    }
    if (o.stage == L"show" && argc > 2) {
        o.image = argv[2];  // which dialog
        return o;
    }
    if (o.stage == L"close" || o.stage == L"rect" || o.stage == L"quit") return o;
    if (!(o.stage == L"job" && !o.image.empty()) && o.stage != L"reset") o.ports.clear();
    if (o.ports.empty()) {
        Fail("usage: job --image PATH --ports 5,6 [--limit SECONDS] [--cal] | reset --ports 5,6 | quit | show port|settings | close | rect");
    }
    return o;
}

class Operator {
public:
    Operator(HWND frame, DWORD pid, const Options& options) : frame_(frame), pid_(pid), options_(options), remote_(pid) {}

    void AttachPorts() {
        Press(Control(frame_, IDC_PORT));
        const HWND dialog = WaitDialog(pid_, L"Port Selection");
        const HWND list = Control(dialog, IDC_PORT_LIST);
        const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int port : options_.ports) {
            int row = 0;
            while (row < rows && remote_.Cell(list, row, 0) != L"Com" + std::to_wstring(port)) ++row;
            if (row == rows) Fail("COM" + std::to_string(port) + " is not in the port list");
            remote_.Select(list, row);
        }
        Answer(dialog, IDOK);
        WaitGone(dialog);
        // Rows are attached in list order (the highest port first) to lines 1, 2, ...
        std::vector<std::wstring> expected, shown;
        for (std::size_t i = 0; i < options_.ports.size(); ++i) {
            wchar_t label[16];
            swprintf(label, 16, L"COM%02d", options_.ports[i]);
            expected.push_back(label);
            shown.push_back(Text(Control(frame_, IDC_COM1 + static_cast<int>(i))));
        }
        std::sort(expected.begin(), expected.end());
        std::sort(shown.begin(), shown.end());
        if (shown != expected) Fail("the ports were not attached to the first lines");
    }

    void SetConfigFromTheWorkingFolder() {
        Press(Control(frame_, IDC_SET_CONFIG));
        const HWND dialog = WaitDialog(pid_, L"");
        Close(dialog, IDCANCEL);
    }

    void OpenImage() {
        Press(Control(frame_, IDC_OPEN));
        const HWND dialog = WaitDialog(pid_, L"");
        // The file name box: a combo box with an edit (id cmb13) in the newer dialog, an edit
        // (edt1) in the older one.
        HWND name = GetDlgItem(dialog, 0x47C);
        if (!name) name = GetDlgItem(dialog, 0x480);
        if (!name) Fail("the file dialog has no file name box");
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(options_.image.c_str()));
        Close(dialog, IDOK);
        const std::wstring label = Text(Control(frame_, IDC_FILE_NAME));
        if (label == L"No file opened!") Fail("the image was not opened");
        std::printf("opened: %s\n", Narrow(label).c_str());
    }

    void ConfirmSettings() {
        Press(Control(frame_, IDC_SETTINGS));
        const HWND dialog = WaitDialog(pid_, L"Settings");
        if (options_.cal) {
            const HWND box = GetDlgItem(dialog, IDC_WITH_CAL);
            PostMessageW(box, BM_CLICK, 0, 0);
            for (int i = 0; i < 100 && SendMessageW(box, BM_GETCHECK, 0, 0) != BST_CHECKED; ++i) std::this_thread::sleep_for(50ms);
            if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_CHECKED) Fail("the calibration box did not take the tick");
        }
        Close(dialog, IDOK);
        if (SendMessageW(Control(frame_, IDC_TASK_LIST), LVM_GETITEMCOUNT, 0, 0) == 0) Fail("Settings built no task list");
    }

    void RunToDone() {
        Press(Control(frame_, IDC_DONE));
        const HWND list = Control(frame_, IDC_TASK_LIST);
        const auto end = Clock::now() + std::chrono::seconds(options_.limitSeconds);
        for (;;) {
            NoMessageBox(pid_);
            const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            int done = 0;
            for (int row = 0; row < rows; ++row) {
                for (std::size_t line = 1; line <= options_.ports.size(); ++line) {
                    const std::wstring cell = remote_.Cell(list, row, static_cast<int>(line));
                    if (cell == L"Fail") Fail("line " + std::to_string(line) + " failed: " + Narrow(Text(Control(frame_, IDC_STATUS1 + static_cast<int>(line) - 1))));
                    done += cell == L"Done";
                }
            }
            if (rows > 0 && done == rows * static_cast<int>(options_.ports.size())) break;
            if (Clock::now() > end) Fail("the job did not end within the limit");
            std::this_thread::sleep_for(500ms);
        }
        std::printf("every task on every line: Done\n");
    }

    void ResetInTheMiddle() {
        Press(Control(frame_, IDC_DONE));
        std::this_thread::sleep_for(2s);
        const auto pressed = Clock::now();
        SendMessageW(Control(frame_, IDC_RESET), BM_CLICK, 0, 0);
        for (;;) {
            bool waiting = true;
            for (std::size_t i = 0; i < options_.ports.size(); ++i) {
                waiting &= Text(Control(frame_, IDC_STATUS1 + static_cast<int>(i))) == L"Waiting ...";
            }
            if (waiting) break;
            if (Clock::now() - pressed > 1s) Fail("Reset did not bring every line back to \"Waiting ...\" within a second");
            std::this_thread::sleep_for(20ms);
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed).count();
        for (std::size_t i = 0; i < options_.ports.size(); ++i) {
            if (Text(Control(frame_, IDC_COM1 + static_cast<int>(i))).rfind(L"COM", 0) != 0) Fail("a line lost its port at Reset");
        }
        std::printf("Reset: every line waiting after %lld ms, still attached\n", static_cast<long long>(took));
    }

    // Closing the window while the lines run ends them first: the program goes away at once.
    void CloseWhileRunning() {
        Press(Control(frame_, IDC_DONE));
        std::this_thread::sleep_for(2s);
        Quit();
    }

    void Quit() {
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid_);
        if (!process) Fail("cannot watch the program's process");
        const auto closing = Clock::now();
        PostMessageW(frame_, WM_CLOSE, 0, 0);
        const DWORD ended = WaitForSingleObject(process, 10000);
        CloseHandle(process);
        if (ended != WAIT_OBJECT_0) Fail("the program did not end when its window was closed");
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing).count();
        std::printf("closed: the program ended after %lld ms\n", static_cast<long long>(took));
    }

private:
    // Answers a dialog and waits until it has gone; the program must then show no message.
    void Close(HWND dialog, int answer) {
        Answer(dialog, answer);
        WaitGone(dialog);
        NoMessageBox(pid_);
    }

    HWND frame_;
    DWORD pid_;
    const Options& options_;
    Remote remote_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Options options = Parse(argc, argv);
    // The main window is up once it shows, with its form.
    HWND frame = nullptr;
    for (int i = 0; i < 600; ++i) {
        // A box before the window (the page catalogue that cannot be opened, say) is a failure.
        if (const HWND box = FindWindowW(L"#32770", L"ZOLT"); box && IsWindowVisible(box)) {
            const HWND text = GetDlgItem(box, 0xFFFF);
            Fail("the program shows a message at start: " + Narrow(text ? Text(text) : Text(box)));
        }
        frame = FindWindowW(L"ZOLTMainFrame", L"ZOLT");
        ChildSearch form{IDC_PORT};
        if (frame && IsWindowVisible(frame)) EnumChildWindows(frame, FindChild, reinterpret_cast<LPARAM>(&form));
        if (form.found) break;
        frame = nullptr;
        std::this_thread::sleep_for(100ms);
    }
    if (!frame) Fail("ZOLT.exe did not come up");
    DWORD pid = 0;
    GetWindowThreadProcessId(frame, &pid);

    if (options.stage == L"show") {
        const bool port = options.image == L"port";
        Press(Control(frame, port ? IDC_PORT : IDC_SETTINGS));
        WaitDialog(pid, port ? L"Port Selection" : L"Settings");
        return 0;
    }
    if (options.stage == L"rect") {
        RECT r{};
        GetWindowRect(frame, &r);
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    if (options.stage == L"close") {
        Search s{pid, L"", {L"ZOLT"}};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
        if (s.found) Answer(s.found, IDCANCEL);
        return 0;
    }
    Operator op(frame, pid, options);
    if (options.stage == L"quit") {
        op.Quit();
    } else if (options.stage == L"job") {
        op.AttachPorts();
        op.SetConfigFromTheWorkingFolder();
        op.OpenImage();
        op.ConfirmSettings();
        op.RunToDone();
    } else {
        op.ResetInTheMiddle();
        op.CloseWhileRunning();
    }
    return 0;
}
