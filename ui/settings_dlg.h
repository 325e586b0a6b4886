// The Settings dialog: which sections a job updates, and whether the calibration data is
// backed up first and restored afterwards. The choices offered follow the update flag.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/form_logic.h"

namespace zolt {

class CSettingsDlg {
public:
    std::int32_t updateFlag = 0;  // set before DoModal
    // After OK: the update choice (0 none) and the check box.
    int choice = 0;
    int withCal = 0;

    // IDOK or IDCANCEL.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void Show(HWND dialog) const;
    void OnRadioClicked(HWND dialog, SettingsRadio radio);

    SettingsState state_;
};

}  // namespace zolt
