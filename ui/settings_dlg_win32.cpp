#include "ui/settings_dlg.h"

#include "res/resource.h"

namespace zolt {

namespace {

constexpr int RADIO_IDS[SETTINGS_RADIO_COUNT] = {IDC_UPDATE_ALL, IDC_UPDATE_BOOT, IDC_UPDATE_CP, IDC_UPDATE_DATA,
                                                 IDC_UPDATE_CP_DATA};

int RadioOfId(int id) {
    for (int r = 0; r < SETTINGS_RADIO_COUNT; ++r) {
        if (RADIO_IDS[r] == id) return r;
    }
    return -1;
}

}  // namespace

INT_PTR CSettingsDlg::DoModal(HWND owner) {
    state_ = SettingsState{};
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CSettingsDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        auto* self = reinterpret_cast<CSettingsDlg*>(lParam);
        self->state_ = OpenSettings(self->updateFlag);
        self->Show(dialog);
        return TRUE;
    }
    auto* self = reinterpret_cast<CSettingsDlg*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (!self || message != WM_COMMAND) return FALSE;
    const int id = LOWORD(wParam);
    if (id == IDOK) {
        self->choice = self->state_.choice;
        self->withCal = IsDlgButtonChecked(dialog, IDC_WITH_CAL) == BST_CHECKED ? 1 : 0;
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    const int radio = RadioOfId(id);
    if (radio >= 0 && HIWORD(wParam) == BN_CLICKED) {
        self->OnRadioClicked(dialog, static_cast<SettingsRadio>(radio));
        return TRUE;
    }
    return FALSE;
}

void CSettingsDlg::OnRadioClicked(HWND dialog, SettingsRadio radio) {
    state_.calChecked = IsDlgButtonChecked(dialog, IDC_WITH_CAL) == BST_CHECKED;
    ClickSettingsRadio(state_, radio);
    Show(dialog);
}

void CSettingsDlg::Show(HWND dialog) const {
    for (int r = 0; r < SETTINGS_RADIO_COUNT; ++r) {
        EnableWindow(GetDlgItem(dialog, RADIO_IDS[r]), state_.enabled[r]);
        CheckDlgButton(dialog, RADIO_IDS[r], state_.checked[r] ? BST_CHECKED : BST_UNCHECKED);
    }
    EnableWindow(GetDlgItem(dialog, IDC_WITH_CAL), state_.calEnabled);
    CheckDlgButton(dialog, IDC_WITH_CAL, state_.calChecked ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace zolt
