#include "sim/program_options.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

#include "sim/request_kind.h"
#include "sim/sim_random.h"

namespace zolt::sim {

namespace {

// Phones on one machine: far more lines than the tool drives, few enough to stay sane.
constexpr std::uint64_t MAX_PHONES = 64;
// Up to a minute for any of the phone's own delays.
constexpr std::uint64_t MAX_DELAY_MS = 60000;
// Phones a line plays in a day: each is numbered line * 100 + its place.
constexpr std::uint64_t MAX_DAY_PHONES = 99;
// Block numbers past this would name a flash area of over 35 MB, more than any section.
constexpr std::uint64_t MAX_BLOCK = 100000;

std::optional<std::uint64_t> Unsigned(const std::string& text, std::uint64_t low, std::uint64_t high) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<double> Fraction(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || !(value >= 0 && value <= 1)) return std::nullopt;
    return value;
}

bool IsBaud(std::uint64_t b) {
    for (std::uint64_t known : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600}) {
        if (b == known) return true;
    }
    return false;
}

using Setter = std::function<bool(const std::string& value, ProgramOptions& o)>;
struct Option {
    bool takesValue;
    Setter set;
};

Option Number(std::uint64_t low, std::uint64_t high, std::function<void(ProgramOptions&, std::uint64_t)> f) {
    return {true, [=](const std::string& v, ProgramOptions& o) {
                auto n = Unsigned(v, low, high);
                if (n) f(o, *n);
                return n.has_value();
            }};
}

Option Delay(zolt::Millis PhoneOptions::*field) {
    return Number(0, MAX_DELAY_MS, [field](ProgramOptions& o, std::uint64_t n) {
        o.phone.*field = zolt::Millis(static_cast<long>(n));
    });
}

Option FaultDelay(zolt::Millis FaultOptions::*field) {
    return Number(0, MAX_DELAY_MS, [field](ProgramOptions& o, std::uint64_t n) {
        o.phone.faults.*field = zolt::Millis(static_cast<long>(n));
    });
}

// ACTION:KIND or ACTION:KIND:N, as "late:block:3".
bool ParseRule(const std::string& text, FaultRule& rule) {
    const auto first = text.find(':');
    if (first == std::string::npos) return false;
    const auto second = text.find(':', first + 1);
    const auto action = ParseFaultAction(std::string_view(text).substr(0, first));
    const auto kind = ParseRequestKind(std::string_view(text).substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
    if (!action || !kind) return false;
    rule.action = *action;
    rule.target = *kind;
    if (second == std::string::npos) return true;
    const auto nth = Unsigned(text.substr(second + 1), 0, std::numeric_limits<std::uint32_t>::max());
    if (nth) rule.nth = *nth;
    return nth.has_value();
}

// A rule with its target and action fixed, aimed at the request numbered by the value.
Option Aimed(FaultAction action, RequestKind target) {
    return Number(1, std::numeric_limits<std::uint32_t>::max(), [=](ProgramOptions& o, std::uint64_t n) {
        o.phone.faults.rules.push_back({action, target, n});
    });
}

Option Rate(double FaultOptions::*field) {
    return {true, [field](const std::string& v, ProgramOptions& o) {
                auto f = Fraction(v);
                if (f) o.phone.faults.*field = *f;
                return f.has_value();
            }};
}

Option Flag(std::function<void(ProgramOptions&)> f) {
    return {false, [f](const std::string&, ProgramOptions& o) {
                f(o);
                return true;
            }};
}

// A day-only option: remembered, so that it is refused without --day-phones.
Option DayOnly(const char* name, Option option) {
    return {option.takesValue, [name, set = std::move(option.set)](const std::string& v, ProgramOptions& o) {
                if (o.dayOnly.empty()) o.dayOnly = name;
                return set(v, o);
            }};
}

// T or T-U: a time, or one drawn from [T, U].
Option Span(const char* name, zolt::Millis DayPlan::*low, zolt::Millis DayPlan::*high) {
    return DayOnly(name, {true, [=](const std::string& v, ProgramOptions& o) {
                        const auto dash = v.find('-');
                        auto from = Unsigned(v.substr(0, dash), 0, MAX_DELAY_MS);
                        auto to = dash == std::string::npos ? from : Unsigned(v.substr(dash + 1), 0, MAX_DELAY_MS);
                        if (!from || !to || *to < *from) return false;
                        o.day.*low = zolt::Millis(static_cast<long>(*from));
                        o.day.*high = zolt::Millis(static_cast<long>(*to));
                        return true;
                    }});
}

Option Text(std::function<void(ProgramOptions&, const std::string&)> f) {
    return {true, [f](const std::string& v, ProgramOptions& o) {
                if (v.empty()) return false;
                f(o, v);
                return true;
            }};
}

const std::map<std::string, Option>& Options() {
    static const std::map<std::string, Option> options = {
        {"--help", Flag([](ProgramOptions& o) { o.help = true; })},
        {"--count", Number(1, MAX_PHONES, [](ProgramOptions& o, std::uint64_t n) { o.bank.count = static_cast<int>(n); })},
        {"--link", Text([](ProgramOptions& o, const std::string& v) { o.bank.links.push_back(v); })},
        {"--device", Text([](ProgramOptions& o, const std::string& v) { o.bank.devices.push_back(v); })},
        {"--state", Text([](ProgramOptions& o, const std::string& v) { o.phone.stateDir = v; })},
        {"--trace", Text([](ProgramOptions& o, const std::string& v) { o.trace = v; })},
        {"--baud", {true, [](const std::string& v, ProgramOptions& o) {
                        auto n = Unsigned(v, 1, 921600);
                        if (!n || !IsBaud(*n)) return false;
                        o.phone.baud = static_cast<int>(*n);
                        return true;
                    }}},
        {"--no-wire-time", Flag([](ProgramOptions& o) { o.phone.wireTime = false; })},
        {"--reply-delay-ms", Delay(&PhoneOptions::replyDelay)},
        {"--block-time-ms", Delay(&PhoneOptions::blockTime)},
        {"--erase-time-ms", Delay(&PhoneOptions::eraseTime)},
        {"--restart-time-ms", Delay(&PhoneOptions::restartTime)},
        {"--write-time-ms", Delay(&PhoneOptions::writeTime)},
        {"--page-read-id", {true, [](const std::string& v, ProgramOptions& o) {
                                auto n = Unsigned(v, 0, 0xFFFF);
                                if (!n) return false;
                                if (!o.pageReadIdGiven) o.phone.pageReadIds.clear();
                                o.pageReadIdGiven = true;
                                o.phone.pageReadIds.push_back(static_cast<std::uint16_t>(*n));
                                return true;
                            }}},
        {"--boot-loader", Flag([](ProgramOptions& o) { o.phone.startInBootLoader = true; })},
        {"--boot-gap-ms", Delay(&PhoneOptions::bootGap)},
        {"--stay-in-firmware", Flag([](ProgramOptions& o) { o.phone.enterBootOnGap = false; })},
        {"--drop-reply", Number(1, std::numeric_limits<std::uint32_t>::max(), [](ProgramOptions& o, std::uint64_t n) {
             o.phone.faults.dropReplyTo.push_back(n);
         })},
        {"--drop-rate", Rate(&FaultOptions::dropRate)},
        {"--corrupt-rate", Rate(&FaultOptions::corruptRate)},
        {"--noise-rate", Rate(&FaultOptions::noiseRate)},
        {"--noise-without-start", Flag([](ProgramOptions& o) { o.phone.faults.noiseStartBytes = false; })},
        {"--late-rate", Rate(&FaultOptions::lateRate)},
        {"--late-by-ms", FaultDelay(&FaultOptions::lateBy)},
        {"--jitter-ms", FaultDelay(&FaultOptions::jitter)},
        {"--duplicate-rate", Rate(&FaultOptions::duplicateRate)},
        {"--fault", {true, [](const std::string& v, ProgramOptions& o) {
                         FaultRule rule;
                         if (!ParseRule(v, rule)) return false;
                         o.phone.faults.rules.push_back(rule);
                         return true;
                     }}},
        {"--slow-by-ms", FaultDelay(&FaultOptions::slowBy)},
        {"--slow-write", Aimed(FaultAction::Slow, RequestKind::Write)},
        {"--refuse-write", Aimed(FaultAction::Refuse, RequestKind::Write)},
        {"--corrupt-write", Aimed(FaultAction::Miswrite, RequestKind::DbWrite)},
        {"--chatter-ms", Number(1, MAX_DELAY_MS, [](ProgramOptions& o, std::uint64_t n) {
             o.phone.faults.chatterEvery = zolt::Millis(static_cast<long>(n));
         })},
        {"--chatter-while-writing", Flag([](ProgramOptions& o) { o.phone.faults.chatterWhileWriting = true; })},
        {"--erase-reply", {true, [](const std::string& v, ProgramOptions& o) {
                               if (v != "accepted" && v != "send-block-2") return false;
                               o.phone.faults.eraseReply =
                                   v == "accepted" ? EraseReply::Accepted : EraseReply::SendBlock2;
                               return true;
                           }}},
        {"--repeat-block", Number(2, MAX_BLOCK, [](ProgramOptions& o, std::uint64_t n) {
             o.phone.faults.repeatBlock.push_back(static_cast<std::uint32_t>(n));
         })},
        {"--skip-block", {true, [](const std::string& v, ProgramOptions& o) {
                              const auto colon = v.find(':');
                              if (colon == std::string::npos) return false;
                              auto from = Unsigned(v.substr(0, colon), 2, MAX_BLOCK);
                              auto to = Unsigned(v.substr(colon + 1), 2, MAX_BLOCK);
                              if (!from || !to || *to <= *from) return false;
                              o.phone.faults.skipBlock.emplace_back(static_cast<std::uint32_t>(*from),
                                                                    static_cast<std::uint32_t>(*to));
                              return true;
                          }}},
        {"--silent-after", Number(0, std::numeric_limits<std::uint32_t>::max(), [](ProgramOptions& o, std::uint64_t n) {
             o.phone.faults.silentAfter = static_cast<std::int64_t>(n);
         })},
        {"--vanish-after", Number(0, std::numeric_limits<std::uint32_t>::max(), [](ProgramOptions& o, std::uint64_t n) {
             o.phone.faults.vanishAfter = static_cast<std::int64_t>(n);
         })},
        {"--day-phones", Number(1, MAX_DAY_PHONES, [](ProgramOptions& o, std::uint64_t n) {
             o.day.phones = static_cast<int>(n);
         })},
        {"--arrive-ms", Span("--arrive-ms", &DayPlan::arriveLow, &DayPlan::arriveHigh)},
        {"--stay-ms", Span("--stay-ms", &DayPlan::stayLow, &DayPlan::stayHigh)},
        {"--detach", DayOnly("--detach", {true, [](const std::string& v, ProgramOptions& o) {
                                              static const std::map<std::string, DayDetach> ways = {
                                                  {"vanish", DayDetach::Vanish},
                                                  {"silent", DayDetach::Silent},
                                                  {"stay", DayDetach::Stay},
                                                  {"mixed", DayDetach::Mixed}};
                                              const auto way = ways.find(v);
                                              if (way == ways.end()) return false;
                                              o.day.detach = way->second;
                                              return true;
                                          }})},
        {"--day-exit", DayOnly("--day-exit", Flag([](ProgramOptions& o) { o.day.exitWhenOver = true; }))},
        {"--seed", Number(0, std::numeric_limits<std::uint64_t>::max(), [](ProgramOptions& o, std::uint64_t n) {
             o.phone.faults.seed = n;
         })},
    };
    return options;
}

// A day plays on the lines its links name, each a new pseudo-terminal.
bool CheckDay(const ProgramOptions& out, bool countGiven, std::string& error) {
    if (countGiven || !out.bank.devices.empty()) {
        error = "--day-phones does not go with --count or --device";
        return false;
    }
    if (out.bank.links.empty()) {
        error = "--day-phones needs a --link for each line";
        return false;
    }
    return true;
}

}  // namespace

std::vector<DayLine> PlanDay(const DayPlan& plan, const std::vector<std::string>& links, std::uint64_t seed) {
    std::vector<DayLine> lines;
    for (std::size_t l = 0; l < links.size(); ++l) {
        DayLine line{links[l], {}};
        for (int k = 0; k < plan.phones; ++k) {
            // Mixed apart from the phones' own fault seeds (a multiple of another constant).
            const auto number = static_cast<std::uint64_t>((l + 1) * 100 + static_cast<std::size_t>(k) + 1);
            SimRandom random(seed ^ (0xA24BAED4963EE407ull * number));
            auto draw = [&](Millis low, Millis high) {
                return Millis(static_cast<long>(random.Between(static_cast<std::uint64_t>(low.count()),
                                                               static_cast<std::uint64_t>(high.count()))));
            };
            DayPhone phone;
            phone.arriveAfter = draw(plan.arriveLow, plan.arriveHigh);
            phone.stayFor = draw(plan.stayLow, plan.stayHigh);
            switch (plan.detach) {
                case DayDetach::Vanish: phone.detach = Detach::Vanish; break;
                case DayDetach::Silent: phone.detach = Detach::Silent; break;
                case DayDetach::Stay: phone.detach = Detach::Stay; break;
                case DayDetach::Mixed: phone.detach = random.Chance(0.5) ? Detach::Silent : Detach::Vanish; break;
            }
            line.phones.push_back(phone);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& out, std::string& error) {
    bool countGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto it = Options().find(name);
        if (it == Options().end()) {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
        const Option& option = it->second;
        if (!option.takesValue && value) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (option.takesValue && !value) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!option.set(value.value_or(""), out)) {
            error = "bad value '" + *value + "' for " + name;
            return false;
        }
        countGiven = countGiven || name == "--count";
    }
    if (out.phone.faults.chatterWhileWriting && out.phone.faults.chatterEvery.count() == 0) {
        error = "--chatter-while-writing needs --chatter-ms";
        return false;
    }
    if (out.day.phones == 0 && !out.dayOnly.empty()) {
        error = out.dayOnly + " needs --day-phones";
        return false;
    }
    if (out.day.phones > 0) return CheckDay(out, countGiven, error);
    if (!out.bank.devices.empty() && (countGiven || !out.bank.links.empty())) {
        error = "--device does not go with --count or --link";
        return false;
    }
    if (out.bank.devices.empty() && out.bank.links.size() > static_cast<std::size_t>(out.bank.count)) {
        error = "more --link options than phones";
        return false;
    }
    return true;
}

const char* ProgramUsage() {
    return R"(Usage: zolt-phone [options]
Plays phones for the flashing tool: each on a new pseudo-terminal (or a serial device),
answering the tool's frames as a phone's firmware and boot loader would. Prints the port of
each phone, one per line, then runs until interrupted (SIGINT or SIGTERM).

Lines:
  --count N            phones on new pseudo-terminals (default 1, at most 64)
  --link PATH          make PATH a symbolic link to the next phone's port (repeatable)
  --device PATH        play one phone on this serial device instead (repeatable)
  --baud B             line speed (default 115200)
  --trace FILE         write every frame and event to FILE ('-': standard error)
  --state DIR          keep the flash areas as DIR/flash-<type>.bin (several phones:
                       DIR/phone-K/flash-<type>.bin); without it they stay in memory

Timing:
  --no-wire-time       answer at once instead of at the line's speed (10 bits a byte)
  --reply-delay-ms T   the phone's time before any reply (default 1)
  --block-time-ms T    time to program one flash block (default 3)
  --erase-time-ms T    time to erase a flash area (default 800)
  --restart-time-ms T  after a reset the phone hears nothing for T ms (default 1000)
  --write-time-ms T    time to store a database or setting write before accepting it
                       (default 0); requests that come meanwhile are answered after it

Boot loader:
  --boot-loader        start in the boot loader
  --boot-gap-ms T      the firmware enters its boot loader on a loopback probe that comes
                       at least T ms after a lone probe, one that came at least T ms after
                       the request before it (default 500: the tool's boot-loader handshake
                       probes once, pauses a second, probes again)
  --stay-in-firmware   never enter the boot loader on probes

Calibration:
  --page-read-id N     8-byte requests with this message id are page reads (default 17;
                       repeatable)

Faults (random ones are decided by --seed S, default 1, the same for the same seed):
  --drop-reply N       lose the reply to request N (counting good frames from 1; repeatable)
  --drop-rate F        lose this share of replies (0 to 1)
  --corrupt-rate F     change this share of reply bytes on the wire
  --noise-rate F       put noise bytes (any value) before this share of replies
  --noise-without-start  keep start bytes (FE) out of the noise
  --late-rate F        send this share of replies late (see --late-by-ms)
  --late-by-ms T       how late a late reply is (default 1200: past the tool's limits)
  --jitter-ms T        hold each reply back by up to T ms more, at random
  --duplicate-rate F   send this share of replies twice
  --fault A:K[:N]      do A to the Nth request of kind K (from 1, default 1; 0: every one).
                       A: lose, short (the back half of the body missing), cut (the frame
                       stops halfway on the wire), late, duplicate, corrupt (one byte),
                       silent (no reply to it or anything after), vanish (close the line
                       instead of answering), slow (answered --slow-by-ms later; requests
                       that come meanwhile wait behind it), refuse (answered 9B 08, not
                       acted on), miswrite (a database write stored with its middle byte
                       wrong, yet accepted). K: probe, boot-probe, access, page,
                       setting-read, setting-write, sidb, db-write, erase, block, reset,
                       other, and write: any database or setting write but the access,
                       numbered as records (the same bytes sent again keep their number;
                       the rule plays every time that write comes). Repeatable; e.g.
                       --fault late:block:3 --fault vanish:erase --fault duplicate:page:2
  --slow-by-ms T       how much later a slow request is answered (default 1500: past the
                       tool's receive limit)
  --slow-write N       the same as --fault slow:write:N
  --refuse-write N     the same as --fault refuse:write:N: refuse write N every time
  --corrupt-write N    the same as --fault miswrite:db-write:N: the Nth database write to
                       arrive is stored with one byte wrong, once
  --chatter-ms T       send an unsolicited frame (55 01 00) every T ms while the firmware
                       runs
  --chatter-while-writing  only while a write waits for its answer, every T ms from its
                       arrival
  --erase-reply R      how a done erase is answered: accepted (block 1, status 0; the
                       default) or send-block-2 (block 2, status 1)
  --repeat-block N     ask for flash block N again the first time it comes (repeatable)
  --skip-block N:M     the first time block N comes, ask for block M instead (repeatable)
  --silent-after N     stop answering after N frames (a backup stopped after page K:
                       --fault silent:page:K+1)
  --vanish-after N     close the line after N frames, as if unplugged
  --seed S

A station's day (instead of phones that are always there):
  --day-phones N       on each --link PATH (at least one; each a line; printed once at the
                       start) N phones come one after another (at most 99): each arrives,
                       waits for the tool's job on it (over once only loopback probes have
                       come, 4 or more over 800 ms or more), and leaves. Each is a new
                       phone; line L's phone K is phone L*100+K in the trace
  --arrive-ms T[-U]    a phone arrives T ms (or at random between T and U) after the line's
                       previous phone left, the first after the start (default 1000)
  --stay-ms T[-U]      a phone stays T ms (or between T and U) after its job (default 0)
  --detach HOW         how a phone leaves: vanish (its port closes and PATH goes until the
                       next phone comes, as a USB cable pulled; the default), silent (PATH
                       stays and the phone answers nothing more, as one lifted off a fixed
                       serial port; the next phone comes on the same port), mixed (each
                       vanish or silent at random), or stay (never leaves: only each line's
                       first phone comes)
  --day-exit           exit (status 0) once every phone has left or stayed after its job,
                       instead of running until interrupted

  --help               this text
)";
}

}  // namespace zolt::sim
