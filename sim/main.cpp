// zolt-phone: plays phones on pseudo-terminals for the tool's tests, benchmark and demo.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/program_options.h"
#include "sim/sim_bank.h"
#include "sim/station_day.h"
#include "sim/trace.h"

namespace {

using namespace zolt::sim;

// Phones that are always there, until a stop signal.
void RunBank(const ProgramOptions& options, std::shared_ptr<TraceSink> trace, const sigset_t& stopSignals) {
    SimBank bank(options.phone, options.bank, std::move(trace));
    bank.Start();
    for (std::size_t i = 0; i < bank.Size(); ++i) std::printf("%s\n", bank[i].Path().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    bank.Stop();
}

// A station's day, until a stop signal or, with --day-exit, until it is over: a watcher
// thread then hands the main thread a signal of its own, so that one sigwait serves both.
void RunDay(const ProgramOptions& options, std::shared_ptr<TraceSink> trace, const sigset_t& stopSignals) {
    StationDay day(options.phone, PlanDay(options.day, options.bank.links, options.phone.faults.seed),
                   std::move(trace));
    day.Start();
    for (const std::string& link : options.bank.links) std::printf("%s\n", link.c_str());
    std::fflush(stdout);
    std::thread watcher;
    if (options.day.exitWhenOver) {
        const pthread_t main = pthread_self();
        watcher = std::thread([&day, main] {
            // Until over or stopped; a day stopped by a signal is not over.
            while (!day.WaitUntilOver(zolt::Millis(3600000))) {
                if (day.Stopped()) return;
            }
            pthread_kill(main, SIGUSR1);
        });
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    day.Stop();
    if (watcher.joinable()) watcher.join();
}

}  // namespace

int main(int argc, char** argv) {
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
    // the signals wait for sigwait below. SIGUSR1 is the day's own: it is over.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (options.day.exitWhenOver) sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        std::shared_ptr<TraceSink> trace;
        if (options.trace == "-") {
            trace = std::make_shared<TraceSink>(std::cerr);
        } else if (!options.trace.empty()) {
            trace = TraceSink::ToFile(options.trace);
        }
        if (options.day.phones > 0) {
            RunDay(options, std::move(trace), stopSignals);
        } else {
            RunBank(options, std::move(trace), stopSignals);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolt-phone: %s\n", e.what());
        return 1;
    }
    return 0;
}
