// A station's day: on each line, phones come one after another, each waits for the tool to do
// its job on it, and is taken away again, the way an operator puts phones on a station's
// cables and takes them off. One thread per line, sleeping on condition variables.
//
//   StationDay day(options, {{"/tmp/line1", {{Millis(50)}, {Millis(50), Detach::Silent}}}});
//   day.Start();
//   ... the tool works on /tmp/line1 ...
//   day.WaitUntilOver(Millis(10000));
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/phone_options.h"
#include "sim/sim_phone.h"
#include "sim/trace.h"

namespace zolt::sim {

// How a phone leaves its line.
enum class Detach {
    Vanish,  // its port goes (a USB cable pulled): the pseudo-terminal closes, the link goes
    Silent,  // lifted off a fixed serial port: the port stays, the phone answers nothing more
    Stay,    // never leaves: the line's later phones never arrive
};

struct DayPhone {
    Millis arriveAfter{0};  // after the line's previous phone left (or the day began)
    Detach detach = Detach::Vanish;
    Millis stayFor{0};  // attached this long after its job before it detaches (not for Stay)
};

struct DayLine {
    std::string link;  // the port's name for the tool: a symbolic link to the phone's port
    std::vector<DayPhone> phones;
};

// What became of one phone; line and phone count from 1.
struct DayPhoneRecord {
    int line = 0;
    int phone = 0;
    bool arrived = false;
    bool left = false;
    int jobs = 0;  // see PhoneState::jobs
};

class StationDay {
public:
    // Line L's phone K is phone number L * 100 + K in the trace and for its random faults
    // (so K up to 99); with a state folder in `options`, it keeps its flash in phone-<number>
    // below it. Nothing is opened yet.
    StationDay(const PhoneOptions& options, std::vector<DayLine> lines,
               std::shared_ptr<TraceSink> trace = nullptr);
    ~StationDay();  // stops
    StationDay(const StationDay&) = delete;
    StationDay& operator=(const StationDay&) = delete;

    // Opens the fixed ports (lines whose first phone is Silent get their port at once, before
    // it arrives) and starts one thread per line. Once only. Throws SimError when a port
    // cannot be opened; a port that cannot be opened later ends its line, with a trace note.
    void Start();
    // Stops every line promptly, whatever the phones are doing, and closes every port.
    void Stop();

    // Whether Stop has been called. Any thread.
    bool Stopped() const { return stopping_.load(); }

    // Every phone so far, its jobs counted up to now. Any thread.
    std::vector<DayPhoneRecord> Records() const;
    // Waits until every phone of every line has arrived and either left or, staying, had its
    // job done (or its line ended early, unable to open its port), until the day is stopped,
    // or until `limit` has passed. Returns whether the day is over.
    bool WaitUntilOver(Millis limit) const;

private:
    struct Line {
        DayLine setup;
        int number = 0;                   // from 1
        std::unique_ptr<SimPhone> phone;  // the port with the phone on it, or detached from it
        std::size_t current = 0;          // records_ index of the phone on it
        bool attached = false;
        bool over = false;
        std::thread thread;
    };

    void Run(Line& line) noexcept;
    void Play(Line& line);
    // Puts phone `k` (from 0) of the line on its port.
    void Arrive(Line& line, std::size_t k);
    void Leave(Line& line, Detach how);
    // Sleeps `duration` unless stopped first; returns false when stopped.
    bool Sleep(Millis duration);
    PhoneOptions OptionsFor(int number) const;
    int NumberOf(const Line& line, std::size_t k) const;
    void Note(int number, const std::string& text) const;

    PhoneOptions options_;
    std::shared_ptr<TraceSink> trace_;
    std::vector<Line> lines_;
    std::vector<DayPhoneRecord> records_;  // line by line, phone by phone
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
};

}  // namespace zolt::sim
