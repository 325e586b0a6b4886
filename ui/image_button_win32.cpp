#include "ui/image_button.h"

#include <commctrl.h>

#include "ui/control_logic.h"

namespace zolt {

namespace {

constexpr UINT_PTR BUTTON_SUBCLASS_ID = 0x5A49;  // on the button; the parent's id is `this`

// An icon's drawing size: twice its hot spot, which an icon has at its centre; the mask's
// size for the odd icon whose hot spot says nothing.
SIZE IconSize(HICON icon) {
    SIZE size{0, 0};
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return size;
    size = {static_cast<LONG>(info.xHotspot * 2), static_cast<LONG>(info.yHotspot * 2)};
    BITMAP mask{};
    if ((size.cx == 0 || size.cy == 0) && GetObjectW(info.hbmMask, sizeof mask, &mask)) {
        // Without a colour bitmap the mask holds the AND and XOR halves one above the other.
        size = {mask.bmWidth, info.hbmColor ? mask.bmHeight : mask.bmHeight / 2};
    }
    // GetIconInfo hands out copies of both bitmaps.
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return size;
}

}  // namespace

CImageButton::~CImageButton() {
    Detach();
    DropBackground();
    if (icon) DestroyIcon(icon);
}

bool CImageButton::Attach(HWND button) {
    if (hwnd || !IsWindow(button) || !GetParent(button)) return false;
    HWND owner = GetParent(button);
    const auto style = GetWindowLongPtrW(button, GWL_STYLE);
    if (!SetWindowSubclass(button, ButtonProc, BUTTON_SUBCLASS_ID,
                           reinterpret_cast<DWORD_PTR>(this)))
        return false;
    if (!SetWindowSubclass(owner, ParentProc, reinterpret_cast<UINT_PTR>(this),
                           reinterpret_cast<DWORD_PTR>(this))) {
        RemoveWindowSubclass(button, ButtonProc, BUTTON_SUBCLASS_ID);
        return false;
    }
    hwnd = button;
    parent = owner;
    isDefault = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    SetWindowLongPtrW(button, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
    Repaint();
    return true;
}

void CImageButton::Detach() {
    if (parent) RemoveWindowSubclass(parent, ParentProc, reinterpret_cast<UINT_PTR>(this));
    if (hwnd) RemoveWindowSubclass(hwnd, ButtonProc, BUTTON_SUBCLASS_ID);
    parent = nullptr;
    hwnd = nullptr;
}

void CImageButton::SetIcon(int iconResourceId) {
    // Size 0 with no LR_DEFAULTSIZE: the size stored in the resource, not the system's.
    auto next = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                              MAKEINTRESOURCEW(iconResourceId), IMAGE_ICON, 0,
                                              0, LR_DEFAULTCOLOR));
    if (icon) DestroyIcon(icon);
    icon = next;
    const SIZE size = icon ? IconSize(icon) : SIZE{0, 0};
    iconWidth = size.cx;
    iconHeight = size.cy;
    Repaint();
}

void CImageButton::SetDrawBorder(bool draw, bool repaint) {
    drawBorder = draw;
    if (repaint) Repaint();
}

void CImageButton::SetTransparent(bool repaint) {
    transparent = true;
    DropBackground();
    if (repaint) Repaint();
}

void CImageButton::Repaint() const {
    // Deferred on purpose: a SetTransparent right after SetIcon must still reach the paint
    // that SetIcon asked for, so that it captures the parent's current background.
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

void CImageButton::DropBackground() {
    if (!backgroundDc) return;
    SelectObject(backgroundDc, backgroundOldBitmap);
    DeleteObject(backgroundBitmap);
    DeleteDC(backgroundDc);
    backgroundDc = nullptr;
    backgroundBitmap = nullptr;
    backgroundOldBitmap = nullptr;
}

void CImageButton::SetHovering(bool on) {
    if (hovering == on) return;
    hovering = on;
    Repaint();
}

LRESULT CALLBACK CImageButton::ParentProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR ref) {
    auto* self = reinterpret_cast<CImageButton*>(ref);
    switch (msg) {
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item && item->CtlType == ODT_BUTTON && item->hwndItem == self->hwnd) {
            self->DrawItem(*item);
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        // The lamp is no command: its clicks end here, before the parent's procedure.
        if (reinterpret_cast<HWND>(lParam) == self->hwnd && self->hwnd) return 0;
        break;
    case WM_SYSCOLORCHANGE:
        // The parent's background is probably painted in system colours too.
        self->DropBackground();
        self->Repaint();
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, ParentProc, id);
        self->parent = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, msg, wParam, lParam);
}

LRESULT CALLBACK CImageButton::ButtonProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<CImageButton*>(ref);
    switch (msg) {
    case WM_LBUTTONDBLCLK:
        // The button class would send BN_DOUBLECLICKED and not press; be a second click.
        return DefSubclassProc(window, WM_LBUTTONDOWN, wParam, lParam);
    case WM_ERASEBKGND:
        return 1;  // DrawItem covers every pixel
    case WM_MOUSEMOVE:
        if (!self->hovering) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
            TrackMouseEvent(&track);
            self->SetHovering(true);
        }
        break;
    case WM_KILLFOCUS:
        // EnableWindow drops the focus of the window it disables before sending WM_ENABLE.
        self->focusLostToDisable = !wParam && !IsWindowEnabled(window);
        self->SetHovering(false);
        break;
    case WM_MOUSELEAVE:
    case WM_CANCELMODE:
        self->SetHovering(false);
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) self->SetHovering(false);
        break;
    case WM_ENABLE:
        if (!wParam) {
            self->SetHovering(false);
            // Pass the focus on rather than leave the keyboard with no window at all.
            if (self->focusLostToDisable && !GetFocus()) {
                HWND next = GetNextDlgTabItem(self->parent, window, FALSE);
                SetFocus(next && next != window ? next : self->parent);
            }
            self->focusLostToDisable = false;
        }
        break;
    case WM_GETDLGCODE:
        // Owner-drawn buttons report no push-button kind; keep the default one's.
        return DefSubclassProc(window, msg, wParam, lParam) |
               (self->isDefault ? DLGC_DEFPUSHBUTTON : 0);
    case BM_SETSTYLE:
        // The dialog manager moves the default between buttons with this message, which
        // would otherwise turn the button back into a plain push button.
        self->isDefault = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        return DefSubclassProc(window, msg, (wParam & ~BS_TYPEMASK) | BS_OWNERDRAW, lParam);
    case WM_SYSCOLORCHANGE:
        self->DropBackground();
        self->Repaint();
        break;
    case WM_WINDOWPOSCHANGED: {
        // The captured background belongs to the old place and size.
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if ((pos->flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE))
            self->DropBackground();
        break;
    }
    case WM_NCDESTROY:
        self->Detach();
        break;
    default:
        break;
    }
    return DefSubclassProc(window, msg, wParam, lParam);
}

void CImageButton::PaintBackground(HDC dc, const RECT& client) {
    const int width = client.right - client.left, height = client.bottom - client.top;
    if (!transparent) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        return;
    }
    if (!backgroundDc) {
        backgroundDc = CreateCompatibleDC(dc);
        backgroundBitmap = backgroundDc ? CreateCompatibleBitmap(dc, width, height) : nullptr;
        if (!backgroundBitmap) {
            if (backgroundDc) DeleteDC(backgroundDc);
            backgroundDc = nullptr;
            FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
            return;
        }
        backgroundOldBitmap = SelectObject(backgroundDc, backgroundBitmap);
        const RECT whole{0, 0, width, height};
        FillRect(backgroundDc, &whole, GetSysColorBrush(COLOR_BTNFACE));
        // The parent paints its own background into the cache, shifted so that the button's
        // place lands on it. Reading the screen instead would copy whatever is there now:
        // the button's own last picture, another window, or nothing off screen.
        POINT at{client.left, client.top};
        MapWindowPoints(hwnd, parent, &at, 1);
        const int saved = SaveDC(backgroundDc);
        SetViewportOrgEx(backgroundDc, -at.x, -at.y, nullptr);
        SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(backgroundDc), 0);
        SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(backgroundDc),
                     PRF_CLIENT);
        RestoreDC(backgroundDc, saved);
    }
    BitBlt(dc, client.left, client.top, width, height, backgroundDc, 0, 0, SRCCOPY);
}

void CImageButton::DrawItem(const DRAWITEMSTRUCT& item) {
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    RECT client = item.rcItem;
    PaintBackground(item.hDC, client);
    if (drawBorder && (pressed || hovering))
        DrawEdge(item.hDC, &client, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    if (!icon) return;
    const PixelOffset at = IconOrigin(client.right - client.left, client.bottom - client.top,
                                      iconWidth, iconHeight, pressed);
    const int x = client.left + at.dx, y = client.top + at.dy;
    if (disabled) {
        DrawStateW(item.hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y,
                   iconWidth, iconHeight, DST_ICON | DSS_DISABLED);
    } else {
        DrawIconEx(item.hDC, x, y, icon, iconWidth, iconHeight, 0, nullptr, DI_NORMAL);
    }
}

}  // namespace zolt
