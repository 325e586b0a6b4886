// `zolt history`.
#include <cstdio>
#include <optional>

#include "cal/backup_files.h"
#include "cli/commands.h"
#include "cli/history_output.h"
#include "cli/run_options.h"
#include "cli/tty.h"
#include "history/history_store.h"
#include "history/time_text.h"
#include "io/atomic_file.h"
#include "io/file_system.h"
#include "io/sha256.h"

namespace zolt::cli {

namespace {

const char* const HISTORY_USAGE =
    "usage: zolt history [--history PATH|URL] [--format table|csv|json] [--failed]\n"
    "                    [--line N] [--station NAME] [--since TIME]\n"
    "       zolt history [--history PATH|URL] --backup ID --out FILE.srp\n"
    "Shows the history of every phone, one entry per phone per job, oldest first.\n"
    "  --history PATH|URL  the history to read (default: zolt-history.sqlite of the\n"
    "                      current directory, where zolt run writes it by default)\n"
    "  --format F          table (default), csv or json\n"
    "  --failed            only entries that did not end ok (failed or stopped)\n"
    "  --line N            only line N\n"
    "  --station NAME      only entries of that station (host name)\n"
    "  --since TIME        only entries started then or later: YYYY-MM-DD or\n"
    "                      \"YYYY-MM-DD HH:MM[:SS]\" in local time, or ISO 8601 UTC\n"
    "                      (2026-12-09T06:30:00Z)\n"
    "  --backup ID         write entry ID's calibration backup to the file of --out\n"
    "                      and its setting file beside it, for zolt run --restore\n"
    "exit status: 0 shown, 2 bad option, or a history or backup that cannot be read\n"
    "or written\n";

struct HistoryOptions {
    std::string where = HISTORY_FILE_NAME;
    bool whereGiven = false;
    std::string format = "table";
    HistoryFilter filter;
    std::optional<std::int64_t> backupId;
    std::string out;
};

std::optional<std::int64_t> PositiveNumber(const std::string& text) {
    if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const std::int64_t value = std::stoll(text);
    return value > 0 ? std::optional(value) : std::nullopt;
}

// Takes one option and its value; the reason for a refusal otherwise.
std::optional<std::string> TakeOption(HistoryOptions& o, const std::string& name, const std::string& value) {
    if (name == "--history") {
        o.where = value;
        o.whereGiven = true;
    } else if (name == "--format") {
        if (value != "table" && value != "csv" && value != "json") return "--format takes table, csv or json";
        o.format = value;
    } else if (name == "--line") {
        const auto line = PositiveNumber(value);
        if (!line || *line > 999) return "--line takes a line number, not " + value;
        o.filter.line = static_cast<int>(*line);
    } else if (name == "--station") {
        o.filter.station = value;
    } else if (name == "--since") {
        o.filter.sinceMs = ParseTimeText(value);
        if (!o.filter.sinceMs) return "--since takes YYYY-MM-DD, \"YYYY-MM-DD HH:MM[:SS]\" or 2026-12-09T06:30:00Z, not " + value;
    } else if (name == "--backup") {
        o.backupId = PositiveNumber(value);
        if (!o.backupId) return "--backup takes an entry's id, not " + value;
    } else if (name == "--out") {
        o.out = value;
    } else {
        return "unknown option " + name;
    }
    return std::nullopt;
}

bool TakesValue(const std::string& name) {
    return name == "--history" || name == "--format" || name == "--line" || name == "--station" ||
           name == "--since" || name == "--backup" || name == "--out";
}

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "zolt history: %s\n", reason.c_str());
    return EXIT_USAGE;
}

// Writes `bytes` whole to `path`, which must not exist yet; the reason otherwise.
std::optional<std::string> WriteNewFile(const std::string& path, std::string_view bytes) {
    AtomicFile file;
    FileError error = file.Begin(path);
    if (error == FileError::None) error = file.Write(bytes);
    if (error == FileError::None) error = file.Commit();
    if (error == FileError::None) return std::nullopt;
    return FileErrorText(error, path);
}

// The calibration file and its setting file, as a backup of the line left them.
int WriteBackup(HistoryStore& store, std::int64_t id, const std::string& out) {
    const std::optional<HistoryEntry> entry = store.Find(id);
    if (!entry) return Refuse(store.Where() + " holds no entry " + std::to_string(id));
    const BackupRecord& backup = entry->line.backup;
    if (!backup.taken) return Refuse("entry " + std::to_string(id) + " holds no calibration backup");
    // A damaged store must not hand out a backup that a restore would then write into a phone.
    if (Sha256Hex(backup.text) != backup.sha256 || backup.setting < 0 || backup.setting > 255) {
        return Refuse("the backup of entry " + std::to_string(id) + " does not match its fingerprint");
    }
    const std::string settingPath = SettingFilePath(out);
    for (const std::string& path : {out, settingPath}) {
        // Never over a backup that may be the only one left.
        if (PathExists(path)) return Refuse(path + " exists already: give --out a new name");
    }
    // The calibration file first: a stop before the setting file leaves one that is refused,
    // as a backup of the line does.
    if (auto problem = WriteNewFile(out, backup.text)) return Refuse(*problem);
    const std::string setting = SettingFileText(static_cast<std::uint8_t>(backup.setting), backup.text);
    if (auto problem = WriteNewFile(settingPath, setting)) return Refuse(*problem);
    std::printf("Entry %lld (line %d, %s): %s and %s\n", static_cast<long long>(id), entry->line.line,
                LocalTimeText(entry->line.startedMs).c_str(), out.c_str(), settingPath.c_str());
    return EXIT_OK;
}

int Show(HistoryStore& store, const HistoryOptions& o) {
    const std::vector<HistoryEntry> entries = store.Query(o.filter);
    std::string text;
    if (o.format == "csv") {
        text = FormatHistoryCsv(entries);
    } else if (o.format == "json") {
        text = FormatHistoryJson(entries);
    } else {
        text = FormatHistoryTable(entries, TerminalColumns(stdout));
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return EXIT_OK;
}

}  // namespace

int HistoryCommand(const std::vector<std::string>& args) {
    HistoryOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(HISTORY_USAGE, stdout);
            return EXIT_OK;
        }
        if (a == "--failed") {
            o.filter.failedOnly = true;
            continue;
        }
        if (TakesValue(a) && i + 1 == args.size()) return Refuse(a + " needs a value\n" + HISTORY_USAGE);
        std::optional<std::string> problem = TakesValue(a) ? TakeOption(o, a, args[++i]) : "unknown option " + a;
        if (problem) return Refuse(*problem + "\n" + HISTORY_USAGE);
    }
    if (o.backupId.has_value() != !o.out.empty()) return Refuse("--backup ID and --out FILE.srp go together");
    try {
        if (!o.whereGiven && !PathExists(o.where)) {
            return Refuse(o.where + " was not found: run zolt history in the work folder, or give --history PATH");
        }
        std::unique_ptr<HistoryStore> store = OpenHistoryForReading(o.where);
        return o.backupId ? WriteBackup(*store, *o.backupId, o.out) : Show(*store, o);
    } catch (const HistoryError& e) {
        return Refuse(e.what());
    }
}

}  // namespace zolt::cli
