// What the main form and its dialogs decide without a window: column widths, label texts,
// list rows and the Settings dialog's states. The Win32 layer only shows these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "job/port_list.h"
#include "job/rom_image.h"

namespace zolt {

// --- Task list ---

// Pixel widths of the "Task" column and of each of the eight line columns for a list whose
// window is `listWidth` pixels wide: together they leave 5 pixels of it free, so that no
// horizontal scroll bar appears under the border.
struct TaskColumnWidths {
    int task;
    int line;
};
TaskColumnWidths TaskListColumnWidths(int listWidth);

// "Line 1" ... "Line 8".
std::string LineColumnHeading(int lineNumber);

// --- Image information ---

// The five image labels, top to bottom: boot version, boot checksum, CP version, CP checksum
// and model name; all empty when `valid` is false.
std::array<std::string, 5> ImageLabelTexts(bool valid, const ImageInfo& info);

// --- Port Selection ---

inline constexpr int PORT_COLUMN_COUNT = 5;
inline constexpr std::array<const char*, PORT_COLUMN_COUNT> PORT_COLUMN_HEADINGS = {"Port", "State", "Label",
                                                                                   "Phone", "Baud"};
inline constexpr std::array<int, PORT_COLUMN_COUNT> PORT_COLUMN_WIDTHS = {60, 80, 120, 120, 60};

// The texts of one row of the port list, column by column.
std::array<std::string, PORT_COLUMN_COUNT> PortRowTexts(const PortEntry& row);

// The dialog's result: the indexes of the selected rows in ascending order, then -1. Rows
// beyond the 50 places are dropped (there are never more than 50 ports).
inline constexpr std::size_t PORT_SELECTION_SLOTS = 50;
using PortSelection = std::array<int, PORT_SELECTION_SLOTS>;
PortSelection SelectionSlots(std::vector<int> selectedRows);
// The rows of `slots` that name a row of a `rowCount`-row list, in slot order.
std::vector<int> ChosenRows(const PortSelection& slots, std::size_t rowCount);

// --- Settings ---

// The radio buttons, top to bottom.
enum SettingsRadio { RADIO_ALL, RADIO_BOOT, RADIO_CP, RADIO_DATA, RADIO_CP_AND_DATA, SETTINGS_RADIO_COUNT };

struct SettingsState {
    std::array<bool, SETTINGS_RADIO_COUNT> enabled{};
    std::array<bool, SETTINGS_RADIO_COUNT> checked{};
    bool calEnabled = true;  // the "Backup/Restore Cal-Data" check box
    bool calChecked = false;
    int choice = 0;  // 0 none, else the update choice handed to BuildTaskList
};

// The dialog as it opens for `updateFlag`.
SettingsState OpenSettings(std::int32_t updateFlag);
// A click on a radio button. Each button is a group of its own, so the click clears the
// others itself; "Updata Cp and Data" changes nothing but its own tick.
void ClickSettingsRadio(SettingsState& state, SettingsRadio radio);

// --- Paths the core cannot take ---

// Told instead of handing the core a path that the system's code page cannot spell and that
// has no short name: any other spelling would name another file or folder.
inline constexpr const char* FILE_PATH_UNUSABLE =
    "The path of this file has letters that the system's code page lacks, and no short name, "
    "so it cannot be opened. Move the file to a folder with a plainer name.";
inline constexpr const char* FOLDER_PATH_UNUSABLE =
    "The path of the current folder has letters that the system's code page lacks, and no "
    "short name, so no calibration can be backed up there. Choose a file in another folder, "
    "then confirm Settings again.";

// --- File dialogs ---

// A "name|pattern|...||" filter as the common file dialog takes it: '|' becomes '\0'.
std::string DialogFilter(std::string_view pipeSeparated);

}  // namespace zolt
