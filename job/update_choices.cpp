#include "job/update_choices.h"

namespace zolt {

UpdateChoices OfferedChoices(std::int32_t updateFlag) {
    UpdateChoices c;
    switch (updateFlag) {
        case 0:
            c.all = c.boot = c.cp = c.data = c.withCal = true;
            c.preselected = 1;
            break;
        case 1:
            c.boot = c.cp = true;
            break;
        case 2:
            c.cp = true;
            c.preselected = 3;
            break;
        case 3:
            c.data = true;
            c.preselected = 4;
            break;
        case 4:
            c.cpAndData = true;
            c.preselected = 3;
            break;
        default:
            c.all = c.boot = c.cp = c.data = c.cpAndData = c.withCal = true;
            break;
    }
    return c;
}

bool ChoiceAllowed(std::int32_t updateFlag, int choice, bool withCal) {
    const UpdateChoices c = OfferedChoices(updateFlag);
    if (withCal && (choice != 1 || !c.withCal)) return false;
    switch (choice) {
        case 1: return c.all;
        case 2: return c.boot;
        // "Updata Cp and Data" leaves the CP choice: with flag 4 it is the only way to CP.
        case 3: return c.cp || c.cpAndData;
        case 4: return c.data;
        default: return false;
    }
}

}  // namespace zolt
