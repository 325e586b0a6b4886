// The main form: eight line panels, the image information, the command buttons, the file
// name and banner labels and the task list. It owns no job data: its buttons call the frame,
// and the frame shows the job through it (JobView), always on the window thread.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

#include "job/job_view.h"
#include "ui/image_button.h"
#include "ui/list_view.h"
#include "ui/text_progress_ctrl.h"
#include "ui/transparent_static.h"

namespace zolt {

class CMainFrame;

class CZOLTView : public JobView {
public:
    explicit CZOLTView(CMainFrame& frame) : frame_(frame) {}
    CZOLTView(const CZOLTView&) = delete;
    CZOLTView& operator=(const CZOLTView&) = delete;

    // Creates the form (template 101) as a child of `parent` and makes its initial update.
    bool Create(HWND parent);
    HWND Handle() const { return form_; }

    // JobView
    void SetLinePanel(int line, bool attached, int comPort, const std::string& portName) override;
    void ResetLinePanel(int line) override;
    void SetLineStatus(int line, const std::string& text) override;
    void ShowLineProgress(int line, int percent) override;
    void ShowImageInfo(bool valid, const ImageInfo& info) override;
    void ShowTaskList(const TaskList& tasks) override;
    void SetTaskCell(int row, int column, std::uint8_t status) override;
    void StartDisplayTimer() override;
    void StopDisplayTimer() override;

    // The command buttons.
    void OnSetConfig();
    void OnOpen();
    void OnSettings();
    void OnScript();
    void OnPort();
    void OnDone();
    void OnReset();
    void OnAbout();

    // Path of the last file that Open or Script loaded, as the core spells it (ANSI code page);
    // handed to StartJob.
    const std::string& filePath() const { return filePath_; }
    // The current directory when Settings was last confirmed, as the core spells it; handed to
    // StartJob.
    const std::string& workDir() const { return workDir_; }
    bool configSet() const { return configSet_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam);
    bool OnCommand(int id);
    void OnInitialUpdate();
    void RestartElapsed();
    void SetElapsedText(const std::wstring& text);
    void SetFileLabel(const std::wstring& text);

    CMainFrame& frame_;
    HWND form_ = nullptr;
    bool controlsFilled_ = false;
    std::array<CTextProgressCtrl, 8> progress_;
    std::array<CImageButton, 8> lamps_;
    std::array<HWND, 8> status_{};
    std::array<HWND, 8> com_{};
    std::array<HWND, 5> imageLabels_{};
    CTransparentStatic elapsed_;
    CTransparentStatic fileName_;
    CTransparentStatic banner_;
    ListView taskList_;

    std::string filePath_;
    std::string workDir_;
    bool configSet_ = false;
    DWORD startTick_ = 0;
};

}  // namespace zolt
