#include "cli/history_output.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "cli/job_summary.h"
#include "history/time_text.h"

namespace zolt::cli {

namespace {

// Times read from a history file may be anything: the difference is taken without overflow.
std::int64_t DurationMs(const LineRecord& r) {
    if (r.endedMs <= r.startedMs) return 0;
    const std::uint64_t span = static_cast<std::uint64_t>(r.endedMs) - static_cast<std::uint64_t>(r.startedMs);
    return static_cast<std::int64_t>(std::min<std::uint64_t>(span, std::numeric_limits<std::int64_t>::max()));
}

std::string DurationText(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    char text[48];
    if (s < 3600) {
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(s / 60), static_cast<int>(s % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(s / 3600),
                      static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    }
    return text;
}

std::string Seconds(std::int64_t ms) {
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ms) / 1000.0);
    return text;
}

// The file's name without its folders: the table's image column.
std::string BaseName(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Characters on the screen: UTF-8 continuation bytes take no column of their own.
int Width(const std::string& text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// `text` in at most `width` columns, a cut one ending in "~", never inside a character.
std::string Fit(const std::string& text, int width) {
    if (Width(text) <= width) return text;
    std::string out;
    int used = 0;
    for (char c : text) {
        const bool starts = (c & 0xC0) != 0x80;
        if (starts && ++used > width - 1) break;
        out += c;
    }
    return out + "~";
}

constexpr int COLUMN_COUNT = 9;
constexpr std::array<const char*, COLUMN_COUNT> HEADERS = {"id",    "started",  "station",    "line", "port",
                                                            "outcome", "image", "duration", "last status"};
// The columns that give way, narrowest first, to fit a terminal: station, port, image, status.
constexpr std::array<int, 4> FLEXIBLE = {2, 4, 6, 8};
constexpr std::array<int, 4> NARROWEST = {6, 6, 8, 10};

using Row = std::array<std::string, COLUMN_COUNT>;

// A cell on one line: a line break or tab in a text would break the table apart.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
}

Row TableRow(const HistoryEntry& e) {
    const LineRecord& r = e.line;
    return {std::to_string(e.id),   LocalTimeText(r.startedMs), OneLine(e.station), std::to_string(r.line),
            OneLine(r.port),        OneLine(r.outcome),         OneLine(BaseName(r.imageName)),
            DurationText(DurationMs(r)), OneLine(r.status)};
}

// Takes a column at a time off the widest column that may give way until the row fits;
// returns the gap between columns, narrowed first.
int Narrow(std::array<int, COLUMN_COUNT>& widths, int columns) {
    int total = 0;
    for (int w : widths) total += w;
    const int gap = total + 2 * (COLUMN_COUNT - 1) <= columns ? 2 : 1;
    total += gap * (COLUMN_COUNT - 1);
    while (total > columns) {
        int widest = -1;
        for (std::size_t k = 0; k < FLEXIBLE.size(); ++k) {
            const int column = FLEXIBLE[k];
            if (widths[column] > NARROWEST[k] && (widest < 0 || widths[column] > widths[widest])) widest = column;
        }
        if (widest < 0) break;
        --widths[widest];
        --total;
    }
    return gap;
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string TaskList(const LineRecord& r) {
    std::string out;
    for (const TaskRecord& t : r.tasks) out += (out.empty() ? "" : "; ") + t.name + ": " + t.outcome;
    return out;
}

std::string JsonEntry(const HistoryEntry& e) {
    const LineRecord& r = e.line;
    std::string out = "  {\"id\": " + std::to_string(e.id) + ", \"uid\": " + JsonString(e.uid) +
                      ", \"station\": " + JsonString(e.station) + ", \"line\": " + std::to_string(r.line) +
                      ", \"port\": " + JsonString(r.port) + ", \"device\": " + JsonString(r.device) +
                      ", \"usb_serial\": " + JsonString(r.usbSerial) + ",\n   \"started\": " +
                      JsonString(UtcTimeText(r.startedMs)) + ", \"ended\": " + JsonString(UtcTimeText(r.endedMs)) +
                      ", \"duration_s\": " + Seconds(DurationMs(r)) + ", \"outcome\": " + JsonString(r.outcome) +
                      ", \"update\": " + JsonString(r.update) + ", \"status\": " + JsonString(r.status) +
                      ",\n   \"image\": {\"name\": " + JsonString(r.imageName) +
                      ", \"size\": " + std::to_string(r.imageSize) + ", \"sha256\": " + JsonString(r.imageSha256) +
                      ", \"boot_version\": " + JsonString(r.bootVersion) +
                      ", \"cp_version\": " + JsonString(r.cpVersion) + "},\n   \"tasks\": [";
    for (std::size_t k = 0; k < r.tasks.size(); ++k) {
        const TaskRecord& t = r.tasks[k];
        out += std::string(k ? ", " : "") + "{\"name\": " + JsonString(t.name) + ", \"outcome\": " +
               JsonString(t.outcome) + ", \"status\": " + JsonString(t.status) + "}";
    }
    out += "],\n   \"backup\": ";
    if (!r.backup.taken) return out + "null}";
    return out + "{\"sha256\": " + JsonString(r.backup.sha256) + ", \"setting\": " + std::to_string(r.backup.setting) +
           ", \"file\": " + JsonString(r.backup.file) + "}}";
}

}  // namespace

std::string FormatHistoryTable(const std::vector<HistoryEntry>& entries, int columns) {
    std::vector<Row> rows;
    std::array<int, COLUMN_COUNT> widths{};
    for (int k = 0; k < COLUMN_COUNT; ++k) widths[k] = Width(HEADERS[k]);
    for (const HistoryEntry& e : entries) {
        rows.push_back(TableRow(e));
        for (int k = 0; k < COLUMN_COUNT; ++k) widths[k] = std::max(widths[k], Width(rows.back()[k]));
    }
    const int gap = columns > 0 ? Narrow(widths, columns) : 2;
    Row header;
    std::copy(HEADERS.begin(), HEADERS.end(), header.begin());
    rows.insert(rows.begin(), header);
    std::string out;
    for (const Row& row : rows) {
        std::string line;
        for (int k = 0; k < COLUMN_COUNT; ++k) {
            const std::string cell = Fit(row[k], widths[k]);
            line += cell;
            if (k + 1 < COLUMN_COUNT) line += std::string(static_cast<std::size_t>(widths[k] - Width(cell) + gap), ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string FormatHistoryCsv(const std::vector<HistoryEntry>& entries) {
    std::string out =
        "id,uid,station,line,port,device,usb_serial,started,ended,duration_s,outcome,update,status,image,image_size,"
        "image_sha256,boot_version,cp_version,tasks,backup_sha256,backup_setting,backup_file\n";
    for (const HistoryEntry& e : entries) {
        const LineRecord& r = e.line;
        const BackupRecord& b = r.backup;
        const std::string fields[] = {std::to_string(e.id), e.uid, e.station, std::to_string(r.line), r.port,
                                      r.device, r.usbSerial, LocalTimeText(r.startedMs), LocalTimeText(r.endedMs),
                                      Seconds(DurationMs(r)), r.outcome, r.update, r.status, r.imageName,
                                      std::to_string(r.imageSize), r.imageSha256, r.bootVersion, r.cpVersion,
                                      TaskList(r), b.taken ? b.sha256 : "", b.taken ? std::to_string(b.setting) : "",
                                      b.taken ? b.file : ""};
        std::string line;
        for (const std::string& f : fields) line += (line.empty() ? "" : ",") + CsvField(f);
        out += line + "\n";
    }
    return out;
}

std::string FormatHistoryJson(const std::vector<HistoryEntry>& entries) {
    if (entries.empty()) return "[]\n";
    std::string out = "[\n";
    for (std::size_t k = 0; k < entries.size(); ++k) out += JsonEntry(entries[k]) + (k + 1 < entries.size() ? ",\n" : "\n");
    return out + "]\n";
}

}  // namespace zolt::cli
