#include "ui/text_progress_ctrl.h"

#include <commctrl.h>

#include <cwchar>

#include "ui/control_logic.h"

namespace zolt {

namespace {

constexpr UINT_PTR SUBCLASS_ID = 0x5A50;  // one progress subclass per window

// The bar's font: its own if it keeps one, else its parent's (the dialog font), since a
// standard progress bar ignores WM_SETFONT and the DC's default is the old system font.
HFONT BarFont(HWND hwnd) {
    auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    if (!font) font = reinterpret_cast<HFONT>(SendMessageW(GetParent(hwnd), WM_GETFONT, 0, 0));
    return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    // An opaque empty ExtTextOut fills without creating a brush.
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

void DrawClipped(HDC dc, const RECT& clip, RECT client, const std::wstring& label,
                 COLORREF colour) {
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    SetTextColor(dc, colour);
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &client,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    RestoreDC(dc, saved);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl() { TakeSystemColours(); }

void CTextProgressCtrl::TakeSystemColours() {
    barColour = GetSysColor(COLOR_HIGHLIGHT);
    bgColour = GetSysColor(COLOR_WINDOW);
    textColour = GetSysColor(COLOR_HIGHLIGHT);
    textOnBarColour = GetSysColor(COLOR_WINDOW);
}

CTextProgressCtrl::~CTextProgressCtrl() { Detach(); }

bool CTextProgressCtrl::Attach(HWND progressBar) {
    if (hwnd || !IsWindow(progressBar)) return false;
    // A text given before (in the template, say) is what the bar shows until it changes.
    const int length = GetWindowTextLengthW(progressBar);
    text.assign(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(progressBar, text.data(), length + 1)));
    SendMessageW(progressBar, PBM_SETRANGE32, lower, upper);
    if (!SetWindowSubclass(progressBar, SubclassProc, SUBCLASS_ID,
                           reinterpret_cast<DWORD_PTR>(this)))
        return false;
    hwnd = progressBar;
    fillWidth = -1;
    InvalidateRect(hwnd, nullptr, TRUE);
    return true;
}

void CTextProgressCtrl::Detach() {
    if (!hwnd) return;
    RemoveWindowSubclass(hwnd, SubclassProc, SUBCLASS_ID);
    hwnd = nullptr;
}

int CTextProgressCtrl::SetPos(int position) {
    if (!hwnd) return -1;
    const int old = pos;
    pos = NextProgressPos(pos, position, lower, upper);
    RECT client{};
    GetClientRect(hwnd, &client);
    const int width = ProgressFillWidth(pos, lower, upper, client.right - client.left);
    if (width != fillWidth) {
        fillWidth = width;
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    return old;
}

LRESULT CALLBACK CTextProgressCtrl::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam,
                                                 LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<CTextProgressCtrl*>(ref);
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel; erasing first would flicker
    case WM_PAINT:
        self->OnPaint();
        return 0;
    case WM_PRINTCLIENT:
        self->Draw(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SIZE: {
        const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
        self->fillWidth = -1;
        return result;
    }
    case WM_TIMER:
        // A themed bar animates a glow over its fill from a timer. None of it shows through
        // this painting, and every tick would repaint all eight bars.
        return 0;
    case WM_SYSCOLORCHANGE:
        self->TakeSystemColours();
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case WM_SETTEXT:
        return self->OnSetText(msg, wParam, lParam);
    case WM_GETTEXT:
        return self->OnGetText(wParam, lParam);
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(self->text.size());
    case WM_NCDESTROY:
        self->Detach();
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CTextProgressCtrl::OnSetText(UINT msg, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (!result) return result;  // the control kept its old text, and so does the bar
    const auto* next = reinterpret_cast<const wchar_t*>(lParam);
    if (!next) next = L"";
    if (text != next) {
        text = next;
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    return result;
}

LRESULT CTextProgressCtrl::OnGetText(WPARAM bufferSize, LPARAM buffer) const {
    auto* out = reinterpret_cast<wchar_t*>(buffer);
    if (!out || bufferSize == 0) return 0;  // no room even for the terminating zero
    const std::size_t copied = TextCopyLength(text.size(), bufferSize);
    std::wmemcpy(out, text.data(), copied);
    out[copied] = L'\0';
    return static_cast<LRESULT>(copied);
}

void CTextProgressCtrl::OnPaint() {
    ++paintCount;
    PAINTSTRUCT ps;
    HDC screen = BeginPaint(hwnd, &ps);
    RECT box{};
    const int region = screen ? GetClipBox(screen, &box) : ERROR;
    if (lower < upper && region != NULLREGION && region != ERROR) {
        const int width = box.right - box.left, height = box.bottom - box.top;
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, width, height) : nullptr;
        if (bitmap) {
            HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
            // The same client coordinates work in the bitmap, which starts at the clip box.
            SetWindowOrgEx(memory, box.left, box.top, nullptr);
            Draw(memory);
            BitBlt(screen, box.left, box.top, width, height, memory, box.left, box.top,
                   SRCCOPY);
            SelectObject(memory, oldBitmap);
            DeleteObject(bitmap);
        } else {
            Draw(screen);  // no memory for a bitmap: flicker rather than show nothing
        }
        if (memory) DeleteDC(memory);
    }
    EndPaint(hwnd, &ps);
}

void CTextProgressCtrl::Draw(HDC dc) const {
    if (lower >= upper) return;
    RECT client{};
    GetClientRect(hwnd, &client);
    const int x = client.left + ProgressFillWidth(pos, lower, upper, client.right - client.left);
    const RECT bar{client.left, client.top, x, client.bottom};
    const RECT rest{x, client.top, client.right, client.bottom};
    FillSolid(dc, bar, barColour);
    FillSolid(dc, rest, bgColour);
    if (!showText) return;
    const std::wstring label = ProgressBarText(text, pos, lower, upper);
    HGDIOBJ oldFont = SelectObject(dc, BarFont(hwnd));
    SetBkMode(dc, TRANSPARENT);
    // Over the fill the text takes the background's colour and over the rest the fill's,
    // so it stays readable wherever the edge of the fill cuts it.
    DrawClipped(dc, bar, client, label, textOnBarColour);
    DrawClipped(dc, rest, client, label, textColour);
    SelectObject(dc, oldFont);
}

}  // namespace zolt
