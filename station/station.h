// A station: every line runs the job on its own, one phone after another, all day. A line
// waits for a phone to answer, runs the job on it, and then waits until that phone is gone
// (its port vanished, or it stopped answering) before it waits for the next: a finished phone
// left on its line is never done twice, and no line waits for another.
//
// The waits for a phone and for its going run on a watcher thread per line, which posts what
// it saw to the same sink as the lines' workers; the station is driven from the owner's
// thread, which hands it every event of that sink.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "job/line_events.h"
#include "job/line_groups.h"

namespace zolt {

// What a line's watcher tells the owner; lParam is the line number, 1 to 32.
inline constexpr unsigned WM_STATION_PHONE_HERE = 1130;  // a phone answers on the line
inline constexpr unsigned WM_STATION_PHONE_GONE = 1131;  // the phone is gone; wParam 1 when its port vanished
inline constexpr unsigned WM_STATION_PORT_GONE = 1132;   // the port is not there: waited for by its name
inline constexpr unsigned WM_STATION_PORT_BACK = 1133;   // the port is there again

enum class StationState {
    WaitingForPort,   // the port has vanished (or was never there): waited for by its name
    WaitingForPhone,  // the port is open and no phone answers yet
    Working,          // the job runs on the line's phone
    TakeOff,          // the phone is finished and still on the line
    Stopped,          // the line takes no more phones
};

struct StationLine {
    int line = 0;  // index among the lines, 0 to 31
    StationState state = StationState::WaitingForPhone;
    int passed = 0;
    int failed = 0;
    bool lastPassed = false;  // the outcome of the line's last phone, once it has had one
    bool endedOnPhone = false;  // stopped with its finished phone still on it
    std::chrono::steady_clock::time_point started;                   // when its last phone was started
    std::optional<std::chrono::steady_clock::time_point> lastEnded;  // when its last phone ended
};

class Station {
public:
    // `lineIndexes`: the lines of `groups` that take part, attached, with the job prepared
    // (LineGroups::PrepareLines). `sink` is where the lines' workers post: the watchers post
    // there too.
    Station(LineGroups& groups, std::vector<int> lineIndexes, LineEventSink& sink);
    ~Station();  // stops every watcher and every worker
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Every line starts waiting for its phone.
    void Start();
    // Takes no new phone once `count` phones have started; the station is over when they
    // have ended. Before Start.
    void SetCount(int count) { count_ = count; }

    // A worker's or watcher's event, on the owner's thread. Returns the line index when a
    // phone ended with it (its outcome counted), -1 otherwise.
    int OnEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    // The display tick: the working lines' progress and status.
    void OnTimer() { groups_.OnTimer(); }

    // Takes no new phone: the lines between phones stop now, and each working line stops
    // once its phone has ended.
    void Drain();
    // Stops every line at once; a phone in the middle of its job is abandoned (and recorded
    // as stopped). Returns the indexes of the lines whose phone was abandoned so.
    std::vector<int> StopNow();
    // No line works and none takes another phone.
    bool Over() const;

    const std::vector<StationLine>& Lines() const { return lines_; }
    int Passed() const;
    int Failed() const;
    int Working() const;

private:
    enum class Watch { ForPhone, UntilGone };
    StationLine* Find(std::intptr_t lineNumber);
    void StartWatch(std::size_t k, Watch what);
    void StopWatch(std::size_t k);
    void PhoneHere(std::size_t k);
    void PhoneEnded(std::size_t k);
    // The line takes no more phones; a finished phone still on it keeps its outcome shown.
    static void Retire(StationLine& line);

    LineGroups& groups_;
    LineEventSink& sink_;
    std::vector<StationLine> lines_;
    std::vector<std::thread> watchers_;  // one per line, when it watches
    std::vector<FrameTrace*> traces_;    // each line's trace, set aside while it watches
    int count_ = -1;                     // phones to start in all; -1: no end
    int started_ = 0;
    bool draining_ = false;
};

}  // namespace zolt
