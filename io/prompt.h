// Message boxes. The core speaks to the operator only through this interface; each front end
// implements it (a modal box in the Win32 program, a line on stderr in the command line, a
// recorder in tests). Implementations must accept calls from any thread: the calibration
// backup reports local-file failures from a line's worker.
#pragma once

#include <cstdint>
#include <string_view>

namespace zolt {

enum class PromptIcon {
    Information,  // the start checks
    Error,        // refusals and failures (the stop icon)
    None,         // the calibration layer's local-file failures, shown without an icon
};

class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows `text` with one OK button and returns when the operator has read it.
    virtual void ShowMessage(std::string_view text, PromptIcon icon) = 0;
    // Shows `text` from a line's worker. Returns when the operator has read it, or soon after
    // the line's stop signal is raised: `stopHandle` is that signal's native handle (the HANDLE
    // of a manual-reset event on Win32, a descriptor readable while raised on POSIX), and a
    // front end whose box would wait for a person closes the box when it is signalled, so
    // that stopping a line never waits for the operator. The default shows it as above.
    virtual void ShowLineMessage(std::string_view text, PromptIcon icon, std::intptr_t stopHandle) {
        (void)stopHandle;
        ShowMessage(text, icon);
    }
};

}  // namespace zolt
