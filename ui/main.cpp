// ZOLT.exe: the operator's Windows program.
#include <windows.h>

#include "ui/zolt_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    zolt::CZOLTApp app;
    if (!app.InitInstance(showCommand)) return 1;
    return app.Run();
}
