// A Prompt for tests: records every message box instead of showing it.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "io/prompt.h"

namespace zolt::test {

class RecordingPrompt : public Prompt {
public:
    struct Message {
        std::string text;
        PromptIcon icon;
        bool operator==(const Message&) const = default;
    };

    void ShowMessage(std::string_view text, PromptIcon icon) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({std::string(text), icon});
    }

    std::vector<Message> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The texts shown so far, in order.
    std::vector<std::string> texts() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> result;
        for (const Message& m : messages_) result.push_back(m.text);
        return result;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

}  // namespace zolt::test
