// Ctrl-C and termination requests, turned into a call on an ordinary thread (never inside a
// signal handler), so the job can be stopped as the Reset button stops it.
#pragma once

#include <functional>

namespace zolt::cli {

// Sets the handler; an empty one ignores interrupts from then on. The first call must come
// before any other thread starts. Once this returns, the previous handler is not running and
// will not be called again, so what it refers to may go.
void OnInterrupt(std::function<void()> handler);

// Clears the handler when it goes out of scope.
struct InterruptScope {
    explicit InterruptScope(std::function<void()> handler) { OnInterrupt(std::move(handler)); }
    ~InterruptScope() { OnInterrupt({}); }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

}  // namespace zolt::cli
