// The program's top-level window. It owns the job (lines, task list, configuration, loaded
// file, port list), turns the form's buttons into job operations, and turns the workers'
// posted messages and the display timer into updates of the form.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "job/job_control.h"
#include "ui/file_dialogs.h"
#include "ui/window_prompt.h"
#include "ui/zolt_view.h"

namespace zolt {

inline constexpr UINT_PTR DISPLAY_TIMER_ID = 100;
inline constexpr UINT DISPLAY_TIMER_PERIOD_MS = 1000;

// What the frame is built on. Tests replace what reaches beyond the window: boxes, file
// dialogs, ports and phones.
struct FrameServices {
    Prompt* prompt = nullptr;            // none: message boxes owned by the frame
    FileDialogs* fileDialogs = nullptr;  // none: the common Open dialog
    std::unique_ptr<PortProber> prober = PortProber::Standard();
    TaskRunners runners = TaskRunners::Standard();
    std::string folder;         // where ZOLT.ini and calibration.ini are read at start, in the ANSI code page; none: the current directory
    bool quitOnDestroy = true;  // the program ends with its frame
};

class CMainFrame : private LineEventSink {
public:
    // Builds the job: the lines read the page catalogue, the update flag is read.
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
    int BuildTaskList(int choice, bool withCal) { return job_->BuildTaskList(choice, withCal); }
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

    FrameServices services_;
    WindowPrompt windowPrompt_;
    Prompt* prompt_;
    std::unique_ptr<FileDialogs> standardDialogs_;
    FileDialogs* fileDialogs_;
    CZOLTView view_{*this};
    std::unique_ptr<JobControl> job_;
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
