#include "sim/station_day.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace zolt::sim {

namespace {
// How long one wait for a job sleeps before it looks again; a stop wakes it at once.
constexpr Millis JOB_WAIT_SLICE{60000};

LineSetup NewPort(const std::string& link) {
    LineSetup setup;
    setup.link = link;
    return setup;
}
}  // namespace

StationDay::StationDay(const PhoneOptions& options, std::vector<DayLine> lines, std::shared_ptr<TraceSink> trace)
    : options_(options), trace_(std::move(trace)), lines_(lines.size()) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Line& line = lines_[i];
        line.setup = std::move(lines[i]);
        line.number = static_cast<int>(i) + 1;
        for (std::size_t k = 0; k < line.setup.phones.size(); ++k) {
            records_.push_back({line.number, static_cast<int>(k) + 1});
        }
    }
}

StationDay::~StationDay() { Stop(); }

void StationDay::Start() {
    if (started_) return;
    started_ = true;
    std::size_t first = 0;
    for (Line& line : lines_) {
        line.current = first;
        first += line.setup.phones.size();
        if (line.setup.phones.empty() || line.setup.phones.front().detach != Detach::Silent) continue;
        // A fixed serial port is there before any phone is put on it.
        const int number = NumberOf(line, 0);
        line.phone = SimPhone::Create(OptionsFor(number), NewPort(line.setup.link), number, trace_);
        line.phone->Detach();
        line.phone->Start();
    }
    for (Line& line : lines_) line.thread = std::thread([this, &line] { Run(line); });
}

void StationDay::Stop() {
    stopping_.store(true);
    {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
        for (Line& line : lines_) {
            if (line.phone) line.phone->Wake();
        }
    }
    for (Line& line : lines_) {
        if (line.thread.joinable()) line.thread.join();
    }
    std::lock_guard lock(mutex_);
    for (Line& line : lines_) {
        // The phones still on their lines keep their count of jobs past their ports.
        if (line.attached) {
            records_[line.current].jobs =
                line.phone->Inspect([](const PhoneCore& p) { return static_cast<int>(p.State().jobs); });
            line.attached = false;
        }
        line.phone.reset();
    }
}

std::vector<DayPhoneRecord> StationDay::Records() const {
    std::lock_guard lock(mutex_);
    std::vector<DayPhoneRecord> records = records_;
    for (const Line& line : lines_) {
        if (!line.attached || !line.phone) continue;
        records[line.current].jobs =
            line.phone->Inspect([](const PhoneCore& p) { return static_cast<int>(p.State().jobs); });
    }
    return records;
}

bool StationDay::WaitUntilOver(Millis limit) const {
    std::unique_lock lock(mutex_);
    const auto over = [this] {
        return std::all_of(lines_.begin(), lines_.end(), [](const Line& line) { return line.over; });
    };
    changed_.wait_for(lock, limit, [&] { return stopping_.load() || over(); });
    return over();
}

void StationDay::Run(Line& line) noexcept {
    try {
        Play(line);
    } catch (const std::exception& e) {
        Note(line.number * 100, std::string("line ended: ") + e.what());
    }
    std::lock_guard lock(mutex_);
    // A stopped line is not over: its day was cut short.
    line.over = !stopping_.load();
    changed_.notify_all();
}

void StationDay::Play(Line& line) {
    const auto& phones = line.setup.phones;
    for (std::size_t k = 0; k < phones.size(); ++k) {
        const DayPhone& phone = phones[k];
        if (!Sleep(phone.arriveAfter)) return;
        Arrive(line, k);
        const auto over = [this](const PhoneCore& p) { return stopping_.load() || p.State().JobOver(); };
        while (!line.phone->WaitUntil(over, JOB_WAIT_SLICE)) {
        }
        if (stopping_.load()) return;
        const int number = NumberOf(line, k);
        if (phone.detach == Detach::Stay) {
            // It never leaves, so the line's later phones never come.
            Note(number, "stays");
            return;
        }
        if (!Sleep(phone.stayFor)) return;
        Leave(line, phone.detach);
    }
}

void StationDay::Arrive(Line& line, std::size_t k) {
    const int number = NumberOf(line, k);
    const DayPhone& phone = line.setup.phones[k];
    std::lock_guard lock(mutex_);
    if (k > 0) ++line.current;
    if (phone.detach == Detach::Silent && line.phone) {
        line.phone->Attach(OptionsFor(number), number);
    } else {
        // A phone that may vanish brings its own port: a fixed port before it goes first.
        line.phone.reset();
        line.phone = SimPhone::Create(OptionsFor(number), NewPort(line.setup.link), number, trace_);
        line.phone->Start();
    }
    line.attached = true;
    records_[line.current].arrived = true;
    changed_.notify_all();
    Note(number, "arrives on " + line.setup.link);
}

void StationDay::Leave(Line& line, Detach how) {
    std::lock_guard lock(mutex_);
    DayPhoneRecord& record = records_[line.current];
    record.jobs = line.phone->Inspect([](const PhoneCore& p) { return static_cast<int>(p.State().jobs); });
    record.left = true;
    line.attached = false;
    const int number = NumberOf(line, static_cast<std::size_t>(record.phone) - 1);
    if (how == Detach::Vanish) {
        Note(number, "leaves: port closed");
        line.phone.reset();
    } else {
        Note(number, "leaves: falls silent");
        line.phone->Detach();
    }
    changed_.notify_all();
}

bool StationDay::Sleep(Millis duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

PhoneOptions StationDay::OptionsFor(int number) const {
    PhoneOptions own = options_;
    if (!own.stateDir.empty()) own.stateDir /= "phone-" + std::to_string(number);
    if (tailor) tailor(number, own);
    return own;
}

int StationDay::NumberOf(const Line& line, std::size_t k) const { return line.number * 100 + static_cast<int>(k) + 1; }

void StationDay::Note(int number, const std::string& text) const {
    if (trace_) trace_->Event(number, text);
}

}  // namespace zolt::sim
