#include "ui/window_prompt.h"

#include "ui/wide_text.h"

namespace zolt {

namespace {

// What the stop watch and the box's thread share. The watch runs on a thread-pool thread.
struct LineBoxWatch {
    DWORD boxThread = 0;
    std::atomic<bool> stopped{false};
};

// The box is created inside MessageBoxW, so the thread learns its window from a CBT hook.
thread_local LineBoxWatch* currentWatch = nullptr;

void CloseBox(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

BOOL CALLBACK CloseThreadBoxes(HWND window, LPARAM) {
    wchar_t name[16] = {};
    // #32770 is the dialog class that message boxes use.
    if (GetClassNameW(window, name, 16) && lstrcmpW(name, L"#32770") == 0) CloseBox(window);
    return TRUE;
}

void CALLBACK OnStopSignalled(PVOID context, BOOLEAN) {
    auto* watch = static_cast<LineBoxWatch*>(context);
    watch->stopped = true;
    EnumThreadWindows(watch->boxThread, CloseThreadBoxes, 0);
}

// Closes a box that appears after the stop was signalled: the watch may have looked for it
// before it existed.
LRESULT CALLBACK OnBoxActivated(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && currentWatch && currentWatch->stopped) CloseBox(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

UINT MessageBoxIconFlags(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Information: return MB_ICONINFORMATION;
        case PromptIcon::Error: return MB_ICONSTOP;
        case PromptIcon::None: return 0;
    }
    return 0;
}

WindowPrompt::WindowPrompt() : windowThread_(GetCurrentThreadId()) {}

void WindowPrompt::SetOwner(HWND owner) { owner_ = owner; }

void WindowPrompt::ShowMessage(std::string_view text, PromptIcon icon) {
    const HWND owner = GetCurrentThreadId() == windowThread_ ? owner_.load() : nullptr;
    const UINT flags = MB_OK | MessageBoxIconFlags(icon) | (owner ? 0 : MB_SETFOREGROUND | MB_TOPMOST);
    MessageBoxW(owner, WidenCore(text).c_str(), MESSAGE_BOX_CAPTION, flags);
}

void WindowPrompt::ShowLineMessage(std::string_view text, PromptIcon icon, std::intptr_t stopHandle) {
    const auto stop = reinterpret_cast<HANDLE>(stopHandle);
    if (!stop) return ShowMessage(text, icon);
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return;

    LineBoxWatch watch;
    watch.boxThread = GetCurrentThreadId();
    currentWatch = &watch;
    HHOOK hook = SetWindowsHookExW(WH_CBT, OnBoxActivated, nullptr, watch.boxThread);
    HANDLE wait = nullptr;
    RegisterWaitForSingleObject(&wait, stop, OnStopSignalled, &watch, INFINITE, WT_EXECUTEONLYONCE);
    MessageBoxW(nullptr, WidenCore(text).c_str(), MESSAGE_BOX_CAPTION,
                MB_OK | MB_SETFOREGROUND | MB_TOPMOST | MessageBoxIconFlags(icon));
    // Waits for a callback under way: `watch` must outlive it.
    if (wait) UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
    if (hook) UnhookWindowsHookEx(hook);
    currentWatch = nullptr;
}

}  // namespace zolt
