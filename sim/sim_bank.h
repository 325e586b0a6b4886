// Several phones in one process, numbered from 1, each with its own line, state and thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_phone.h"

namespace zolt::sim {

struct BankSetup {
    int count = 1;                     // phones on new pseudo-terminals
    std::vector<std::string> links;    // links[k]: a symbolic link to phone k+1's port
    std::vector<std::string> devices;  // instead of pseudo-terminals: one phone per device
};

class SimBank {
public:
    // Opens every line. With a state folder in `options`, one phone keeps its flash in that
    // folder, several in its subfolders phone-1, phone-2, ... Throws SimError (and closes
    // what it had opened) when a line cannot be opened.
    SimBank(const PhoneOptions& options, const BankSetup& setup,
            std::shared_ptr<TraceSink> trace = nullptr);

    void Start();
    void Stop();

    std::size_t Size() const { return phones_.size(); }
    SimPhone& operator[](std::size_t i) { return *phones_[i]; }

private:
    std::vector<std::unique_ptr<SimPhone>> phones_;
};

}  // namespace zolt::sim
