// A thin wrapper of a report-view list control: the calls the task list and the port list
// share.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zolt {

class ListView {
public:
    explicit ListView(HWND list = nullptr) : list_(list) {}
    HWND Handle() const { return list_; }

    // Full-row selection and grid lines on, check boxes off.
    void SetGridStyle();
    void AddColumn(const std::wstring& heading, int width);
    void DeleteAllRows();
    // The index of the new row, or -1.
    int InsertRow(int row, const std::wstring& text);
    void SetCell(int row, int column, const std::wstring& text);
    std::wstring Cell(int row, int column) const;
    int RowCount() const;
    std::vector<int> SelectedRows() const;
    // The width of the control's window rectangle, border included.
    int WindowWidth() const;

private:
    HWND list_;
};

}  // namespace zolt
