// A text that one thread replaces while another reads it: the reader always gets a whole
// copy of one version, never a half-replaced string.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace zolt {

class SharedText {
public:
    void Set(std::string_view text) {
        std::string copy(text);
        std::lock_guard lock(mutex_);
        text_.swap(copy);
    }
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace zolt
