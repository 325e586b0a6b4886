#include "cli/live_rows.h"

#include <algorithm>
#include <utility>

namespace zolt::cli {

void LiveRows::AddNotice(const std::string& text) {
    std::lock_guard lock(noticeMutex_);
    notices_.push_back(text);
}

void LiveRows::FlushNotices() {
    std::vector<std::string> notices;
    {
        std::lock_guard lock(noticeMutex_);
        notices.swap(notices_);
    }
    for (const std::string& text : notices) std::fprintf(stderr, "zolt: %s\n", text.c_str());
    std::fflush(stderr);
}

void LiveRows::Draw(std::vector<std::string> rows, int width) {
    // Rows drawn before a resize may now take more than one row each.
    int up = 0;
    for (const std::string& row : drawn_) up += std::max(1, static_cast<int>((row.size() + width) / (width + 1)));
    if (up > 0) std::fprintf(out_, "\x1b[%dA\r\x1b[J", up);
    // Notices stay above the rows, which are drawn again below them.
    std::fflush(out_);
    FlushNotices();
    drawn_ = std::move(rows);
    for (const std::string& row : drawn_) std::fprintf(out_, "\r%s\x1b[K\n", row.c_str());
    std::fflush(out_);
}

}  // namespace zolt::cli
