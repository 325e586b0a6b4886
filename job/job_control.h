// The brain of a job: the eight lines, the task list, the configuration, the loaded file and
// the port list; starting, stopping and following a job. Front ends (the Win32 frame, the
// command line) own one and drive it from one thread, their "owner's thread": every operation
// here is called there, and so are the view and the prompt.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/config.h"
#include "job/job_task.h"
#include "job/job_view.h"
#include "job/line_events.h"
#include "job/line_record.h"
#include "job/port_list.h"
#include "job/port_session.h"
#include "io/prompt.h"
#include "job/rom_image.h"

namespace zolt {

// Update choices, as the Settings dialog gives them.
inline constexpr int CHOICE_ALL = 1;
inline constexpr int CHOICE_BOOT = 2;
inline constexpr int CHOICE_CP = 3;
inline constexpr int CHOICE_DATA = 4;
inline constexpr int CHOICE_SCRIPT = 7;

class JobControl {
public:
    // `sink` receives the workers' events on their threads; the front end hands them back to
    // OnLineEvent on the owner's thread. `folder` is the program's working folder (the
    // process's current directory when empty): the page catalogue and the update flag of its
    // "ZOLT.ini" are read from there, once, now. `catalogFolder`, when not empty, is where the
    // page catalogue is read instead: the command line's work folder, which also holds the
    // calibration files that the catalogue describes.
    JobControl(JobView& view, Prompt& prompt, LineEventSink& sink,
               std::unique_ptr<PortProber> prober = PortProber::Standard(),
               TaskRunners runners = TaskRunners::Standard(), const std::string& folder = {},
               const std::string& catalogFolder = {});
    ~JobControl();  // stops every running worker before the lines go
    JobControl(const JobControl&) = delete;
    JobControl& operator=(const JobControl&) = delete;

    bool IsAnyLineRunning() const;

    // Ports. ProbePorts brings `portList` up to date (ports once listed are not probed again).
    void ProbePorts();
    PortState ProbePort(const std::string& device);
    void SetPortState(const std::string& device, PortState state);
    // Probes, lets `choose` pick rows of the port list (indexes in list order; nullopt when
    // the operator cancelled), and attaches the chosen free ports to the lowest free lines.
    void SelectPorts(const std::function<std::optional<std::vector<int>>(const std::vector<PortEntry>&)>& choose);
    // Attaches one row of the port list as SelectPorts does. Returns the line index, or -1
    // when nothing was attached (the row is not free, no line is free, or the open failed).
    int AttachRow(int row);
    // The row of a device, probing and listing it first if it is not listed yet; -1 when the
    // device is absent.
    int RowOfDevice(const std::string& device);

    // Replaces the task list for an update choice. Returns 1, or 0 for an unknown choice
    // (the list stays as it was).
    int BuildTaskList(int choice, bool withCal);
    int ResetTaskStatuses();

    // Whether the loaded job file, the task list, the page catalogue and the work folder can
    // serve the job, before any line sends a byte (job/job_checks.h): the problem in the
    // operator's words, or nothing. Reads the catalogue afresh and gives every line the copy.
    // Only while no line runs.
    [[nodiscard]] std::optional<std::string> CheckJob(const std::string& filePath, const std::string& workDir);

    // Starts a job on every attached line, after CheckJob (whose problem is shown through the
    // prompt). Returns the number of lines started.
    int StartJob(const std::string& filePath, const std::string& workDir);
    void StopJob();

    // --- Lines on their own: each line runs the job whenever its phone is there ---
    // Loads the job file and checks the job as StartJob does, and readies the lines to be
    // started one by one; no line starts. Returns false when the job cannot run (the prompt
    // has said why).
    bool PrepareLines(const std::string& filePath, const std::string& workDir);
    // Runs the prepared job on one attached, idle line for a new phone: the line's outcomes
    // back to Wait, the last phone's backup let go, its record begun anew. Returns whether the
    // worker started.
    bool StartLine(int index);
    // Stops one line's worker at once; its record is written, as StopJob writes it.
    void StopLine(int index);
    // Attaches a port that is not there yet to the lowest free line, which opens it once it
    // appears (LinkSession::AwaitPort). Returns the line index, or -1 when no line is free.
    int AttachAbsent(const std::string& device);
    void OnTimer();
    void OnLineEvent(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    // Where each line's record goes when its last task has ended (done, failed, or stopped by
    // StopJob, which records before it resets the statuses); null for nowhere. A line's port
    // is recorded by its COM label or device unless SetPortLabel, after AttachRow, gives the
    // name the operator typed.
    void SetRecorder(LineRecorder* recorder) { recorder_ = recorder; }
    void SetPortLabel(int line, const std::string& label) { portLabels_[line] = label; }

    // Every line's waits, pauses and limits.
    void SetTiming(const Timing& timing);
    // Where every line reports its frames; null for nowhere. Only while no line runs.
    void SetFrameTrace(FrameTrace* trace);

    std::array<PortSession, LINE_COUNT> lines;
    TaskList tasks;
    Config config;
    JobFile file;
    std::vector<PortEntry> portList;
    std::map<std::string, PortTableEntry> portTable;
    bool timerRunning = false;

private:
    void StartTimer();

    JobView& view_;
    Prompt& prompt_;
    LineEventSink& sink_;
    std::unique_ptr<PortProber> prober_;
    TaskRunners runners_;
    JobContext context_;
    Timing timing_ = Timing::Standard();
    std::string catalogFolder_;  // where "calibration.ini" is read, as the lines were made
    // The records of ended lines (job/line_recording.cpp).
    void BeginRecords(const std::string& filePath);
    void BeginLineRecord(int index);
    void RecordLine(int index);
    std::string workDir_;  // the prepared job's work folder

    LineRecorder* recorder_ = nullptr;
    std::array<std::string, LINE_COUNT> portLabels_;
    std::array<std::string, LINE_COUNT> usbSerials_;
    LineRecord record_;  // what every line's record of the running job shares
    std::array<std::int64_t, LINE_COUNT> lineStartedMs_{};
    std::array<bool, LINE_COUNT> recorded_{};
};

}  // namespace zolt
