// One job of the fault campaign: which tasks it runs, and the faults each of its phones plays,
// all drawn from the job's own seed, so that any job can be replayed on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/cal_handlers.h"
#include "sim/phone_options.h"

namespace zolt::soak {

// The job kinds, taken in turn: job K is of kind K mod JOB_KIND_COUNT.
enum class JobKind { FullWithCal, Boot, CpAndData, Data, Script };
inline constexpr int JOB_KIND_COUNT = 5;

std::string_view JobKindName(JobKind kind);
// The task codes of a job of this kind, in order.
std::vector<int> JobTasks(JobKind kind);

struct LinePlan {
    sim::FaultOptions faults;
    sim::CalFaults calFaults;
    std::string what;  // the faults in a few words, for a report
};

// A page of the job's calibration catalogue.
struct PlanPage {
    const char* name;
    int db;
    int segment;
    int offset;
    int bytes;
};

struct JobPlan {
    int index = 0;
    std::uint64_t seed = 0;
    JobKind kind = JobKind::FullWithCal;
    // Pages the catalogue lists after the standard ones (test::SIM_PAGES), in some jobs that
    // back up calibration: of the same database, segment and size as its first page (RfTx),
    // differing from it and from each other only in offset.
    std::vector<PlanPage> samePages;
    std::vector<LinePlan> lines;
};

// Job `index` of the campaign with seed `campaignSeed`, on `lines` phones. The same arguments
// give the same plan on every platform.
JobPlan PlanJob(std::uint64_t campaignSeed, int index, int lines);

}  // namespace zolt::soak
