// The main form, its dialogs and the operator's boxes, as real windows.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <thread>

#include "io/paths.h"
#include "io/texts.h"
#include "res/resource.h"
#include "support/temp_dir.h"
#include "ui/form_logic.h"
#include "ui/list_view.h"
#include "ui/main_frame.h"
#include "ui/port_select_dlg.h"
#include "ui/render_win32.h"  // tests/ui
#include "ui/wide_text.h"

namespace zolt {
namespace {

PortEntry ComPort(int number) {
    PortEntry entry;
    entry.portNumber = number;
    entry.name = "Com" + std::to_string(number);
    entry.device = "COM" + std::to_string(number);
    return entry;
}

struct Shown {
    std::string text;
    PromptIcon icon;
    bool operator==(const Shown&) const = default;
};

class RecordingPrompt : public Prompt {
public:
    void ShowMessage(std::string_view text, PromptIcon icon) override { shown.push_back({std::string(text), icon}); }
    std::vector<Shown> shown;
};

class AnsweringDialogs : public FileDialogs {
public:
    std::optional<std::wstring> ChooseFile(HWND, const FileDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::optional<std::wstring>> answers;
    std::vector<FileDialogRequest> requests;
};

// COM4 held by another program, COM3 and COM1 free, the rest absent.
class MachinePorts : public PortProber {
public:
    std::vector<std::string> Candidates() override { return {"COM4", "COM3", "COM2", "COM1"}; }
    PortState Probe(const std::string& device) override {
        const std::map<std::string, PortState> states{{"COM4", PORT_USED_BY_OTHERS}, {"COM3", PORT_FREE}, {"COM1", PORT_FREE}};
        const auto it = states.find(device);
        return it == states.end() ? PORT_ABSENT : it->second;
    }
    PortEntry Describe(const std::string& device) override {
        const int number = std::stoi(device.substr(3));
        return ComPort(number);
    }
};

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::wstring Text(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

// Runs `act` on the dialog titled `title` once the modal loop that `open` starts shows it.
// A thread timer does it: its ticks are dispatched by the dialog's own message loop.
thread_local std::function<void(HWND)> pendingAction;
thread_local const wchar_t* pendingTitle = nullptr;

void CALLBACK ActOnDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    const HWND dialog = FindWindowW(L"#32770", pendingTitle);
    if (!dialog || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    pendingAction(dialog);
}

void WithDialog(const wchar_t* title, std::function<void(HWND)> act, const std::function<void()>& open) {
    pendingTitle = title;
    pendingAction = std::move(act);
    SetTimer(nullptr, 0, 20, ActOnDialog);
    open();
}

void Press(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

class Form : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        FrameServices services;
        services.prompt = &prompt;
        services.fileDialogs = &dialogs;
        services.prober = std::make_unique<MachinePorts>();
        services.folder = std::filesystem::temp_directory_path().string();
        services.quitOnDestroy = false;
        services.openHistory = nullptr;  // the shared temporary folder keeps no history
        frame = std::make_unique<CMainFrame>(std::move(services));
        // The frame stays hidden: buttons click all the same, and under wine without a window
        // manager a shown frame takes two seconds to go away.
        ASSERT_TRUE(frame->Create());
        Pump();
        prompt.shown.clear();  // the page catalogue is missing in the folder
    }
    void TearDown() override {
        frame.reset();
        Pump();
    }

    HWND Item(int id) const { return GetDlgItem(frame->View().Handle(), id); }
    void Click(int id) {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        Pump();
    }
    ListView Tasks() const { return ListView(Item(IDC_TASK_LIST)); }
    std::vector<std::wstring> Row(int row) const {
        std::vector<std::wstring> cells;
        for (int c = 0; c <= 8; ++c) cells.push_back(Tasks().Cell(row, c));
        return cells;
    }
    static std::vector<std::wstring> TaskRow(const wchar_t* name, const wchar_t* status = L"Wait") {
        std::vector<std::wstring> cells(9, status);
        cells[0] = name;
        return cells;
    }

    RecordingPrompt prompt;
    AnsweringDialogs dialogs;
    std::unique_ptr<CMainFrame> frame;
};

TEST_F(Form, FitsTheFrameAndStartsWithEveryLineUnused) {
    RECT client{}, form{};
    GetClientRect(frame->Handle(), &client);
    GetWindowRect(frame->View().Handle(), &form);
    EXPECT_EQ(client.right, form.right - form.left);
    EXPECT_EQ(client.bottom, form.bottom - form.top);
    EXPECT_EQ(Text(frame->Handle()), L"ZOLT");

    EXPECT_EQ(Text(Item(IDC_STATUS8)), L"Not used !");
    EXPECT_EQ(Text(Item(IDC_COM8)), L" ");
    EXPECT_EQ(Text(Item(IDC_PROGRESS8)), L"Waiting...");
    EXPECT_EQ(Text(Item(IDC_ELAPSED)), L"00 M 00 S");
    EXPECT_EQ(Text(Item(IDC_FILE_NAME)), L"No file opened!");

    const TaskColumnWidths widths = TaskListColumnWidths(Tasks().WindowWidth());
    EXPECT_EQ(ListView_GetColumnWidth(Item(IDC_TASK_LIST), 0), widths.task);
    EXPECT_EQ(ListView_GetColumnWidth(Item(IDC_TASK_LIST), 8), widths.line);
}

TEST_F(Form, LinePanelShowsPortStatusAndProgress) {
    frame->View().SetLinePanel(0, true, 3, "Com3");
    frame->View().ShowLineProgress(0, 7);
    EXPECT_EQ(Text(Item(IDC_COM1)), L"COM03");
    EXPECT_EQ(Text(Item(IDC_STATUS1)), L"Waiting ...");
    EXPECT_EQ(Text(Item(IDC_PROGRESS1)), L"Downloading ( 07 % )");
    frame->View().ResetLinePanel(0);
    EXPECT_EQ(Text(Item(IDC_PROGRESS1)), L"Waiting...");
}

TEST_F(Form, OpenWaitsForSetConfigAndScriptDoesNot) {
    Click(IDC_OPEN);
    EXPECT_EQ(prompt.shown, (std::vector<Shown>{{texts::SET_CONFIG_FIRST, PromptIcon::Error}}));
    EXPECT_TRUE(dialogs.requests.empty());

    // Cancelling the chooser still counts: the default file is read.
    Click(IDC_SET_CONFIG);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].filter, "Ini Files(*.ini)|*.ini|All Files(*.*)|*.*||");
    EXPECT_TRUE(frame->View().configSet());
    const auto ini = std::filesystem::temp_directory_path() / "zolt-form-test.ini";
    { std::FILE* f = _wfopen(ini.wstring().c_str(), L"wb"); std::fputs("[MainConfig]\r\nMobileName=M9\r\n", f); std::fclose(f); }
    dialogs.answers.push_back(ini.wstring());
    Click(IDC_SET_CONFIG);
    EXPECT_EQ(frame->Job().config.mobileName, "M9");
    std::filesystem::remove(ini);
    dialogs.requests.clear();

    const auto missing = (std::filesystem::temp_directory_path() / "zolt-no-such.bin").wstring();
    dialogs.answers.push_back(missing);
    prompt.shown.clear();
    Click(IDC_OPEN);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].filter, texts::IMAGE_FILTER);
    ASSERT_EQ(prompt.shown.size(), 1u);  // the loader's reason
    EXPECT_EQ(Text(Item(IDC_FILE_NAME)), L"No file opened!");
    EXPECT_EQ(frame->View().filePath(), "");

    const auto script = (std::filesystem::temp_directory_path() / "zolt-form-test.srp");
    { std::FILE* f = _wfopen(script.wstring().c_str(), L"wb"); std::fputs("x", f); std::fclose(f); }
    dialogs.answers.push_back(script.wstring());
    Click(IDC_SCRIPT);
    EXPECT_EQ(Text(Item(IDC_FILE_NAME)), script.wstring());
    EXPECT_EQ(Row(0), TaskRow(L"Script"));
    EXPECT_EQ(Tasks().RowCount(), 1);
    std::filesystem::remove(script);
}

TEST_F(Form, SettingsOfferWhatTheUpdateFlagAllows) {
    struct Case {
        int flag;
        std::array<bool, 5> enabled;  // All, Boot, CP, Data, CP and Data
        std::vector<std::vector<std::wstring>> rows;
        std::vector<Shown> shown;
    };
    const Case cases[] = {
        {0, {1, 1, 1, 1, 0}, {TaskRow(L"Update Boot"), TaskRow(L"Update CP"), TaskRow(L"Update Data")}, {}},
        {4, {0, 0, 0, 0, 1}, {TaskRow(L"Update CP"), TaskRow(L"Update Data")}, {}},
        // Nothing chosen: refused, and the list stays as the case before left it.
        {1, {0, 1, 1, 0, 0}, {TaskRow(L"Update CP"), TaskRow(L"Update Data")}, {{texts::UNKNOWN_FUNCTIONS, PromptIcon::Error}}},
    };
    const int ids[5] = {IDC_UPDATE_ALL, IDC_UPDATE_BOOT, IDC_UPDATE_CP, IDC_UPDATE_DATA, IDC_UPDATE_CP_DATA};
    for (const Case& c : cases) {
        frame->Job().config.updateFlag = c.flag;
        prompt.shown.clear();
        std::array<bool, 5> enabled{};
        WithDialog(L"Settings", [&](HWND dialog) {
            for (int r = 0; r < 5; ++r) enabled[r] = IsWindowEnabled(GetDlgItem(dialog, ids[r]));
            Press(dialog, IDOK);
        }, [&] { Click(IDC_SETTINGS); });
        EXPECT_EQ(enabled, c.enabled) << c.flag;
        ASSERT_EQ(Tasks().RowCount(), static_cast<int>(c.rows.size())) << c.flag;
        for (std::size_t r = 0; r < c.rows.size(); ++r) EXPECT_EQ(Row(static_cast<int>(r)), c.rows[r]) << c.flag;
        EXPECT_EQ(prompt.shown, c.shown) << c.flag;
    }
    EXPECT_FALSE(frame->View().workDir().empty());
}

TEST_F(Form, SettingsKeepTheCalTickUnderAnotherSection) {
    frame->Job().config.updateFlag = 0;
    WithDialog(L"Settings", [&](HWND dialog) {
        Press(dialog, IDC_WITH_CAL);
        Press(dialog, IDC_UPDATE_BOOT);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_WITH_CAL)));
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_WITH_CAL), BST_CHECKED);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_UPDATE_ALL), BST_UNCHECKED);
        Press(dialog, IDC_UPDATE_ALL);
        Press(dialog, IDOK);
    }, [&] { Click(IDC_SETTINGS); });
    ASSERT_EQ(Tasks().RowCount(), 5);
    EXPECT_EQ(Row(0), TaskRow(L"Backup Cal-Data"));
    EXPECT_EQ(Row(4), TaskRow(L"Restore Cal-Data"));
}

TEST_F(Form, PortDialogListsTheProbedPortsAndRefusesAHeldOne) {
    std::vector<std::vector<std::wstring>> rows;
    WithDialog(L"Port Selection", [&](HWND dialog) {
        ListView list(GetDlgItem(dialog, IDC_PORT_LIST));
        for (int r = 0; r < list.RowCount(); ++r) {
            rows.emplace_back();
            for (int c = 0; c < 5; ++c) rows.back().push_back(list.Cell(r, c));
        }
        ListView_SetItemState(list.Handle(), 0, LVIS_SELECTED, LVIS_SELECTED);
        Press(dialog, IDOK);
    }, [&] { Click(IDC_PORT); });
    const std::vector<std::vector<std::wstring>> expected{
        {L"Com4", L"Disable", L"Com4", L"Used by others", L"115200"},
        {L"Com3", L"Enable", L"Com3", L"No Phone", L"115200"},
        {L"Com1", L"Enable", L"Com1", L"No Phone", L"115200"},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(prompt.shown, (std::vector<Shown>{{texts::PORT_USED, PromptIcon::Error}}));
}

TEST_F(Form, PortDialogReturnsTheSelectedRowsInListOrder) {
    const std::vector<PortEntry> ports{ComPort(4), ComPort(3), ComPort(1)};
    CPortSelectDlg dialog;
    dialog.ports = &ports;
    INT_PTR result = 0;
    WithDialog(L"Port Selection", [&](HWND window) {
        const HWND list = GetDlgItem(window, IDC_PORT_LIST);
        ListView_SetItemState(list, 2, LVIS_SELECTED, LVIS_SELECTED);
        ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
        Press(window, IDOK);
    }, [&] { result = dialog.DoModal(frame->Handle()); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(ChosenRows(dialog.selected, 50), (std::vector<int>{0, 2}));
    EXPECT_EQ(dialog.selected[2], -1);
}

TEST_F(Form, AWorkerMessageChangesOnlyItsCellAndAStoppedLinesQueueIsDropped) {
    ASSERT_EQ(frame->BuildTaskList(CHOICE_ALL, true), 1);
    frame->View().ShowTaskList(frame->Job().tasks);
    frame->Job().tasks.SetOutcome(2, 5, TASK_DONE);

    // Posted before line 6 was stopped: stale.
    frame->EventSink().PostLineEvent(WM_PORT_TASK_DONE, 2, 6);
    frame->EventSink().DiscardPending(6);
    Pump();
    EXPECT_EQ(Tasks().Cell(2, 6), L"Wait");

    frame->EventSink().PostLineEvent(WM_PORT_TASK_DONE, 2, 6);
    Pump();
    for (int r = 0; r < 5; ++r) {
        for (int c = 1; c <= 8; ++c) EXPECT_EQ(Tasks().Cell(r, c), r == 2 && c == 6 ? L"Done" : L"Wait") << r << c;
    }
}

TEST_F(Form, DoneWithoutAFileAsksForOneAndStillStartsTheTimer) {
    Click(IDC_DONE);
    EXPECT_EQ(prompt.shown, (std::vector<Shown>{{texts::SELECT_BINARY, PromptIcon::Information}}));
    EXPECT_TRUE(frame->Job().timerRunning);
    Click(IDC_RESET);
    EXPECT_FALSE(frame->Job().timerRunning);
}

TEST_F(Form, AColourChangeReachesTheFormsControls) {
    const int elements[] = {COLOR_BTNFACE, COLOR_HIGHLIGHT};
    const COLORREF before[] = {GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_HIGHLIGHT)};
    const COLORREF after[] = {RGB(40, 200, 90), RGB(200, 30, 120)};
    const HWND lamp = Item(IDC_LAMP1), bar = Item(IDC_PROGRESS1);
    RECT lampRect{}, barRect{};
    GetClientRect(lamp, &lampRect);
    GetClientRect(bar, &barRect);
    frame->View().ShowLineProgress(0, 50);
    // The lamp captures the form's background at its first paint.
    (void)test::Render(lamp, lampRect.right, lampRect.bottom, RGB(1, 2, 3));

    ASSERT_TRUE(SetSysColors(2, elements, after));  // tells every top-level window
    Pump();
    const auto lampPixels = test::Render(lamp, lampRect.right, lampRect.bottom, RGB(1, 2, 3));
    const auto barPixels = test::Render(bar, barRect.right, barRect.bottom, RGB(1, 2, 3));
    SetSysColors(2, elements, before);
    Pump();
    EXPECT_EQ(lampPixels[0], after[0]) << "the lamp's corner shows the form's old background";
    EXPECT_EQ(barPixels[static_cast<std::size_t>(barRect.bottom / 2 * barRect.right + 2)], after[1]) << "the bar's fill";
}

// A folder whose name the ANSI code page spells (José) and one it cannot (Łódź, given by
// its short name), each holding the files of a job; the program started in it.
TEST(FormInAFolder, PathsReachTheCoreAsItsACallsSpellThem) {
    if (GetACP() != 1252) GTEST_SKIP() << "the folder names are chosen for the ANSI code page 1252";
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const test::TempDir root;
    for (const wchar_t* name : {L"Jos\u00e9", L"\u0141\u00f3d\u017a"}) {
        const auto folder = root.path() / name;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / L"ZOLT.ini", std::ios::binary) << "[MainConfig]\r\nMobileName=HERE\r\nUpdateFlag=4\r\n";
        std::ofstream(folder / L"job.srp", std::ios::binary) << "x";
        const test::CurrentDirectoryGuard inFolder(folder);

        RecordingPrompt prompt;
        AnsweringDialogs dialogs;
        FrameServices services;
        services.prompt = &prompt;
        services.fileDialogs = &dialogs;
        services.quitOnDestroy = false;
        CMainFrame frame(std::move(services));
        ASSERT_TRUE(frame.Create());
        const auto click = [&](int id) {
            SendMessageW(GetDlgItem(frame.View().Handle(), id), BM_CLICK, 0, 0);
            Pump();
        };
        EXPECT_EQ(frame.Job().config.updateFlag, 4) << "ZOLT.ini at start";
        click(IDC_SET_CONFIG);  // cancelled: ZOLT.ini of the current folder
        EXPECT_EQ(frame.Job().config.mobileName, "HERE");
        ASSERT_EQ(dialogs.requests.size(), 1u);
        EXPECT_EQ(dialogs.requests[0].initialName, (folder / L"ZOLT_CONFIG" / L"*.ini").wstring());

        dialogs.answers.push_back((folder / L"job.srp").wstring());
        click(IDC_SCRIPT);
        EXPECT_EQ(test::ReadFile(frame.View().filePath()), "x");
        WithDialog(L"Settings", [](HWND dialog) { Press(dialog, IDOK); }, [&] { click(IDC_SETTINGS); });
        EXPECT_EQ(test::ReadFile(JoinPath(frame.View().workDir(), "ZOLT.ini")).substr(0, 12), "[MainConfig]");

        // A file the code page cannot spell and that has no short name is not handed on.
        prompt.shown.clear();
        dialogs.answers.push_back((folder / L"\u0141\u00f3d\u017a.srp").wstring());
        click(IDC_SCRIPT);
        EXPECT_EQ(prompt.shown, (std::vector<Shown>{{FILE_PATH_UNUSABLE, PromptIcon::Error}})) << folder;
        EXPECT_EQ(test::ReadFile(frame.View().filePath()), "x") << "the last file stays";
    }
}

TEST(LineMessage, TheStopSignalClosesTheWorkersBox) {
    WindowPrompt prompt;
    const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (const DWORD delayMs : {0u, 300u}) {
        ResetEvent(stop);
        const auto begin = std::chrono::steady_clock::now();
        std::thread worker([&] {
            prompt.ShowLineMessage("Couldn't open file: test", PromptIcon::None, reinterpret_cast<std::intptr_t>(stop));
        });
        Sleep(delayMs);
        SetEvent(stop);
        worker.join();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3)) << delayMs;
    }
    CloseHandle(stop);
}

}  // namespace
}  // namespace zolt
