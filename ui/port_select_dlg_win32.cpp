#include "ui/port_select_dlg.h"

#include <commctrl.h>

#include "res/resource.h"
#include "ui/list_view.h"
#include "ui/wide_text.h"

namespace zolt {

INT_PTR CPortSelectDlg::DoModal(HWND owner) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PORT_SELECT), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CPortSelectDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        reinterpret_cast<CPortSelectDlg*>(lParam)->OnInitDialog(dialog);
        return TRUE;
    }
    auto* self = reinterpret_cast<CPortSelectDlg*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (!self || message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK: self->OnOK(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: return FALSE;
    }
}

void CPortSelectDlg::OnInitDialog(HWND dialog) {
    ListView list(GetDlgItem(dialog, IDC_PORT_LIST));
    list.SetGridStyle();
    for (int c = 0; c < PORT_COLUMN_COUNT; ++c) list.AddColumn(Widen(PORT_COLUMN_HEADINGS[c]), PORT_COLUMN_WIDTHS[c]);
    if (!ports) return;
    for (std::size_t i = 0; i < ports->size(); ++i) {
        const auto texts = PortRowTexts((*ports)[i]);
        const int row = list.InsertRow(static_cast<int>(i), WidenCore(texts[0]));
        if (row < 0) continue;
        for (int c = 1; c < PORT_COLUMN_COUNT; ++c) list.SetCell(row, c, WidenCore(texts[c]));
    }
}

void CPortSelectDlg::OnOK(HWND dialog) {
    ListView list(GetDlgItem(dialog, IDC_PORT_LIST));
    selected = SelectionSlots(list.SelectedRows());
    EndDialog(dialog, IDOK);
}

}  // namespace zolt
