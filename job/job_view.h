// What the job control asks of a front end's display. Always called on the owner's thread.
#pragma once

#include <cstdint>
#include <string>

#include "job/job_task.h"

namespace zolt {

struct ImageInfo;

class JobView {
public:
    virtual ~JobView() = default;
    // A line's port was attached: lamp lit, port shown, status "Waiting ...".
    virtual void SetLinePanel(int line, bool attached, int comPort, const std::string& portName) = 0;
    // A line was stopped: status "Waiting ...", progress 0.
    virtual void ResetLinePanel(int line) = 0;
    virtual void SetLineStatus(int line, const std::string& text) = 0;
    virtual void ShowLineProgress(int line, int percent) = 0;
    virtual void ShowImageInfo(bool valid, const ImageInfo& info) = 0;
    virtual void ShowTaskList(const TaskList& tasks) = 0;
    // column is the line number 1 to 8.
    virtual void SetTaskCell(int row, int column, std::uint8_t status) = 0;
    // The one-second display tick: the front end calls JobControl::OnTimer while it runs.
    virtual void StartDisplayTimer() = 0;
    virtual void StopDisplayTimer() = 0;
};

}  // namespace zolt
