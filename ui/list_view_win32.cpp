#include "ui/list_view.h"

#include <commctrl.h>

namespace zolt {

void ListView::SetGridStyle() {
    const DWORD mask = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES;
    ListView_SetExtendedListViewStyleEx(list_, mask, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
}

void ListView::AddColumn(const std::wstring& heading, int width) {
    const int count = Header_GetItemCount(ListView_GetHeader(list_));
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    column.iSubItem = count;
    SendMessageW(list_, LVM_INSERTCOLUMNW, count, reinterpret_cast<LPARAM>(&column));
}

void ListView::DeleteAllRows() { ListView_DeleteAllItems(list_); }

int ListView::InsertRow(int row, const std::wstring& text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void ListView::SetCell(int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

std::wstring ListView::Cell(int row, int column) const {
    wchar_t buffer[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 256;
    SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

int ListView::RowCount() const { return ListView_GetItemCount(list_); }

std::vector<int> ListView::SelectedRows() const {
    std::vector<int> rows;
    const int count = ListView_GetSelectedCount(list_);
    int row = -1;
    for (int i = 0; i < count; ++i) {
        row = ListView_GetNextItem(list_, row, LVNI_SELECTED);
        if (row < 0) break;
        rows.push_back(row);
    }
    return rows;
}

int ListView::WindowWidth() const {
    RECT rect{};
    GetWindowRect(list_, &rect);
    return rect.right - rect.left;
}

}  // namespace zolt
