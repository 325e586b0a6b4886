// The operator's message boxes: one OK button and the icon the core asks for.
#pragma once

#include <windows.h>

#include <atomic>

#include "io/prompt.h"

namespace zolt {

class WindowPrompt : public Prompt {
public:
    // The constructing thread is taken as the window thread.
    WindowPrompt();
    // The window that owns the boxes shown on the window thread; null for none.
    void SetOwner(HWND owner);

    // On the window thread the box is owned by the frame; on any other thread it has no
    // owner, so that it never waits for a window the window thread is busy with.
    void ShowMessage(std::string_view text, PromptIcon icon) override;
    // A worker's box: returns when the operator closes it or once `stopHandle` (a manual-reset
    // event) is signalled, whichever comes first.
    void ShowLineMessage(std::string_view text, PromptIcon icon, std::intptr_t stopHandle) override;

private:
    std::atomic<HWND> owner_{nullptr};
    DWORD windowThread_;
};

// The MB_ICON* flag that shows `icon`.
UINT MessageBoxIconFlags(PromptIcon icon);
inline constexpr const wchar_t* MESSAGE_BOX_CAPTION = L"ZOLT";

}  // namespace zolt
