// The Port Selection dialog: the frame's port list, from which the operator picks the ports
// to attach.
#pragma once

#include <windows.h>

#include <vector>

#include "job/port_list.h"
#include "ui/form_logic.h"

namespace zolt {

class CPortSelectDlg {
public:
    // Set before DoModal; none shows an empty list.
    const std::vector<PortEntry>* ports = nullptr;
    // After OK: the selected rows in ascending order, then -1.
    PortSelection selected{};

    CPortSelectDlg() { selected.fill(-1); }
    // IDOK or IDCANCEL.
    INT_PTR DoModal(HWND owner);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND dialog);
    void OnOK(HWND dialog);
};

}  // namespace zolt
