// The history as `zolt history` prints it (docs/history.md): a table for a terminal, CSV for a
// spreadsheet, JSON for a program.
#pragma once

#include <string>
#include <vector>

#include "history/history_store.h"

namespace zolt::cli {

// One line per entry, columns id, started (local time), station, line, port, outcome, image,
// duration, last status, cut to `columns` (0: nothing is cut) wherever the texts allow.
[[nodiscard]] std::string FormatHistoryTable(const std::vector<HistoryEntry>& entries, int columns);

// A header row and one row per entry, fields quoted as RFC 4180 has it, times in local time.
[[nodiscard]] std::string FormatHistoryCsv(const std::vector<HistoryEntry>& entries);

// An array of entries, times in ISO 8601 UTC with milliseconds.
[[nodiscard]] std::string FormatHistoryJson(const std::vector<HistoryEntry>& entries);

}  // namespace zolt::cli
