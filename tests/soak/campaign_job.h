// Running one planned job on simulated phones over pseudo-terminals, and judging every line:
// Done with the phone holding exactly what the job wrote (and its own calibration where the
// job backs it up), or failed with a status text saying why; and the job ended in time.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "link/timing.h"
#include "sim/phone_options.h"
#include "soak/campaign_plan.h"

namespace zolt::soak {

// The tool's standard reply limits with the pauses that only make a job long cut short, and
// the phone times they are set against (see the .cpp for each value and why it hides no fault).
Timing CampaignTiming();
sim::PhoneOptions CampaignPhone();

// The longest a job of `tasks` tasks may take before it counts as hung: per task, every wait,
// pause and limit of the table once, with each retried limit times its attempts.
Millis JobBound(const Timing& timing, int tasks);

// WaitingForSilentPhone: the line still waited, when the job was stopped, in one of the waits
// that last until the phone answers or the operator stops the job (the handshakes, the
// backup's setting read, the restore's setting write), and its phone had gone silent. Hung:
// any other line not ended.
enum class LineOutcome { Done, Failed, WaitingForSilentPhone, Hung };

// How long stopping a job may take before the campaign counts it as a hang.
inline constexpr Millis STOP_LIMIT{3000};

struct LineResult {
    LineOutcome outcome = LineOutcome::Hung;
    std::string status;  // the line's status text at the end
    std::string wrong;   // for a Done line: what the phone holds that it should not; else empty
    int pagesRewritten = 0;  // pages its restore found different on reading back and wrote again
};

struct JobResult {
    std::vector<LineResult> lines;
    bool hung = false;  // some line hung, or stopping the job took longer than STOP_LIMIT
    Millis took{0};
    Millis stopTook{0};  // stopping the lines still running at the end
    // Faults the phones played, as their traces show them: by kind of fault, and the aimed
    // rules by "phase action" (the request kind they hit).
    std::map<std::string, std::uint64_t> faults;
    std::map<std::string, std::uint64_t> aimed;
    std::string trace;  // the phones' whole trace, for a job that went wrong

    // Lines that broke the rule: Done over different data, failed without a word, or hung.
    int Defects() const;
};

JobResult RunJob(const JobPlan& plan, const Timing& timing, Millis bound);

}  // namespace zolt::soak
