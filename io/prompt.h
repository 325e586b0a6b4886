// Message boxes. The core speaks to the operator only through this interface; each front end
// implements it (a modal box in the Win32 program, a line on stderr in the command line, a
// recorder in tests). Implementations must accept calls from any thread: the calibration
// backup reports local-file failures from a line's worker.
#pragma once

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
};

}  // namespace zolt
