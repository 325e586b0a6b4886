// A job view for tests: keeps what each line panel and task cell shows, and a log of calls.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "job/job_view.h"
#include "job/rom_image.h"

namespace zolt::test {

class RecordingView : public JobView {
public:
    struct Panel {
        bool attached = false;
        std::string port = " ";
        std::string status = "Not used !";
        int percent = 0;
    };
    std::array<Panel, 8> panels;
    std::vector<std::vector<std::string>> grid;  // rows of "Task", Line 1..8
    std::vector<std::string> log;
    bool timer = false;
    bool imageShown = false;
    ImageInfo shownInfo;

    void SetLinePanel(int line, bool attached, int comPort, const std::string& portName) override {
        panels[line].attached = attached;
        panels[line].port = comPort > 0 ? "COM" + std::to_string(comPort) : portName;
        panels[line].status = attached ? "Waiting ..." : "Not used !";
        log.push_back("SetLinePanel " + std::to_string(line));
    }
    void ResetLinePanel(int line) override {
        panels[line].status = "Waiting ...";
        panels[line].percent = 0;
        log.push_back("ResetLinePanel " + std::to_string(line));
    }
    void SetLineStatus(int line, const std::string& text) override {
        panels[line].status = text;
        log.push_back("SetLineStatus " + std::to_string(line) + " " + text);
    }
    void ShowLineProgress(int line, int percent) override {
        panels[line].percent = percent;
        log.push_back("ShowLineProgress " + std::to_string(line) + " " + std::to_string(percent));
    }
    void ShowImageInfo(bool valid, const ImageInfo& info) override {
        imageShown = valid;
        shownInfo = info;
        log.push_back("ShowImageInfo");
    }
    void ShowTaskList(const TaskList& tasks) override {
        grid.clear();
        for (int i = 0; i < tasks.taskCount; ++i) {
            std::vector<std::string> row{std::string(TaskName(tasks.tasks[i].code))};
            for (int l = 0; l < 8; ++l) row.emplace_back(TaskStatusName(tasks.tasks[i].status.load()));
            grid.push_back(row);
        }
        log.push_back("ShowTaskList");
    }
    void SetTaskCell(int row, int column, std::uint8_t status) override {
        if (row >= 0 && row < static_cast<int>(grid.size()) && column >= 1 && column <= 8) {
            grid[row][column] = std::string(TaskStatusName(status));
        }
        log.push_back("SetTaskCell " + std::to_string(row) + " " + std::to_string(column));
    }
    void StartDisplayTimer() override { timer = true; }
    void StopDisplayTimer() override { timer = false; }
};

}  // namespace zolt::test
