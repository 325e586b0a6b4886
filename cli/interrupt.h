// Ctrl-C and termination requests, turned into a call on an ordinary thread (never inside a
// signal handler), so the job can be stopped as the Reset button stops it.
#pragma once

#include <functional>

namespace zolt::cli {

// Installs the handler for the rest of the program's run. Call before any other thread starts.
void OnInterrupt(std::function<void()> handler);

}  // namespace zolt::cli
