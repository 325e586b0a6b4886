// A simulated phone on a line of its own, served by a thread of its own.
//
// The thread sleeps in poll() on the line and on a wake-up pipe, reads what the tool sends,
// lets the phone's core answer, and paces the replies out; it wakes only when bytes come,
// when a reply is due, or when the phone is stopped. Phones share nothing but, when given
// one, a trace sink.
//
//   auto phone = SimPhone::Create(options, LineSetup{});   // a new pseudo-terminal
//   phone->Start();
//   session.OpenLink(phone->Path(), 115200);
//   ...
//   phone->WaitUntil([](const PhoneCore& p) { return p.State().Count(ID_RELEASE_SECOND); }, 1s);
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sim/phone_core.h"
#include "sim/phone_line.h"
#include "sim/phone_options.h"
#include "sim/trace.h"
#include "sim/transmitter.h"

struct pollfd;

namespace zolt::sim {

struct LineSetup {
    std::string device;  // a serial device to use; empty: a new pseudo-terminal
    std::string link;    // pseudo-terminal only: a symbolic link to make to its port
};

class SimPhone {
public:
    // Opens the line and sets the phone up without starting it. `number` names the phone in
    // the trace and varies its random faults. Throws SimError when the line cannot be opened.
    static std::unique_ptr<SimPhone> Create(const PhoneOptions& options, const LineSetup& line,
                                            int number = 1,
                                            std::shared_ptr<TraceSink> trace = nullptr);
    ~SimPhone();  // stops the phone and closes its line
    SimPhone(const SimPhone&) = delete;
    SimPhone& operator=(const SimPhone&) = delete;

    // The port the tool opens (a /dev/pts/N path, or the device), and the link made to it.
    const std::string& Path() const { return path_; }
    const std::string& Link() const { return link_; }

    // The handlers, to add or replace some; only before Start, and for the phone put on the
    // line by Create only (Attach brings its own).
    MessageTable& Handlers() { return core_->Table(); }

    // Starts the phone's thread. Once only.
    void Start();
    // Stops the thread (promptly, whatever the phone is doing) and waits for it. The line
    // stays open until the phone is destroyed, so the port does not vanish under the tool.
    void Stop();

    // A phone taken off a fixed serial port: the line stays open, what comes is read and
    // dropped, and nothing more goes out (a reply half sent stays half sent). The phone's
    // core stays for Inspect and WaitUntil. Any thread.
    void Detach();
    // A brand-new phone put on the same line: new state, flash and handlers, as one never
    // seen before, named `number` in the trace. Any thread, attached or not.
    void Attach(const PhoneOptions& options, int number);
    // Makes every WaitUntil check its condition again, for conditions on the caller's own
    // state (a stop flag). Any thread.
    void Wake() const;

    // Runs `look` on the phone's core with the phone held still; any thread.
    template <class F>
    auto Inspect(F&& look) const {
        std::lock_guard lock(mutex_);
        return look(static_cast<const PhoneCore&>(*core_));
    }
    // Waits until `condition` holds (checked whenever the phone has received or sent
    // something) or `limit` has passed. Returns whether it holds.
    bool WaitUntil(const std::function<bool(const PhoneCore&)>& condition, Millis limit) const;

private:
    SimPhone(const PhoneOptions& options, PhoneLine line, int number,
             std::shared_ptr<TraceSink> trace);
    void Run() noexcept;
    void Loop();
    // One pass over the line's output; returns what the next poll waits for.
    Transmitter::Step Transmit(TimePoint now);
    void ReadLine();
    // What poll reported on the wake-up pipe, the line and the watch of its port.
    void TakeEvents(const pollfd (&fds)[3]);
    // Makes the thread's poll return and look at the phone again.
    void Nudge();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::unique_ptr<PhoneCore> core_;  // replaced whole by Attach
    bool attached_ = true;
    Transmitter transmitter_;
    // When a vanishing phone, its last reply out, closes its line.
    std::optional<TimePoint> vanishAt_;
    PhoneLine line_;
    std::string path_;
    std::string link_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace zolt::sim
