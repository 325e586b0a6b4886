// The program's top-level window. It owns the job (lines, task list, configuration, loaded
// file, port list), turns the form's buttons into job operations, and turns the workers'
// posted messages and the display timer into updates of the form.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "history/history_recorder.h"
#include "job/job_control.h"
#include "ui/file_dialogs.h"
#include "ui/window_prompt.h"
#include "ui/zolt_view.h"

namespace zolt {

inline constexpr UINT_PTR DISPLAY_TIMER_ID = 100;
inline constexpr UINT DISPLAY_TIMER_PERIOD_MS = 1000;
// The history's notices, posted from the recorder's thread; no parameters.
inline constexpr UINT WM_HISTORY_NOTICE = WM_APP + 1;

// Opens the history that a frame's jobs write, in the working `folder`; throws HistoryError.
// `notice` may be called on any thread.
using HistoryOpener = std::function<std::unique_ptr<HistoryStore>(
    const std::string& folder, std::function<void(const std::string&)> notice)>;
// "zolt-history.sqlite" in the folder.
std::unique_ptr<HistoryStore> OpenFolderHistory(const std::string& folder,
                                                std::function<void(const std::string&)> notice);

// What the frame is built on. Tests replace what reaches beyond the window: boxes, file
// dialogs, ports and phones.
struct FrameServices {
    Prompt* prompt = nullptr;            // none: message boxes owned by the frame
    FileDialogs* fileDialogs = nullptr;  // none: the common Open dialog
    std::unique_ptr<PortProber> prober = PortProber::Standard();
    TaskRunners runners = TaskRunners::Standard();
    std::string folder;         // where ZOLT.ini and calibration.ini are read at start, in the ANSI code page; none: the current directory
    bool quitOnDestroy = true;  // the program ends with its frame
    HistoryOpener openHistory = OpenFolderHistory;  // none: no history is written
};

class CMainFrame : private LineEventSink {
public:
    // Builds the job: the lines read the page catalogue, the update flag is read; opens the
    // history, telling the operator when it cannot be written (the jobs then go on without).
    explicit CMainFrame(FrameServices services = {});
    ~CMainFrame() override;
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the window and its form, sized to the form and centred on the screen; hidden.
    bool Create();
    HWND Handle() const { return hwnd_.load(); }
    CZOLTView& View() { return view_; }
    JobControl& Job() { return *job_; }
    Prompt& prompt() { return *prompt_; }
    // Where the workers' events go: posted to this window.
    LineEventSink& EventSink() { return *this; }

    // What the form's buttons ask for.
    bool IsAnyLineRunning() const { return job_->IsAnyLineRunning(); }
    // Probes the ports, lets the operator choose in the Port Selection dialog, attaches them.
    void SelectPorts();
    // Reads the configuration the operator picks, or ZOLT.ini of the current folder when the
    // choice is cancelled. False, with the operator told, when the chosen file's path cannot be
    // handed to the core; nothing is read then.
    bool ReadConfig();
    int LoadRomImage(const std::string& path) { return job_->file.LoadRomImage(path); }
    int LoadPlainFile(const std::string& path) { return job_->file.LoadPlainFile(path); }
    int BuildTaskList(int choice, bool withCal);
    void StartJob(const std::string& filePath, const std::string& workDir) { (void)job_->StartJob(filePath, workDir); }
    void StopJob() { job_->StopJob(); }
    std::optional<std::wstring> ChooseFile(const FileDialogRequest& request);

    void StartDisplayTimer();
    void StopDisplayTimer();

private:
    // LineEventSink, on the workers' threads.
    void PostLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void DiscardPending(std::intptr_t lineNumber) override;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnLineEvent(UINT message, WPARAM wParam, LPARAM lParam);
    void FitToForm();
    void OpenHistory();
    // Any thread: queues a notice of the history for the window thread.
    void PostHistoryNotice(const std::string& text);
    void ShowHistoryNotices();
    // The history names each attached line's port as the window does.
    void LabelPorts();

    FrameServices services_;
    WindowPrompt windowPrompt_;
    Prompt* prompt_;
    std::unique_ptr<FileDialogs> standardDialogs_;
    FileDialogs* fileDialogs_;
    CZOLTView view_{*this};
    std::unique_ptr<JobControl> job_;
    std::mutex noticesMutex_;
    std::deque<std::string> notices_;
    bool showingNotice_ = false;  // window thread: a notice's box is open
    // Ends after the job, which hands it records, and before the window, which its notices reach.
    std::unique_ptr<HistoryRecorder> recorder_;
    // Workers read it to post; the window thread clears it as the window goes.
    std::atomic<HWND> hwnd_{nullptr};
    bool timerRunning_ = false;

    // Events of a stopped line that are still queued are dropped: each line counts what its
    // worker posted and what the frame handled, and a stop marks everything posted so far as
    // stale. Messages of one poster arrive in order, so counting is enough.
    std::array<std::atomic<std::uint64_t>, LINE_COUNT> posted_{};
    std::array<std::uint64_t, LINE_COUNT> staleThrough_{};
    std::array<std::uint64_t, LINE_COUNT> handled_{};
};

}  // namespace zolt
