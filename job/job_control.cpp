#include "job/job_control.h"

#include <thread>

#include "job/config_file.h"
#include "job/job_checks.h"
#include "io/paths.h"
#include "io/texts.h"

namespace zolt {

namespace {
constexpr int PROBE_BAUD = 115200;
}

JobControl::JobControl(JobView& view, Prompt& prompt, LineEventSink& sink,
                       std::unique_ptr<PortProber> prober, TaskRunners runners, const std::string& folder,
                       const std::string& catalogFolder)
    : file(config, prompt),
      view_(view),
      prompt_(prompt),
      sink_(sink),
      prober_(std::move(prober)),
      runners_(std::move(runners)),
      catalogFolder_(!catalogFolder.empty() ? catalogFolder : !folder.empty() ? folder : CurrentDirectory()) {
    // Each line keeps its own copy of the page catalogue; the file is read, and a missing
    // one reported, once.
    lines[0].cal.catalog.LoadCatalog(prompt_, catalogFolder_);
    for (int i = 0; i < LINE_COUNT; ++i) {
        lines[i].lineNumber = i + 1;
        if (i > 0) lines[i].cal.catalog = lines[0].cal.catalog;
    }
    ReadUpdateFlag(config, folder);
    recorded_.fill(true);  // no job has run yet
    context_.tasks = &tasks;
    context_.config = &config;
    context_.sink = &sink_;
    context_.prompt = &prompt_;
    context_.runners = &runners_;
}

JobControl::~JobControl() {
    for (auto& line : lines) line.StopWorker();
}

void JobControl::SetTiming(const Timing& timing) {
    timing_ = timing;
    for (auto& line : lines) {
        line.timing = timing;
        line.port.SetTiming(timing);
    }
}

void JobControl::SetFrameTrace(FrameTrace* trace) {
    for (int i = 0; i < LINE_COUNT; ++i) {
        lines[i].trace = trace;
        lines[i].traceLine = i + 1;
    }
}

bool JobControl::IsAnyLineRunning() const {
    for (const auto& line : lines) {
        if (line.IsRunning()) return true;
    }
    return false;
}

PortState JobControl::ProbePort(const std::string& device) {
    auto& entry = portTable[device];
    if (entry.listed) return entry.state;
    entry.state = prober_->Probe(device);
    return entry.state;
}

void JobControl::SetPortState(const std::string& device, PortState state) {
    for (auto& row : portList) {
        if (row.device == device) {
            row.state = state;
            break;
        }
    }
    auto& entry = portTable[device];
    entry.state = state;
}

void JobControl::ProbePorts() {
    for (const auto& device : prober_->Candidates()) (void)RowOfDevice(device);
}

int JobControl::RowOfDevice(const std::string& device) {
    for (std::size_t i = 0; i < portList.size(); ++i) {
        if (portList[i].device == device) return static_cast<int>(i);
    }
    const PortState state = ProbePort(device);
    if (state == PORT_ABSENT) return -1;
    PortEntry row = prober_->Describe(device);
    row.state = state;
    row.baud = PROBE_BAUD;
    portList.push_back(row);
    portTable[device].listed = true;
    return static_cast<int>(portList.size()) - 1;
}

int JobControl::AttachRow(int row) {
    if (row < 0 || row >= static_cast<int>(portList.size())) return -1;
    const PortEntry entry = portList[row];
    if (entry.state != PORT_FREE) {
        prompt_.ShowMessage(texts::PORT_USED, PromptIcon::Error);
        return -1;
    }
    for (int i = 0; i < LINE_COUNT; ++i) {
        PortSession& line = lines[i];
        if (line.IsAttached()) continue;
        const int result = line.OpenLink(entry.device, PROBE_BAUD);
        if (result != LINK_FAILED) SetPortState(entry.device, static_cast<PortState>(result));
        if (result != LINK_OPENED) return -1;
        view_.SetLinePanel(i, true, entry.portNumber, entry.name);
        portLabels_[i] = entry.portNumber > 0 ? "COM" + std::to_string(entry.portNumber) : entry.name;
        usbSerials_[i] = entry.identity.serial;
        return i;
    }
    return -1;  // every line is attached already
}

void JobControl::SelectPorts(
    const std::function<std::optional<std::vector<int>>(const std::vector<PortEntry>&)>& choose) {
    ProbePorts();
    const auto chosen = choose(portList);
    if (!chosen) return;
    for (int row : *chosen) (void)AttachRow(row);
}

int JobControl::BuildTaskList(int choice, bool withCal) {
    switch (choice) {
        case CHOICE_ALL:
            if (withCal) {
                tasks.Assign({TASK_BACKUP_CAL, TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA, TASK_RESTORE_CAL});
            } else {
                tasks.Assign({TASK_UPDATE_BOOT, TASK_UPDATE_CP, TASK_UPDATE_DATA});
            }
            return 1;
        case CHOICE_BOOT: tasks.Assign({TASK_UPDATE_BOOT}); return 1;
        case CHOICE_CP:
            if (config.updateFlag == 4) {
                tasks.Assign({TASK_UPDATE_CP, TASK_UPDATE_DATA});
            } else {
                tasks.Assign({TASK_UPDATE_CP});
            }
            return 1;
        case CHOICE_DATA: tasks.Assign({TASK_UPDATE_DATA}); return 1;
        case CHOICE_SCRIPT: tasks.Assign({TASK_SCRIPT}); return 1;
        default: return 0;
    }
}

int JobControl::ResetTaskStatuses() {
    if (!tasks.ResetStatuses()) return 0;
    view_.ShowTaskList(tasks);
    return 1;
}

void JobControl::StartTimer() {
    if (timerRunning) return;
    timerRunning = true;
    view_.StartDisplayTimer();
}

int JobControl::StartJob(const std::string& filePath, const std::string& workDir) {
    StartTimer();  // also for a refused start
    if (filePath.empty()) {
        prompt_.ShowMessage(texts::SELECT_BINARY, PromptIcon::Information);
        return 0;
    }
    if (tasks.taskCount == 0) {
        prompt_.ShowMessage(texts::SELECT_ACTIONS, PromptIcon::Information);
        return 0;
    }
    ResetTaskStatuses();
    const int loaded = file.ReloadJobFile(filePath);
    if (loaded != LOAD_OK) {
        // An image that no longer matches the configuration would otherwise stop the start
        // without a word.
        if (loaded == LOAD_FORMAT_ERROR) prompt_.ShowMessage(texts::FILE_FORMAT_ERROR, PromptIcon::Error);
        return 0;
    }
    view_.ShowImageInfo(true, file.info());
    if (auto problem = CheckJob(filePath, workDir)) {
        prompt_.ShowMessage(*problem, PromptIcon::Error);
        return 0;
    }
    context_.file = file.Bytes();
    BeginRecords(filePath);

    int started = 0;
    for (int i = 0; i < LINE_COUNT; ++i) {
        PortSession& line = lines[i];
        line.workDir.clear();
        if (!line.IsAttached()) continue;
        line.StartWorker(&context_, i, workDir);
        ++started;
        std::this_thread::sleep_for(timing_.threadStartGap);
    }
    if (started == 0) prompt_.ShowMessage(texts::SELECT_PORTS, PromptIcon::Information);
    return started;
}

bool JobControl::PrepareLines(const std::string& filePath, const std::string& workDir) {
    if (filePath.empty() || tasks.taskCount == 0) return false;
    tasks.ResetStatuses();
    const int loaded = file.ReloadJobFile(filePath);
    if (loaded != LOAD_OK) {
        if (loaded == LOAD_FORMAT_ERROR) prompt_.ShowMessage(texts::FILE_FORMAT_ERROR, PromptIcon::Error);
        return false;
    }
    if (auto problem = CheckJob(filePath, workDir)) {
        prompt_.ShowMessage(*problem, PromptIcon::Error);
        return false;
    }
    context_.file = file.Bytes();
    workDir_ = workDir;
    BeginRecords(filePath);
    return true;
}

bool JobControl::StartLine(int index) {
    if (index < 0 || index >= LINE_COUNT || !context_.file.data()) return false;
    PortSession& line = lines[index];
    if (!line.IsAttached() || line.IsRunning()) return false;
    for (int t = 0; t < tasks.taskCount; ++t) tasks.SetOutcome(t, index, TASK_WAIT);
    // A restore plays only what this phone's own backup read.
    if (TasksWriteCalFiles(tasks)) line.cal.ReleaseBackup();
    BeginLineRecord(index);
    view_.ResetLinePanel(index);
    line.StartWorker(&context_, index, workDir_);
    StartTimer();
    return true;
}

void JobControl::StopLine(int index) {
    if (index < 0 || index >= LINE_COUNT) return;
    PortSession& line = lines[index];
    if (!line.StopWorker()) return;
    sink_.DiscardPending(line.lineNumber);
    RecordLine(index);
    view_.ResetLinePanel(index);
}

int JobControl::AttachAbsent(const std::string& device) {
    for (int i = 0; i < LINE_COUNT; ++i) {
        PortSession& line = lines[i];
        if (line.IsAttached()) continue;
        line.AwaitPort(device, PROBE_BAUD);
        view_.SetLinePanel(i, true, line.portNumber, device);
        portLabels_[i] = line.portNumber > 0 ? "COM" + std::to_string(line.portNumber) : device;
        return i;
    }
    return -1;
}

std::optional<std::string> JobControl::CheckJob(const std::string& filePath, const std::string& workDir) {
    if (file.lastLoadedKind() == JobFileKind::Image) {
        if (auto problem = ImageSectionProblem(tasks, config, file.Bytes().size(), filePath)) return problem;
    }
    if (tasks.taskCount > 0 && tasks.tasks[0].code == TASK_SCRIPT) {
        if (auto problem = ScriptProblem(file.Bytes(), lines[0].cal, filePath)) return problem;
    }
    if (auto problem = CatalogProblemForTasks(tasks, lines[0].cal, catalogFolder_)) return problem;
    // Every line backs up and restores with the catalogue just checked.
    for (int i = 1; i < LINE_COUNT; ++i) lines[i].cal.catalog = lines[0].cal.catalog;
    if (TasksWriteCalFiles(tasks)) {
        return FolderWriteProblem(workDir.empty() ? CurrentDirectory() : workDir, "the work folder");
    }
    return std::nullopt;
}

void JobControl::StopJob() {
    std::array<bool, LINE_COUNT> stopped{};
    for (int i = 0; i < LINE_COUNT; ++i) {
        PortSession& line = lines[i];
        if (!line.IsAttached() || !line.IsRunning()) continue;
        line.StopWorker();
        std::this_thread::sleep_for(timing_.stopPause);
        sink_.DiscardPending(line.lineNumber);
        stopped[i] = true;
    }
    // Every line of the job not yet recorded (stopped now, or ended with its event still
    // queued) is recorded while the outcomes stand and its worker is gone: the reset below
    // sets every line's tasks back to Wait.
    for (int i = 0; i < LINE_COUNT; ++i) RecordLine(i);
    for (int i = 0; i < LINE_COUNT; ++i) {
        if (!stopped[i]) continue;
        ResetTaskStatuses();
        view_.ResetLinePanel(i);
    }
    if (timerRunning) {
        view_.StopDisplayTimer();
        timerRunning = false;
    }
}

void JobControl::OnTimer() {
    if (!IsAnyLineRunning()) return;
    for (int i = 0; i < LINE_COUNT; ++i) {
        PortSession& line = lines[i];
        if (!line.IsRunning()) continue;
        view_.ShowLineProgress(i, line.DownloadPercent());
        view_.SetLineStatus(i, line.statusText.Get());
    }
}

void JobControl::OnLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (lParam < 1 || lParam > LINE_COUNT) return;
    const int index = static_cast<int>(lParam) - 1;
    PortSession& line = lines[index];
    switch (message) {
        case WM_PORT_TASK_DONE:
            // The line's own outcome: the shared status byte may hold another line's.
            if (wParam < MAX_TASKS) {
                const int row = static_cast<int>(wParam);
                view_.SetTaskCell(row, static_cast<int>(lParam), tasks.LineOutcome(row, index));
            }
            break;
        case WM_PORT_FAILED:
            view_.SetLineStatus(index, line.statusText.Get());
            RecordLine(index);
            break;
        case WM_PORT_ALL_DONE:
            view_.ShowLineProgress(index, line.DownloadPercent());
            view_.SetLineStatus(index, line.statusText.Get());
            RecordLine(index);
            break;
        default:
            break;
    }
}

}  // namespace zolt
