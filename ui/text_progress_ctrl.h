// The line progress bar: a standard progress bar that paints its own fill and, centred on
// it, its window text or else the percentage.
#pragma once

#include <windows.h>

#include <string>

namespace zolt {

class CTextProgressCtrl {
public:
    // Takes the system colours now, and again whenever the bar is sent WM_SYSCOLORCHANGE.
    CTextProgressCtrl();
    // Removes the subclass; the window itself belongs to its dialog.
    ~CTextProgressCtrl();
    CTextProgressCtrl(const CTextProgressCtrl&) = delete;
    CTextProgressCtrl& operator=(const CTextProgressCtrl&) = delete;

    // Takes over the painting of an existing progress bar control; the range is 0 to 100.
    // False when the window is no window or this object is attached
    // already. A window takes one object of each kind.
    bool Attach(HWND progressBar);
    HWND Handle() const { return hwnd; }

    // Moves the bar forward to `position`, or back to 0, never past 100; repaints at once
    // when the filled width in pixels changes. Returns the previous position, -1 without a
    // window.
    int SetPos(int position);
    int Pos() const { return pos; }
    // Paint messages handled so far.
    int PaintCount() const { return paintCount; }

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT OnSetText(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnGetText(WPARAM bufferSize, LPARAM buffer) const;
    void OnPaint();
    void Draw(HDC dc) const;
    void TakeSystemColours();
    void Detach();

    HWND hwnd = nullptr;
    int pos = 0;
    int upper = 100;
    int lower = 0;
    std::wstring text;
    bool showText = true;
    int fillWidth = -1;  // at the last position change; -1 makes the next SetPos repaint
    COLORREF barColour;
    COLORREF bgColour;
    COLORREF textColour;
    COLORREF textOnBarColour;
    int paintCount = 0;
};

}  // namespace zolt
