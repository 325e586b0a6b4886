#include "cli/job_summary.h"

#include <algorithm>
#include <cstdio>

namespace zolt::cli {

namespace {
constexpr std::size_t GRID_LINES = 8;

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

std::string Number(double value, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Throughput(const LineSummary& line) {
    if (line.payloadBytes == 0 || line.seconds <= 0) return "-";
    return Number(static_cast<double>(line.payloadBytes) / line.seconds / 1024.0, "%.1f KiB/s");
}
}  // namespace

std::string FormatSummary(const JobSummary& s) {
    // Eight lines to a grid: 32 columns side by side would not fit a terminal.
    std::string out;
    for (std::size_t first = 0; first < s.lines.size() || first == 0; first += GRID_LINES) {
        const auto begin = s.lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, s.lines.size()));
        const auto end = s.lines.begin() + static_cast<std::ptrdiff_t>(std::min(first + GRID_LINES, s.lines.size()));
        out += Pad("Task", 18);
        for (auto line = begin; line != end; ++line) out += Pad("Line " + std::to_string(line->lineNumber), 8);
        out += "\n";
        for (std::size_t t = 0; t < s.tasks.size(); ++t) {
            out += Pad(s.tasks[t], 18);
            for (auto line = begin; line != end; ++line) out += Pad(t < line->outcomes.size() ? line->outcomes[t] : "", 8);
            out += "\n";
        }
        out += "\n";
    }
    for (const auto& line : s.lines) {
        const std::string port = line.device.empty() || line.device == line.port ? line.port : line.port + " (" + line.device + ")";
        out += "Line " + std::to_string(line.lineNumber) + "  " + port + "  " + line.result + "  " +
               Number(line.seconds, "%.1f s") + "  " + Throughput(line) + "  " + line.status + "\n";
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Status texts are ASCII; anything else is shown by its code, never as
                    // a byte that would make the report invalid UTF-8.
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

namespace {

// One line's entry in a report: `lead` goes first within its braces.
std::string LineJson(const LineSummary& l, const std::vector<std::string>& tasks, const std::string& lead) {
    std::string out = "{" + lead + "\"line\": " + std::to_string(l.lineNumber) + ", \"port\": " + JsonString(l.port) +
                      ", \"device\": " + JsonString(l.device.empty() ? l.port : l.device) +
                      ", \"result\": " + JsonString(l.result) + ", \"status\": " + JsonString(l.status) +
                      ", \"seconds\": " + Number(l.seconds, "%.3f") + ", \"payload_bytes\": " +
                      std::to_string(l.payloadBytes) + ", \"bytes_per_second\": " +
                      Number(l.seconds > 0 ? static_cast<double>(l.payloadBytes) / l.seconds : 0.0, "%.1f") +
                      ", \"tasks\": [";
    for (std::size_t t = 0; t < l.outcomes.size(); ++t) {
        out += std::string(t ? ", " : "") + "{\"task\": " + JsonString(t < tasks.size() ? tasks[t] : "") +
               ", \"outcome\": " + JsonString(l.outcomes[t]) + "}";
    }
    return out + "]}";
}

std::string TasksJson(const std::vector<std::string>& tasks) {
    std::string out = "[";
    for (std::size_t t = 0; t < tasks.size(); ++t) out += (t ? ", " : "") + JsonString(tasks[t]);
    return out + "]";
}

}  // namespace

std::string FormatJson(const JobSummary& s) {
    std::string out = "{\n  \"version\": " + std::to_string(REPORT_VERSION) + ",\n  \"file\": " +
                      JsonString(s.file) + ",\n  \"tasks\": " + TasksJson(s.tasks) +
                      ",\n  \"exit_status\": " + std::to_string(s.exitStatus) + ",\n  \"lines\": [";
    for (std::size_t i = 0; i < s.lines.size(); ++i) out += std::string(i ? "," : "") + "\n    " + LineJson(s.lines[i], s.tasks, "");
    return out + "\n  ]\n}\n";
}

std::string FormatStationJson(const StationSummary& s) {
    std::string out = "{\n  \"version\": " + std::to_string(REPORT_VERSION) + ",\n  \"mode\": \"station\",\n  \"file\": " +
                      JsonString(s.file) + ",\n  \"tasks\": " + TasksJson(s.tasks) +
                      ",\n  \"running\": " + (s.running ? "true" : "false") +
                      ",\n  \"exit_status\": " + std::to_string(s.exitStatus) +
                      ",\n  \"passed\": " + std::to_string(s.passed) + ",\n  \"failed\": " + std::to_string(s.failed) +
                      ",\n  \"stopped\": " + std::to_string(s.stopped) +
                      ",\n  \"phones_per_hour\": " + Number(s.phonesPerHour, "%.1f") + ",\n  \"phones\": [";
    for (std::size_t i = 0; i < s.phones.size(); ++i) {
        const std::string lead = "\"phone\": " + std::to_string(i + 1) + ", \"ended\": " + JsonString(s.phones[i].ended) + ", ";
        out += std::string(i ? "," : "") + "\n    " + LineJson(s.phones[i], s.tasks, lead);
    }
    return out + "\n  ]\n}\n";
}

}  // namespace zolt::cli
