// The lamp of a line panel: a flat, borderless owner-drawn button that shows one icon over
// its parent's background and has no command of its own.
#pragma once

#include <windows.h>

namespace zolt {

class CImageButton {
public:
    CImageButton() = default;
    // Destroys the icon and the background cache and removes both subclasses.
    ~CImageButton();
    CImageButton(const CImageButton&) = delete;
    CImageButton& operator=(const CImageButton&) = delete;

    // Makes an existing button owner-drawn and takes over its drawing. The button also
    // subclasses its parent, for its own id only, so that the parent needs nothing more:
    // the parent's WM_DRAWITEM for it comes back to the button, and its WM_COMMAND
    // notifications (clicks, double clicks) never reach the parent's procedure.
    // False when the window is no child window or this object is attached
    // already. A window takes one object of each kind.
    bool Attach(HWND button);
    HWND Handle() const { return hwnd; }

    // Loads an icon resource of the program's module at the size stored in the resource,
    // destroys the previous icon and repaints. An id that does not load leaves no icon.
    void SetIcon(int iconResourceId);
    // With the border off nothing frames the button in any state.
    void SetDrawBorder(bool draw, bool repaint);
    // Paints the parent's background under the icon from now on; the background is captured
    // afresh at the next paint, and again after a move, a resize or a change of the system
    // colours (WM_SYSCOLORCHANGE sent to the button or its parent).
    void SetTransparent(bool repaint);
    HICON Icon() const { return icon; }

private:
    static LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    static LRESULT CALLBACK ParentProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT OnButtonMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void DrawItem(const DRAWITEMSTRUCT& item);
    void PaintBackground(HDC dc, const RECT& client);
    void SetHovering(bool on);
    void DropBackground();
    void Repaint() const;
    void Detach();

    HWND hwnd = nullptr;
    HWND parent = nullptr;
    HICON icon = nullptr;
    int iconWidth = 0;
    int iconHeight = 0;
    bool drawBorder = true;
    bool transparent = false;
    bool hovering = false;
    bool isDefault = false;  // created as the default push button; kept for WM_GETDLGCODE
    bool focusLostToDisable = false;
    HDC backgroundDc = nullptr;
    HBITMAP backgroundBitmap = nullptr;
    HGDIOBJ backgroundOldBitmap = nullptr;
};

}  // namespace zolt
