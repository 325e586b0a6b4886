// Which update choices the operator is offered, by the configuration's update flag: the same
// rules for the Settings dialog and the command line.
#pragma once

#include <cstdint>
#include <string>

namespace zolt {

struct UpdateChoices {
    bool all = false;      // "Update All Sections"
    bool boot = false;     // "Update Boot Section"
    bool cp = false;       // "Update CP Section"
    bool data = false;     // "Update Data Section"
    bool cpAndData = false;  // "Updata Cp and Data" (gives the CP choice, which then means both)
    bool withCal = false;  // the "Backup/Restore Cal-Data" check box
    int preselected = 0;   // the choice set when the dialog opens, 0 for none
};

UpdateChoices OfferedChoices(std::int32_t updateFlag);

// Whether `choice` (1 all, 2 Boot, 3 CP, 4 Data) may be asked for, and with the check box.
bool ChoiceAllowed(std::int32_t updateFlag, int choice, bool withCal);

}  // namespace zolt
