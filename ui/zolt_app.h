// The program: start-up, the message loop and the About box.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/main_frame.h"

namespace zolt {

class CZOLTApp {
public:
    // Initialises the common controls, creates the frame and shows it. False when the
    // window cannot be made; the program then ends.
    bool InitInstance(int showCommand);
    // The message loop; returns the exit code.
    int Run();

    static void ShowAbout(HWND owner);

private:
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace zolt
