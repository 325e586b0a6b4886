#include <gtest/gtest.h>

#include "ui/form_logic.h"

namespace zolt {
namespace {

TEST(TaskListColumns, FillTheListBarFivePixels) {
    struct Case {
        int width, task, line;
    };
    for (const Case c : {Case{711, 154, 69}, Case{719, 162, 69}, Case{720, 155, 70}, Case{0, 75, -10}}) {
        const TaskColumnWidths w = TaskListColumnWidths(c.width);
        EXPECT_EQ(w.task, c.task) << c.width;
        EXPECT_EQ(w.line, c.line) << c.width;
        if (c.width > 0) {
            EXPECT_EQ(w.task + 8 * w.line, c.width - 5) << c.width;
        }
    }
}

TEST(ImageLabels, ShowVersionsFromByte18ChecksumsInCapitalsAndTheModel) {
    ImageInfo info;
    info.bootChksum = 0x1a2b;
    info.cpChksum = 0x00ff;
    const std::string boot = "BOOT-1.2";
    std::copy(boot.begin(), boot.end(), info.bootVersion.begin() + 18);
    // No zero byte: the string runs to the end of the 32-byte block and not beyond.
    std::fill(info.cpVersion.begin() + 18, info.cpVersion.end(), 'x');
    info.imageModel = "MODEL9";
    const auto shown = ImageLabelTexts(true, info);
    EXPECT_EQ(shown, (std::array<std::string, 5>{"BOOT-1.2", "0X1A2B", std::string(14, 'x'), "0X00FF", "MODEL9"}));
    EXPECT_EQ(ImageLabelTexts(false, info), (std::array<std::string, 5>{}));
}

TEST(PortRows, SayWhatTheOperatorCanDoWithThePort) {
    struct Case {
        PortState state;
        const char* stateText;
        const char* phone;
    };
    for (const Case c : {Case{PORT_FREE, "Enable", "No Phone"}, Case{PORT_CONNECTED, "Enable", "Connected"},
                         Case{PORT_USED_BY_OTHERS, "Disable", "Used by others"}}) {
        PortEntry row;
        row.portNumber = 4;
        row.name = "Com4";
        row.state = c.state;
        row.device = "COM4";
        EXPECT_EQ(PortRowTexts(row), (std::array<std::string, 5>{"Com4", c.stateText, "Com4", c.phone, "115200"}));
    }
}

TEST(PortSelection, SlotsHoldSelectedRowsAscendingAndOnlyValidRowsAreChosen) {
    PortSelection slots = SelectionSlots({2, 0});
    EXPECT_EQ(slots[0], 0);
    EXPECT_EQ(slots[1], 2);
    EXPECT_TRUE(std::all_of(slots.begin() + 2, slots.end(), [](int s) { return s == -1; }));
    const PortSelection none = SelectionSlots({});
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](int s) { return s == -1; }));
    EXPECT_EQ(ChosenRows(slots, 3), (std::vector<int>{0, 2}));
    EXPECT_EQ(ChosenRows(slots, 2), (std::vector<int>{0}));
}

TEST(SettingsDialog, OpensAsTheUpdateFlagAllows) {
    using E = std::array<bool, SETTINGS_RADIO_COUNT>;
    struct Case {
        int flag;
        E enabled, checked;
        bool calEnabled;
        int choice;
    };
    const Case cases[] = {
        {0, {1, 1, 1, 1, 0}, {1, 0, 0, 0, 0}, true, 1},
        {1, {0, 1, 1, 0, 0}, {0, 0, 0, 0, 0}, false, 0},
        {2, {0, 0, 1, 0, 0}, {0, 0, 1, 0, 0}, false, 3},
        {3, {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}, false, 4},
        // The CP-and-Data button stands for the CP choice; the CP button stays clear.
        {4, {0, 0, 0, 0, 1}, {0, 0, 0, 0, 1}, false, 3},
        {7, {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0}, true, 0},
    };
    for (const Case& c : cases) {
        const SettingsState s = OpenSettings(c.flag);
        EXPECT_EQ(s.enabled, c.enabled) << c.flag;
        EXPECT_EQ(s.checked, c.checked) << c.flag;
        EXPECT_EQ(s.calEnabled, c.calEnabled) << c.flag;
        EXPECT_EQ(s.choice, c.choice) << c.flag;
    }
}

TEST(SettingsDialog, ClicksClearTheOtherSectionsAndKeepTheTick) {
    SettingsState s = OpenSettings(0);
    s.calChecked = true;
    ClickSettingsRadio(s, RADIO_BOOT);
    EXPECT_EQ(s.choice, 2);
    EXPECT_EQ(s.checked, (std::array<bool, 5>{0, 1, 0, 0, 0}));
    EXPECT_FALSE(s.calEnabled);
    EXPECT_TRUE(s.calChecked);
    ClickSettingsRadio(s, RADIO_ALL);
    EXPECT_EQ(s.checked, (std::array<bool, 5>{1, 0, 0, 0, 0}));
    EXPECT_TRUE(s.calEnabled);

    SettingsState other = OpenSettings(7);
    ClickSettingsRadio(other, RADIO_CP_AND_DATA);
    EXPECT_EQ(other.choice, 0);
    EXPECT_EQ(other.checked, (std::array<bool, 5>{0, 0, 0, 0, 1}));
}

TEST(FileDialogFilter, PipesBecomeNulls) {
    EXPECT_EQ(DialogFilter("A(*.a)|*.a||"), std::string("A(*.a)\0*.a\0\0", 12));
}

}  // namespace
}  // namespace zolt
