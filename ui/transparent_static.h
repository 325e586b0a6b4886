// A label that draws only its text, in its own colour and optionally with a one-pixel halo,
// over whatever lies behind it.
#pragma once

#include <windows.h>

namespace zolt {

class CTransparentStatic {
public:
    CTransparentStatic() = default;
    // Removes the subclass; the window itself belongs to its dialog.
    ~CTransparentStatic();
    CTransparentStatic(const CTransparentStatic&) = delete;
    CTransparentStatic& operator=(const CTransparentStatic&) = delete;

    // Takes over the painting of an existing static control. False when the window is no
    // window or this object is attached already. A window takes one object of each kind.
    bool Attach(HWND staticControl);
    HWND Handle() const { return hwnd; }

    // Neither setter repaints: the next paint shows the colours. No background is painted,
    // so an owner that changes the text of a visible label must have the area behind it
    // repainted (hide the label, set the text, show it again), or the old text stays.
    void SetTextColour(COLORREF colour) { textColour = colour; }
    void SetOutline(COLORREF colour, bool on) {
        outlineColour = colour;
        outline = on;
    }

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void Draw(HDC dc) const;
    void Detach();

    HWND hwnd = nullptr;
    COLORREF textColour = RGB(0, 0, 0);
    COLORREF outlineColour = RGB(0, 0, 0);
    bool outline = false;
};

}  // namespace zolt
