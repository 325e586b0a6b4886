#include "sim/sim_phone.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

#include "sim/sim_error.h"

namespace zolt::sim {

namespace {

// How much one read takes from the line: more than any frame, escaped.
constexpr std::size_t READ_CHUNK = 4096;

timespec TimeoutUntil(TimePoint at, TimePoint now) {
    const auto left = at > now ? at - now : Clock::duration{0};
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

std::unique_ptr<SimPhone> SimPhone::Create(const PhoneOptions& options, const LineSetup& line,
                                           int number, std::shared_ptr<TraceSink> trace) {
    PhoneLine opened = line.device.empty() ? PhoneLine::OpenPty(line.link)
                                           : PhoneLine::OpenDevice(line.device, options.baud);
    return std::unique_ptr<SimPhone>(new SimPhone(options, std::move(opened), number, std::move(trace)));
}

SimPhone::SimPhone(const PhoneOptions& options, PhoneLine line, int number,
                   std::shared_ptr<TraceSink> trace)
    : core_(std::make_unique<PhoneCore>(options, number, std::move(trace))),
      transmitter_(core_->ByteTime()),
      line_(std::move(line)),
      path_(line_.Path()),
      link_(line_.Link()) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw SimError("cannot create a wake-up pipe");
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    core_->Note("on " + path_ + " in " + PhoneModeName(core_->State().mode));
}

SimPhone::~SimPhone() {
    Stop();
    close(wakeRead_);
    close(wakeWrite_);
}

void SimPhone::Start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] { Run(); });
}

void SimPhone::Stop() {
    stopping_.store(true);
    Nudge();
    if (thread_.joinable()) thread_.join();
}

bool SimPhone::WaitUntil(const std::function<bool(const PhoneCore&)>& condition, Millis limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return condition(*core_); });
}

void SimPhone::Wake() const {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void SimPhone::Nudge() {
    const char one = 1;
    ssize_t ignored = write(wakeWrite_, &one, 1);
    (void)ignored;
}

void SimPhone::Detach() {
    {
        std::lock_guard lock(mutex_);
        if (!attached_) return;
        attached_ = false;
        core_->Output().clear();
        core_->Note("taken off the line");
        changed_.notify_all();
    }
    Nudge();
}

void SimPhone::Attach(const PhoneOptions& options, int number) {
    {
        std::lock_guard lock(mutex_);
        const int users = core_->State().portUsers;
        const std::shared_ptr<TraceSink> trace = core_->Trace();
        core_ = std::make_unique<PhoneCore>(options, number, trace);
        core_->State().portUsers = users;
        // A frame the phone before was halfway through sending is not the new phone's.
        transmitter_ = Transmitter(core_->ByteTime());
        vanishAt_.reset();
        attached_ = true;
        core_->Note("on " + path_ + " in " + PhoneModeName(core_->State().mode));
        changed_.notify_all();
    }
    Nudge();
}

void SimPhone::Run() noexcept {
    try {
        Loop();
    } catch (const std::exception& e) {
        std::lock_guard lock(mutex_);
        core_->Note(std::string("phone stopped: ") + e.what());
    } catch (...) {
        std::lock_guard lock(mutex_);
        core_->Note("phone stopped: unknown error");
    }
}

Transmitter::Step SimPhone::Transmit(TimePoint now) {
    const int fd = line_.Fd();
    auto write_line = [fd](const std::uint8_t* bytes, std::size_t count) -> long {
        for (;;) {
            const ssize_t n = write(fd, bytes, count);
            if (n >= 0) return static_cast<long>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return 0;
            return -1;
        }
    };
    auto done = [this](const Outgoing& item, bool written) {
        if (written) {
            core_->Sent(item);
        } else {
            core_->WriteFailed(item);
        }
    };
    const Transmitter::Step step = transmitter_.Service(core_->Output(), now, write_line, done);
    changed_.notify_all();
    return step;
}

void SimPhone::ReadLine() {
    std::uint8_t buffer[READ_CHUNK];
    const ssize_t n = read(line_.Fd(), buffer, sizeof buffer);
    if (n <= 0) return;
    std::lock_guard lock(mutex_);
    if (!attached_) return;
    core_->Receive(std::span(buffer, static_cast<std::size_t>(n)), Clock::now());
    changed_.notify_all();
}

void SimPhone::Loop() {
    while (!stopping_.load()) {
        Transmitter::Step step;
        std::optional<TimePoint> chatter;
        {
            std::lock_guard lock(mutex_);
            const bool serving = line_.IsOpen() && attached_;
            if (serving) chatter = core_->Chatter(Clock::now());
            if (serving) step = Transmit(Clock::now());
            if (serving && core_->Vanishing() && core_->Output().empty() && transmitter_.Idle()) {
                // A pseudo-terminal drops what the tool has not read yet once its other end
                // closes; a phone pulled out has its last reply in the adapter already. So the
                // line goes a little after the last reply, however slowly the tool reads.
                constexpr auto LINGER = std::chrono::milliseconds(100);
                const TimePoint now = Clock::now();
                if (!vanishAt_) vanishAt_ = now + LINGER;
                if (now >= *vanishAt_) {
                    vanishAt_.reset();
                    line_.Close();
                    core_->Vanished();
                    changed_.notify_all();
                } else if (!step.wakeAt || *vanishAt_ < *step.wakeAt) {
                    step.wakeAt = *vanishAt_;
                }
            }
        }

        pollfd fds[3] = {{wakeRead_, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
        if (line_.IsOpen()) {
            fds[1] = {line_.Fd(), static_cast<short>(POLLIN | (step.waitWritable ? POLLOUT : 0)), 0};
            fds[2] = {line_.WatchFd(), POLLIN, 0};
        }
        timespec timeout{};
        const timespec* wait = nullptr;
        if (chatter && (!step.wakeAt || *chatter < *step.wakeAt)) step.wakeAt = chatter;
        if (step.wakeAt) {
            timeout = TimeoutUntil(*step.wakeAt, Clock::now());
            wait = &timeout;
        }
        if (ppoll(fds, 3, wait, nullptr) < 0 && errno != EINTR) throw SimError("poll failed");
        if (stopping_.load()) break;
        TakeEvents(fds);
    }
}

void SimPhone::TakeEvents(const pollfd (&fds)[3]) {
    if (fds[0].revents & POLLIN) {
        char drained[64];
        while (read(wakeRead_, drained, sizeof drained) > 0) {
        }
    }
    // Opens and closes before what was sent (see PhoneLine::TakeWatchEvents), looked for
    // whenever something came, should poll have reported the line alone.
    if (line_.WatchFd() >= 0 && ((fds[2].revents | fds[1].revents) & POLLIN)) {
        const int users = line_.TakeWatchEvents();
        std::lock_guard lock(mutex_);
        core_->State().portUsers = users;
        changed_.notify_all();
    }
    if (fds[1].revents & POLLIN) ReadLine();
    if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // A device pulled out: nothing more will come, and poll would report it for ever.
        std::lock_guard lock(mutex_);
        core_->State().lineLost = true;
        core_->Note("line lost");
        line_.Close();
        changed_.notify_all();
    }
}

}  // namespace zolt::sim
