#include "ui/transparent_static.h"

#include <commctrl.h>

#include <string>

#include "ui/control_logic.h"

namespace zolt {

namespace {

constexpr UINT_PTR SUBCLASS_ID = 0x5A54;  // one label subclass per window

}  // namespace

CTransparentStatic::~CTransparentStatic() { Detach(); }

bool CTransparentStatic::Attach(HWND staticControl) {
    if (hwnd || !IsWindow(staticControl)) return false;
    if (!SetWindowSubclass(staticControl, SubclassProc, SUBCLASS_ID,
                           reinterpret_cast<DWORD_PTR>(this)))
        return false;
    hwnd = staticControl;
    return true;
}

void CTransparentStatic::Detach() {
    if (!hwnd) return;
    RemoveWindowSubclass(hwnd, SubclassProc, SUBCLASS_ID);
    hwnd = nullptr;
}

LRESULT CALLBACK CTransparentStatic::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam,
                                                  LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<CTransparentStatic*>(ref);
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (HDC dc = BeginPaint(hwnd, &ps)) self->Draw(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        self->Draw(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SYSCOLORCHANGE:
        // Its own colours are the owner's, but what shows through it has changed: the area
        // behind is repainted first.
        if (HWND parent = GetParent(hwnd)) {
            RECT rect{};
            GetWindowRect(hwnd, &rect);
            MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
            InvalidateRect(parent, &rect, TRUE);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        self->Detach();
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void CTransparentStatic::Draw(HDC dc) const {
    RECT client{};
    GetClientRect(hwnd, &client);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    const auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    const UINT format = DrawFlagsForStaticStyle(static_cast<std::uint32_t>(
        GetWindowLongPtrW(hwnd, GWL_STYLE)));
    const int length = static_cast<int>(text.size());
    SetBkMode(dc, TRANSPARENT);
    if (outline) {
        SetTextColor(dc, outlineColour);
        for (const PixelOffset& offset : OUTLINE_OFFSETS) {
            RECT shifted = client;
            OffsetRect(&shifted, offset.dx, offset.dy);
            DrawTextW(dc, text.c_str(), length, &shifted, format);
        }
    }
    SetTextColor(dc, textColour);
    DrawTextW(dc, text.c_str(), length, &client, format);
    if (oldFont) SelectObject(dc, oldFont);
}

}  // namespace zolt
