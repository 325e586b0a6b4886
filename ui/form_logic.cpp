#include "ui/form_logic.h"

#include <algorithm>
#include <cstdio>

#include "job/job_control.h"
#include "job/update_choices.h"

namespace zolt {

namespace {

// What a click on one of the four section buttons does besides ticking it. Opening the dialog
// runs it too, without ticking the button.
void RunClickOperation(SettingsState& s, SettingsRadio radio) {
    static constexpr int CHOICES[] = {CHOICE_ALL, CHOICE_BOOT, CHOICE_CP, CHOICE_DATA};
    s.choice = CHOICES[radio];
    // Disabling the check box keeps its tick: only the full update reads it.
    s.calEnabled = radio == RADIO_ALL;
    for (int r : {RADIO_ALL, RADIO_BOOT, RADIO_CP, RADIO_DATA}) {
        if (r != radio) s.checked[r] = false;
    }
}

}  // namespace

TaskColumnWidths TaskListColumnWidths(int listWidth) {
    const int ninth = listWidth / 9;
    return {ninth + listWidth % 9 + 75, ninth - 10};
}

std::string LineColumnHeading(int lineNumber) { return "Line " + std::to_string(lineNumber); }

std::array<std::string, 5> ImageLabelTexts(bool valid, const ImageInfo& info) {
    if (!valid) return {};
    return {info.BootVersionText(), FormatChecksum(info.bootChksum), info.CpVersionText(),
            FormatChecksum(info.cpChksum), info.imageModel};
}

std::array<std::string, PORT_COLUMN_COUNT> PortRowTexts(const PortEntry& row) {
    return {row.name, PortStateText(row.state), row.name, PortPhoneText(row.state), std::to_string(row.baud)};
}

PortSelection SelectionSlots(std::vector<int> selectedRows) {
    std::sort(selectedRows.begin(), selectedRows.end());
    PortSelection slots;
    slots.fill(-1);
    std::copy_n(selectedRows.begin(), std::min(selectedRows.size(), slots.size()), slots.begin());
    return slots;
}

std::vector<int> ChosenRows(const PortSelection& slots, std::size_t rowCount) {
    std::vector<int> rows;
    for (int slot : slots) {
        if (slot >= 0 && static_cast<std::size_t>(slot) < rowCount) rows.push_back(slot);
    }
    return rows;
}

SettingsState OpenSettings(std::int32_t updateFlag) {
    const UpdateChoices offered = OfferedChoices(updateFlag);
    SettingsState s;
    s.enabled = {offered.all, offered.boot, offered.cp, offered.data, offered.cpAndData};
    s.calEnabled = offered.withCal;
    switch (offered.preselected) {
        case CHOICE_ALL: s.checked[RADIO_ALL] = true; break;
        case CHOICE_DATA: s.checked[RADIO_DATA] = true; break;
        // With only "Updata Cp and Data" offered its button stands for the CP choice.
        case CHOICE_CP: s.checked[offered.cpAndData ? RADIO_CP_AND_DATA : RADIO_CP] = true; break;
        default: break;
    }
    switch (offered.preselected) {
        case CHOICE_ALL: RunClickOperation(s, RADIO_ALL); break;
        case CHOICE_CP: RunClickOperation(s, RADIO_CP); break;
        case CHOICE_DATA: RunClickOperation(s, RADIO_DATA); break;
        default: break;
    }
    return s;
}

void ClickSettingsRadio(SettingsState& s, SettingsRadio radio) {
    s.checked[radio] = true;
    if (radio != RADIO_CP_AND_DATA) RunClickOperation(s, radio);
}

std::string DialogFilter(std::string_view pipeSeparated) {
    std::string filter(pipeSeparated);
    std::replace(filter.begin(), filter.end(), '|', '\0');
    return filter;
}

}  // namespace zolt
