// Message boxes of the command line: one line on standard error each.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "io/prompt.h"

namespace zolt::cli {

class ConsolePrompt : public Prompt {
public:
    void ShowMessage(std::string_view text, PromptIcon) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "zolt: %.*s\n", static_cast<int>(text.size()), text.data());
        std::fflush(stderr);
        ++count_;
    }
    int count() const { return count_; }

private:
    std::mutex mutex_;
    int count_ = 0;
};

}  // namespace zolt::cli
