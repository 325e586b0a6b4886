// Rows redrawn in place on a terminal, with the notices that stand above them: what the
// displays of `zolt run` and `zolt station` share.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace zolt::cli {

class LiveRows {
public:
    explicit LiveRows(std::FILE* out) : out_(out) {}

    // A text the operator should see once; any thread. Written, to standard error, at the
    // next Draw or FlushNotices.
    void AddNotice(const std::string& text);
    void FlushNotices();

    // Goes back over the rows drawn last (each as many terminal rows as `width` makes of it,
    // after a resize too), writes the notices not shown yet, and draws `rows` below them.
    void Draw(std::vector<std::string> rows, int width);
    // The rows on the screen are left as they are: the next Draw starts below them.
    void Forget() { drawn_.clear(); }

private:
    std::FILE* out_;
    std::mutex noticeMutex_;
    std::vector<std::string> notices_;  // not shown yet
    std::vector<std::string> drawn_;    // the rows as last drawn
};

}  // namespace zolt::cli
