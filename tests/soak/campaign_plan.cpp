#include "soak/campaign_plan.h"

#include <array>
#include <chrono>

#include "job/job_task.h"
#include "sim/request_kind.h"
#include "sim/sim_random.h"

namespace zolt::soak {

namespace {

using namespace std::chrono_literals;
using sim::FaultAction;
using sim::RequestKind;

constexpr std::array ACTIONS = {FaultAction::Lose,      FaultAction::Short,   FaultAction::Cut,
                                FaultAction::Late,      FaultAction::Duplicate, FaultAction::Corrupt,
                                FaultAction::Silent,    FaultAction::Vanish};

// Where a rule may aim: the request kinds a job of this kind sends. A rule aimed at the nth
// request of a kind lands only if the job sends that many; `most` keeps nth within what a
// clean job sends (a page read and a record per catalogue page, eighteen blocks, a handful of
// probes).
struct Aim {
    RequestKind kind;
    std::uint64_t most;
};

std::vector<Aim> AimsOf(JobKind kind, std::uint64_t pages) {
    const std::vector<Aim> flash = {{RequestKind::BootProbe, 2}, {RequestKind::Erase, 1},
                                    {RequestKind::Block, 6},     {RequestKind::Reset, 1}};
    switch (kind) {
        case JobKind::FullWithCal:
            return {{RequestKind::Probe, 4},       {RequestKind::Access, 2},       {RequestKind::PageRead, pages},
                    {RequestKind::SettingRead, 1}, {RequestKind::SettingWrite, 1}, {RequestKind::DbWrite, pages},
                    {RequestKind::BootProbe, 2},   {RequestKind::Erase, 3},        {RequestKind::Block, 18},
                    {RequestKind::Reset, 2}};
        case JobKind::Boot: return {{RequestKind::BootProbe, 2}, {RequestKind::Erase, 1}, {RequestKind::Block, 3}};
        case JobKind::CpAndData:
            return {{RequestKind::BootProbe, 2}, {RequestKind::Erase, 2}, {RequestKind::Block, 15},
                    {RequestKind::Reset, 2}};
        case JobKind::Data: return flash;
        case JobKind::Script:
            return {{RequestKind::Probe, 4}, {RequestKind::Access, 1}, {RequestKind::SidbWrite, 1},
                    {RequestKind::SettingWrite, 1}, {RequestKind::Reset, 1}};
    }
    return {};
}

// The standard catalogue's pages (test::SIM_PAGES); its first, RfTx, is 17 bytes at offset
// 0 of database 1, segment 4, and the next, RfRx, ends at byte 49 of that segment.
constexpr std::uint64_t STANDARD_PAGES = 5;
constexpr int SAME_DB = 1;
constexpr int SAME_SEGMENT = 4;
constexpr int SAME_BYTES = 17;
constexpr int SAME_FREE_FROM = 49;

// One to three pages of RfTx's shape after the standard pages' bytes, apart or side by side,
// so that only the offset tells the replies to their reads apart.
std::vector<PlanPage> SamePages(sim::SimRandom& random) {
    static constexpr const char* NAMES[] = {"RfTxB", "RfTxC", "RfTxD"};
    std::vector<PlanPage> pages;
    int offset = SAME_FREE_FROM + static_cast<int>(random.Between(0, 40));
    const auto count = random.Between(1, std::size(NAMES));
    for (std::uint64_t i = 0; i < count; ++i) {
        pages.push_back({NAMES[i], SAME_DB, SAME_SEGMENT, offset, SAME_BYTES});
        offset += SAME_BYTES + static_cast<int>(random.Between(0, 1) * random.Between(1, 30));
    }
    return pages;
}

bool Flashes(JobKind kind) { return kind != JobKind::Script; }
bool WritesRecords(JobKind kind) { return kind == JobKind::FullWithCal || kind == JobKind::Script; }

std::string Rate(const char* name, double rate) {
    return rate > 0 ? std::string(" ") + name + "=" + std::to_string(rate).substr(0, 5) : std::string();
}

// The phones that real phones turned out to be, each drawn rarely enough that the campaign
// keeps its time: writes slower than the tool's receive limit (answered in order, and with
// some of them a record refused every time), chatter that lasts, an erase answered "send
// block 2", a database write stored wrong once, a page reply doubled or late.
void PlanRealPhone(sim::SimRandom& random, JobKind kind, std::uint64_t pages, LinePlan& plan) {
    sim::FaultOptions& f = plan.faults;
    const auto add = [&](FaultAction action, RequestKind kind, std::uint64_t nth) {
        f.rules.push_back({action, kind, nth});
        plan.what += std::string(" ") + std::string(sim::FaultActionName(action)) + "@" +
                     std::string(sim::RequestKindName(kind)) + "#" + std::to_string(nth);
    };
    if (WritesRecords(kind) && random.Chance(0.1)) {
        f.slowBy = Millis(static_cast<long>(random.Between(1100, 1600)));
        plan.what += " slow-by=" + std::to_string(f.slowBy.count()) + "ms";
        // Every arrival of one record, or the first write to arrive only.
        const RequestKind first = kind == JobKind::Script ? RequestKind::SidbWrite : RequestKind::DbWrite;
        const bool every = random.Chance(0.5);
        const std::uint64_t record = every ? random.Between(1, 2) : 1;
        add(FaultAction::Slow, every ? RequestKind::Write : first, record);
        if (random.Chance(0.3)) add(FaultAction::Refuse, RequestKind::Write, record + 1);
    }
    if (random.Chance(0.08)) {
        f.chatterEvery = Millis(static_cast<long>(random.Between(40, 400)));
        f.chatterWhileWriting = WritesRecords(kind) && random.Chance(0.5);
        plan.what += " chatter=" + std::to_string(f.chatterEvery.count()) + "ms" +
                     (f.chatterWhileWriting ? " while writing" : "");
    }
    if (Flashes(kind) && random.Chance(0.15)) {
        f.eraseReply = sim::EraseReply::SendBlock2;
        plan.what += " erase-reply=send-block-2";
    }
    if (kind == JobKind::FullWithCal && random.Chance(0.1)) {
        add(FaultAction::Miswrite, RequestKind::DbWrite, random.Between(1, pages));
    }
    if (kind == JobKind::FullWithCal && random.Chance(0.1)) {
        add(random.Chance(0.5) ? FaultAction::Duplicate : FaultAction::Late, RequestKind::PageRead,
            random.Between(1, pages));
    }
}

LinePlan PlanLine(sim::SimRandom& random, JobKind kind, std::uint64_t phoneSeed, std::uint64_t pages) {
    LinePlan plan;
    sim::FaultOptions& f = plan.faults;
    f.seed = phoneSeed;
    // A few lines play no fault at all: the clean path must stay Done among faulty neighbours.
    if (random.Chance(0.15)) {
        plan.what = "no faults";
        return plan;
    }
    const std::vector<Aim> aims = AimsOf(kind, pages);
    const auto rules = random.Between(0, 2);
    for (std::uint64_t r = 0; r < rules; ++r) {
        const Aim aim = aims[random.Between(0, aims.size() - 1)];
        const FaultAction action = ACTIONS[random.Between(0, ACTIONS.size() - 1)];
        const std::uint64_t nth = random.Between(1, aim.most);
        f.rules.push_back({action, aim.kind, nth});
        plan.what += std::string(" ") + std::string(sim::FaultActionName(action)) + "@" +
                     std::string(sim::RequestKindName(aim.kind)) + "#" + std::to_string(nth);
    }
    // Line faults on every reply, at rates a poor cable or a busy adapter shows.
    if (random.Chance(0.4)) {
        f.jitter = Millis(static_cast<long>(random.Between(0, 300)));
        f.dropRate = random.Chance(0.5) ? 0.02 * random.Unit() : 0;
        f.lateRate = random.Chance(0.5) ? 0.02 * random.Unit() : 0;
        f.duplicateRate = random.Chance(0.5) ? 0.03 * random.Unit() : 0;
        f.noiseRate = random.Chance(0.5) ? 0.1 * random.Unit() : 0;
        f.corruptRate = random.Chance(0.3) ? 0.002 * random.Unit() : 0;
        plan.what += " jitter=" + std::to_string(f.jitter.count()) + "ms" + Rate("drop", f.dropRate) +
                     Rate("late", f.lateRate) + Rate("dup", f.duplicateRate) + Rate("noise", f.noiseRate) +
                     Rate("corrupt", f.corruptRate);
    }
    // The phone asking for a block again. (Not its skipping ahead: the phone decides the
    // order of blocks, so what it skips is its own choice, not a fault of the line.)
    if (Flashes(kind) && random.Chance(0.1)) {
        const auto block = static_cast<std::uint32_t>(random.Between(2, 8));
        f.repeatBlock.push_back(block);
        plan.what += " repeat-block=" + std::to_string(block);
    }
    if (random.Chance(0.05)) {
        const auto after = static_cast<std::int64_t>(random.Between(1, 80));
        if (random.Chance(0.5)) {
            f.silentAfter = after;
            plan.what += " silent-after=" + std::to_string(after);
        } else {
            f.vanishAfter = after;
            plan.what += " vanish-after=" + std::to_string(after);
        }
    }
    if (WritesRecords(kind) && random.Chance(0.2)) {
        const auto answer = static_cast<sim::CalFaults::Answer>(random.Between(0, 2));
        const std::uint64_t record = random.Between(0, 5);
        const int times = static_cast<int>(random.Between(1, 4));
        plan.calFaults.rules.push_back({record, answer, times});
        static constexpr const char* ANSWERS[] = {"refuse", "ignore", "chatter"};
        plan.what += std::string(" record-") + ANSWERS[static_cast<int>(answer)] + "#" + std::to_string(record) +
                     "x" + std::to_string(times);
    }
    PlanRealPhone(random, kind, pages, plan);
    if (plan.what.empty()) plan.what = " none drawn";
    plan.what.erase(0, 1);
    return plan;
}

}  // namespace

std::string_view JobKindName(JobKind kind) {
    switch (kind) {
        case JobKind::FullWithCal: return "backup+boot+cp+data+restore";
        case JobKind::Boot: return "boot";
        case JobKind::CpAndData: return "cp+data";
        case JobKind::Data: return "data";
        case JobKind::Script: return "script";
    }
    return "?";
}

std::vector<int> JobTasks(JobKind kind) {
    switch (kind) {
        case JobKind::FullWithCal:
            return {TASK_BACKUP_CAL, TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA, TASK_RESTORE_CAL};
        case JobKind::Boot: return {TASK_UPDATE_BOOT};
        case JobKind::CpAndData: return {TASK_UPDATE_CP, TASK_UPDATE_DATA};
        case JobKind::Data: return {TASK_UPDATE_DATA};
        case JobKind::Script: return {TASK_SCRIPT};
    }
    return {};
}

JobPlan PlanJob(std::uint64_t campaignSeed, int index, int lines) {
    JobPlan plan;
    plan.index = index;
    plan.kind = static_cast<JobKind>(index % JOB_KIND_COUNT);
    // One draw of the campaign's sequence per job number: job K's seed does not depend on
    // how many jobs ran before it.
    sim::SimRandom jobs(campaignSeed ^ (0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(index + 1)));
    plan.seed = jobs.Next();
    sim::SimRandom random(plan.seed);
    if (plan.kind == JobKind::FullWithCal && random.Chance(0.5)) plan.samePages = SamePages(random);
    const std::uint64_t pages = STANDARD_PAGES + plan.samePages.size();
    for (int line = 0; line < lines; ++line) {
        plan.lines.push_back(PlanLine(random, plan.kind, random.Next(), pages));
    }
    return plan;
}

}  // namespace zolt::soak
