// The self-drawn controls as real windows: a visible parent with a progress bar, labels and
// buttons, pumped and rendered into bitmaps.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "res/resource.h"
#include "ui/image_button.h"
#include "ui/render_win32.h"  // tests/ui
#include "ui/text_progress_ctrl.h"
#include "ui/transparent_static.h"

namespace zolt {
namespace {

COLORREF parentBackground = RGB(255, 255, 255);
int parentCommands = 0;

LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        ++parentCommands;
        return 0;
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(hwnd, &client);
        HBRUSH brush = CreateSolidBrush(parentBackground);
        FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
        DeleteObject(brush);
        return 1;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void Pump(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

using test::Render;

class Controls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&init));
        WNDCLASSW cls{};
        cls.lpfnWndProc = ParentProc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"ZoltControlsTest";
        cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        RegisterClassW(&cls);
    }
    static void TearDownTestSuite() { DestroyWindow(parent); }
    // One parent for all: without a window manager, wine waits two seconds for every
    // top-level window that goes away.
    void SetUp() override {
        parentBackground = RGB(255, 255, 255);
        parentCommands = 0;
        if (!parent)
            parent = CreateWindowExW(0, L"ZoltControlsTest", L"controls",
                                     WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0,
                                     400, 200, nullptr, nullptr, GetModuleHandleW(nullptr),
                                     nullptr);
        ASSERT_NE(parent, nullptr);
        InvalidateRect(parent, nullptr, TRUE);
    }
    void TearDown() override {
        while (HWND child = GetWindow(parent, GW_CHILD)) DestroyWindow(child);
    }

    HWND Child(const wchar_t* cls, DWORD style, int x, int y, int w, int h, int id,
               const wchar_t* text = L"") {
        return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
    }

    static HWND parent;
};

HWND Controls::parent = nullptr;

TEST_F(Controls, ProgressMovesForwardOnlyAndRepaintsOnlyOnChange) {
    CTextProgressCtrl bar;
    EXPECT_EQ(bar.SetPos(10), -1);
    ASSERT_TRUE(bar.Attach(Child(PROGRESS_CLASSW, WS_BORDER, 10, 10, 200, 20, 1002)));
    Pump(parent);

    struct Step { int requested, returned, pos; };
    for (const Step& s : {Step{40, 0, 40}, Step{30, 40, 40}, Step{0, 40, 0}, Step{150, 0, 100}}) {
        EXPECT_EQ(bar.SetPos(s.requested), s.returned) << s.requested;
        EXPECT_EQ(bar.Pos(), s.pos) << s.requested;
    }

    const int before = bar.PaintCount();
    SetWindowTextW(bar.Handle(), L"Waiting...");
    Pump(parent);
    SetWindowTextW(bar.Handle(), L"Waiting...");
    Pump(parent);
    EXPECT_EQ(bar.PaintCount(), before + 1) << "the same text twice";
    wchar_t shortBuffer[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(GetWindowTextW(bar.Handle(), shortBuffer, 4), 3);
    EXPECT_STREQ(shortBuffer, L"Wai");

    bar.SetPos(0);  // an empty bar is 0 pixels wide at any size
    const int empty = bar.PaintCount();
    bar.SetPos(0);
    EXPECT_EQ(bar.PaintCount(), empty) << "the same position again";
    SetWindowPos(bar.Handle(), nullptr, 0, 0, 150, 20, SWP_NOMOVE | SWP_NOZORDER);
    Pump(parent);
    const int resized = bar.PaintCount();
    bar.SetPos(0);
    EXPECT_EQ(bar.PaintCount(), resized + 1) << "the first position after a resize";
}

TEST_F(Controls, ProgressFillEndsWhereThePositionSays) {
    CTextProgressCtrl bar;
    HWND window = Child(PROGRESS_CLASSW, 0, 10, 10, 200, 20, 1002);
    ASSERT_TRUE(bar.Attach(window));
    SetWindowTextW(window, L"");
    bar.SetPos(29);  // 58 of 200 pixels
    const auto pixels = Render(window, 200, 20, RGB(1, 2, 3));
    EXPECT_EQ(pixels[57], GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(pixels[58], GetSysColor(COLOR_WINDOW));
}

TEST_F(Controls, OutlinedLabelSurroundsItsTextWithTheOutlineColour) {
    const COLORREF text = RGB(0, 0, 255), halo = RGB(255, 0, 0), behind = RGB(255, 255, 255);
    // Smoothed glyph edges would blend text and halo into colours of neither.
    HFONT font = CreateFontW(-14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             NONANTIALIASED_QUALITY, 0, L"Tahoma");
    for (const bool on : {true, false}) {
        CTransparentStatic label;
        HWND window = Child(L"STATIC", SS_CENTER | SS_CENTERIMAGE, 10, 40, 120, 24, 1032,
                            L"ZOLT 48");
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ASSERT_TRUE(label.Attach(window));
        label.SetTextColour(text);
        label.SetOutline(halo, on);
        const int w = 120, h = 24;
        const auto pixels = Render(window, w, h, behind);
        int textPixels = 0, haloPixels = 0, bare = 0;
        for (int y = 1; y < h - 1; ++y) {
            for (int x = 1; x < w - 1; ++x) {
                const COLORREF p = pixels[static_cast<std::size_t>(y * w + x)];
                haloPixels += p == halo;
                if (p != text) continue;
                ++textPixels;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        bare += pixels[static_cast<std::size_t>((y + dy) * w + x + dx)] == behind;
            }
        }
        EXPECT_GT(textPixels, 20) << on;
        if (on) {
            EXPECT_GT(haloPixels, textPixels / 2);
            EXPECT_EQ(bare, 0) << "text pixels next to the background";
        } else {
            EXPECT_EQ(haloPixels, 0);
            EXPECT_GT(bare, 0);
        }
        DestroyWindow(window);
    }
    DeleteObject(font);
}

TEST_F(Controls, LampDestroysTheIconItReplaces) {
    CImageButton lamp;
    ASSERT_TRUE(lamp.Attach(Child(L"BUTTON", BS_PUSHBUTTON, 10, 70, 26, 29, IDC_LAMP1)));
    lamp.SetIcon(IDI_LAMP_ON);
    const HICON first = lamp.Icon();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(first, &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    lamp.SetIcon(IDI_LAMP_OFF);
    EXPECT_NE(lamp.Icon(), nullptr);
    EXPECT_FALSE(GetIconInfo(first, &info));
}

TEST_F(Controls, LampShowsItsIconOverTheParentsCurrentBackground) {
    CImageButton lamp;
    HWND window = Child(L"BUTTON", BS_PUSHBUTTON, 10, 70, 26, 29, IDC_LAMP1);
    ASSERT_TRUE(lamp.Attach(window));
    const auto show = [&](int icon) {
        lamp.SetIcon(icon);
        lamp.SetDrawBorder(false, true);
        lamp.SetTransparent(false);
        Pump(parent);
        return Render(window, 26, 29, RGB(1, 2, 3));
    };
    // The icon sits at (5, 6); its pixel (10, 9) is lamp body, off the highlight.
    const std::size_t corner = 0, body = (6 + 9) * 26 + 5 + 10;
    auto pixels = show(IDI_LAMP_ON);
    EXPECT_EQ(pixels[corner], RGB(255, 255, 255));
    EXPECT_EQ(pixels[body], RGB(0, 255, 0));

    parentBackground = RGB(200, 100, 50);
    InvalidateRect(parent, nullptr, TRUE);
    pixels = show(IDI_LAMP_OFF);
    EXPECT_EQ(pixels[corner], RGB(200, 100, 50)) << "background captured before the change";
    EXPECT_EQ(pixels[body], RGB(0, 128, 0));
}

TEST_F(Controls, LampClicksNeverReachTheParent) {
    CImageButton lamp;
    HWND lampWindow = Child(L"BUTTON", BS_PUSHBUTTON, 10, 70, 26, 29, IDC_LAMP1);
    HWND plain = Child(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 50, 70, 60, 29, IDC_DONE, L"Done");
    ASSERT_TRUE(lamp.Attach(lampWindow));
    Pump(parent);

    // A click takes the focus; the owner-drawn button class would answer a double click
    // with BN_DOUBLECLICKED alone and leave the focus where it was.
    struct Case { HWND button; UINT first; int commands; };
    for (const Case& c : {Case{plain, BM_CLICK, 1}, Case{lampWindow, WM_LBUTTONDBLCLK, 0},
                          Case{plain, BM_CLICK, 1}, Case{lampWindow, BM_CLICK, 0}}) {
        parentCommands = 0;
        SendMessageW(c.button, c.first, c.first == BM_CLICK ? 0 : MK_LBUTTON, 0);
        if (c.first != BM_CLICK) SendMessageW(c.button, WM_LBUTTONUP, 0, 0);
        Pump(parent);
        EXPECT_EQ(parentCommands, c.commands) << c.first;
        EXPECT_EQ(GetFocus(), c.button) << c.first;
    }
    EnableWindow(lampWindow, FALSE);
    EXPECT_EQ(GetFocus(), plain) << "a disabled lamp passes the focus on";
}

}  // namespace
}  // namespace zolt
