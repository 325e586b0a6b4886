#include "job/line_groups.h"

#include <algorithm>


namespace zolt {

namespace {

// A group's view: its line indexes moved to where its lines stand among all of them.
class OffsetView final : public JobView {
public:
    OffsetView(JobView& target, int offset) : target_(target), offset_(offset) {}
    void SetLinePanel(int line, bool attached, int comPort, const std::string& portName) override {
        target_.SetLinePanel(line + offset_, attached, comPort, portName);
    }
    void ResetLinePanel(int line) override { target_.ResetLinePanel(line + offset_); }
    void SetLineStatus(int line, const std::string& text) override { target_.SetLineStatus(line + offset_, text); }
    void ShowLineProgress(int line, int percent) override { target_.ShowLineProgress(line + offset_, percent); }
    void ShowImageInfo(bool valid, const ImageInfo& info) override { target_.ShowImageInfo(valid, info); }
    void ShowTaskList(const TaskList& tasks) override { target_.ShowTaskList(tasks); }
    void SetTaskCell(int row, int column, std::uint8_t status) override {
        target_.SetTaskCell(row, column + offset_, status);
    }
    void StartDisplayTimer() override { target_.StartDisplayTimer(); }
    void StopDisplayTimer() override { target_.StopDisplayTimer(); }

private:
    JobView& target_;
    int offset_;
};

}  // namespace

// What the groups read when they are made (the page catalogue) is told by the job's own
// checks, and only when the job needs it: a flash-only job has no use for the catalogue.
class LineGroups::SetUpPrompt final : public Prompt {
public:
    explicit SetUpPrompt(Prompt& target) : target_(target) {}
    void ShowMessage(std::string_view text, PromptIcon icon) override {
        if (!quiet) target_.ShowMessage(text, icon);
    }
    void ShowLineMessage(std::string_view text, PromptIcon icon, std::intptr_t stopHandle) override {
        target_.ShowLineMessage(text, icon, stopHandle);
    }
    bool quiet = false;

private:
    Prompt& target_;
};

LineGroups::LineGroups(int lineCount, JobView& view, Prompt& prompt, LineEventSink& sink, const std::string& folder,
                       const std::string& catalogFolder, FrameTrace* trace) {
    for (int offset = 0; offset < std::max(lineCount, 1); offset += LINE_COUNT) {
        views_.push_back(std::make_unique<OffsetView>(view, offset));
        prompts_.push_back(std::make_unique<SetUpPrompt>(prompt));
        prompts_.back()->quiet = true;
        jobs_.push_back(std::make_unique<JobControl>(*views_.back(), *prompts_.back(), sink, PortProber::Standard(),
                                                     TaskRunners::Standard(), folder, catalogFolder));
        prompts_.back()->quiet = false;
        JobControl& job = *jobs_.back();
        if (trace) job.SetFrameTrace(trace);
        for (int i = 0; i < LINE_COUNT; ++i) {
            job.lines[static_cast<std::size_t>(i)].lineNumber = offset + i + 1;
            job.lines[static_cast<std::size_t>(i)].traceLine = offset + i + 1;
        }
    }
}

LineGroups::~LineGroups() = default;

int LineGroups::StartJob(const std::string& filePath, const std::string& workDir) {
    int started = 0;
    for (auto& job : jobs_) started += job->StartJob(filePath, workDir);
    return started;
}

void LineGroups::StopJob() {
    for (auto& job : jobs_) job->StopJob();
}

bool LineGroups::PrepareLines(const std::string& filePath, const std::string& workDir) {
    for (auto& job : jobs_) {
        if (!job->PrepareLines(filePath, workDir)) return false;
    }
    return true;
}

void LineGroups::OnTimer() {
    for (auto& job : jobs_) job->OnTimer();
}

void LineGroups::OnLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lineNumber) {
    if (lineNumber < 1 || lineNumber > static_cast<std::intptr_t>(jobs_.size()) * LINE_COUNT) return;
    const int line = static_cast<int>(lineNumber) - 1;
    Group(GroupOf(line)).OnLineEvent(message, wParam, IndexInGroup(line) + 1);
}

}  // namespace zolt
