#include "station/station.h"

#include <algorithm>
#include <functional>

namespace zolt {

namespace {

void Post(PortSession& line, LineEventSink& sink, unsigned message, std::uintptr_t wParam = 0) {
    sink.PostLineEvent(message, wParam, line.lineNumber);
}

// Until a phone answers: a vanished port is opened again by its name once it is back.
void WatchForPhone(PortSession& line, LineEventSink& sink) {
    bool portGone = false;
    for (;;) {
        if (!line.ReopenLostLink()) {
            if (!portGone) Post(line, sink, WM_STATION_PORT_GONE);
            portGone = true;
            line.Pause(line.timing.portReturnCheck);
            continue;
        }
        if (portGone) Post(line, sink, WM_STATION_PORT_BACK);
        portGone = false;
        if (line.WaitForPhone() == Presence::Answers) {
            Post(line, sink, WM_STATION_PHONE_HERE);
            return;
        }
    }
}

void WatchLine(PortSession& line, LineEventSink& sink, bool untilGone) {
    try {
        if (untilGone) {
            const Presence gone = line.WaitUntilPhoneGone();
            Post(line, sink, WM_STATION_PHONE_GONE, gone == Presence::PortGone ? 1 : 0);
        } else {
            WatchForPhone(line, sink);
        }
    } catch (const LineStopped&) {
        // The station stopped the line: nothing more to say.
    } catch (...) {
        // Nothing may escape a thread; a line whose watch broke takes no more phones.
        line.SetStatusText("Internal error!");
    }
}

}  // namespace

Station::Station(LineGroups& groups, std::vector<int> lineIndexes, LineEventSink& sink)
    : groups_(groups), sink_(sink), watchers_(lineIndexes.size()), traces_(lineIndexes.size()) {
    for (const int index : lineIndexes) {
        StationLine line;
        line.line = index;
        line.state = groups_.Line(index).IsPortLost() ? StationState::WaitingForPort : StationState::WaitingForPhone;
        lines_.push_back(line);
        traces_[lines_.size() - 1] = groups_.Line(index).trace;
    }
}

Station::~Station() { (void)StopNow(); }

void Station::Start() {
    for (std::size_t k = 0; k < lines_.size(); ++k) StartWatch(k, Watch::ForPhone);
}

void Station::StartWatch(std::size_t k, Watch what) {
    StopWatch(k);
    PortSession& line = groups_.Line(lines_[k].line);
    // The watch's probes, five a second on every line all day, would bury the jobs' frames.
    line.trace = nullptr;
    watchers_[k] = std::thread(WatchLine, std::ref(line), std::ref(sink_), what == Watch::UntilGone);
}

void Station::StopWatch(std::size_t k) {
    if (!watchers_[k].joinable()) return;
    PortSession& line = groups_.Line(lines_[k].line);
    line.stop.Raise();
    watchers_[k].join();
    line.stop.Clear();
    line.trace = traces_[k];
}

StationLine* Station::Find(std::intptr_t lineNumber) {
    for (StationLine& line : lines_) {
        if (line.line + 1 == lineNumber) return &line;
    }
    return nullptr;
}

int Station::OnEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    StationLine* found = Find(lParam);
    if (!found) return -1;
    const auto k = static_cast<std::size_t>(found - lines_.data());
    StationLine& line = *found;
    switch (message) {
        case WM_STATION_PORT_GONE:
            if (line.state == StationState::WaitingForPhone) line.state = StationState::WaitingForPort;
            return -1;
        case WM_STATION_PORT_BACK:
            if (line.state == StationState::WaitingForPort) line.state = StationState::WaitingForPhone;
            return -1;
        case WM_STATION_PHONE_HERE:
            if (line.state == StationState::WaitingForPhone || line.state == StationState::WaitingForPort) PhoneHere(k);
            return -1;
        case WM_STATION_PHONE_GONE:
            if (line.state != StationState::TakeOff) return -1;
            StopWatch(k);
            line.state = wParam ? StationState::WaitingForPort : StationState::WaitingForPhone;
            StartWatch(k, Watch::ForPhone);
            return -1;
        case WM_PORT_TASK_DONE:
            groups_.OnLineEvent(message, wParam, lParam);
            return -1;
        case WM_PORT_FAILED:
        case WM_PORT_ALL_DONE:
            groups_.OnLineEvent(message, wParam, lParam);
            if (line.state != StationState::Working) return -1;
            PhoneEnded(k);
            return line.line;
        default:
            return -1;
    }
}

void Station::PhoneHere(std::size_t k) {
    StationLine& line = lines_[k];
    StopWatch(k);
    if (draining_ || (count_ >= 0 && started_ >= count_)) {
        line.state = StationState::Stopped;
        return;
    }
    if (!groups_.StartLine(line.line)) {
        // Not idle or not attached: nothing this station can do for the line.
        line.state = StationState::Stopped;
        return;
    }
    line.state = StationState::Working;
    line.started = std::chrono::steady_clock::now();
    ++started_;
    // The phones counted out are all started: the other lines take no more.
    if (count_ >= 0 && started_ >= count_) Drain();
}

void Station::PhoneEnded(std::size_t k) {
    StationLine& line = lines_[k];
    const TaskList& tasks = groups_.Group(LineGroups::GroupOf(line.line)).tasks;
    line.lastPassed = LineResult(tasks, LineGroups::IndexInGroup(line.line)) == "ok";
    ++(line.lastPassed ? line.passed : line.failed);
    line.lastEnded = std::chrono::steady_clock::now();
    line.state = StationState::TakeOff;
    if (draining_) {
        Retire(line);
        return;
    }
    StartWatch(k, Watch::UntilGone);
}

void Station::Retire(StationLine& line) {
    if (line.state == StationState::TakeOff) line.endedOnPhone = true;
    line.state = StationState::Stopped;
}

void Station::Drain() {
    draining_ = true;
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        if (lines_[k].state == StationState::Working) continue;
        StopWatch(k);
        Retire(lines_[k]);
    }
}

std::vector<int> Station::StopNow() {
    draining_ = true;
    std::vector<int> abandoned;
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        StopWatch(k);
        if (lines_[k].state == StationState::Working) {
            groups_.StopLine(lines_[k].line);
            abandoned.push_back(lines_[k].line);
        }
        Retire(lines_[k]);
    }
    return abandoned;
}

bool Station::Over() const {
    return std::all_of(lines_.begin(), lines_.end(),
                       [](const StationLine& line) { return line.state == StationState::Stopped; });
}

int Station::Passed() const {
    int n = 0;
    for (const StationLine& line : lines_) n += line.passed;
    return n;
}

int Station::Failed() const {
    int n = 0;
    for (const StationLine& line : lines_) n += line.failed;
    return n;
}

int Station::Working() const {
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                          [](const StationLine& line) { return line.state == StationState::Working; }));
}

}  // namespace zolt
