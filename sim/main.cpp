// zolt-phone: plays phones on pseudo-terminals for the tool's tests, benchmark and demo.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/program_options.h"
#include "sim/sim_bank.h"
#include "sim/trace.h"

int main(int argc, char** argv) {
    using namespace zolt::sim;
    ProgramOptions options;
    std::string error;
    if (!ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "zolt-phone: %s\nTry 'zolt-phone --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(ProgramUsage(), stdout);
        return 0;
    }

    // Blocked before any phone thread exists, so that every thread inherits the mask and
    // the signals wait for sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        std::shared_ptr<TraceSink> trace;
        if (options.trace == "-") {
            trace = std::make_shared<TraceSink>(std::cerr);
        } else if (!options.trace.empty()) {
            trace = TraceSink::ToFile(options.trace);
        }
        SimBank bank(options.phone, options.bank, trace);
        bank.Start();
        for (std::size_t i = 0; i < bank.Size(); ++i) std::printf("%s\n", bank[i].Path().c_str());
        std::fflush(stdout);

        int received = 0;
        sigwait(&stopSignals, &received);
        bank.Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-phone: %s\n", e.what());
        return 1;
    }
    return 0;
}
