// The command line's words and what it writes at the end of a job.
#include <gtest/gtest.h>

#include "cli/job_summary.h"
#include "cli/run_options.h"
#include "cli/station_view.h"
#include "cli/terminal_view.h"
#include "job/update_choices.h"
#include "support/recording_prompt.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using cli::ParseRunOptions;

std::optional<cli::RunOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string e;
    auto o = ParseRunOptions(args, e);
    if (error) *error = e;
    return o;
}

TEST(RunOptions, AcceptsAnImageJobAndKeepsPortOrder) {
    auto o = Parse({"--image", "a.bin", "--update", "all", "--with-cal", "--port", "/dev/b", "--port", "/dev/a",
                    "--workdir", "w", "--report", "r.json", "--config", "c.ini", "--phone-wait", "30"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->phoneWaitSeconds, 30);
    EXPECT_EQ(o->choice, 1);
    EXPECT_TRUE(o->withCal);
    EXPECT_EQ(o->ports, (std::vector<std::string>{"/dev/b", "/dev/a"}));
    EXPECT_EQ(o->workdir, "w");
    EXPECT_EQ(o->report, "r.json");
    EXPECT_EQ(o->config, "c.ini");
    auto script = Parse({"--script", "s.srp", "--port", "COM5"});
    ASSERT_TRUE(script);
    EXPECT_EQ(script->choice, 0);
}

TEST(RunOptions, RefusesWhatCannotMakeAJob) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                                               // nothing
        {"--image", "a.bin", "--port", "p"},                              // no --update
        {"--image", "a.bin", "--update", "everything", "--port", "p"},    // unknown choice
        {"--image", "a.bin", "--update", "cp", "--with-cal", "--port", "p"},
        {"--script", "s.srp", "--update", "all", "--port", "p"},
        {"--image", "a.bin", "--script", "s.srp", "--update", "all", "--port", "p"},
        {"--image", "a.bin", "--update", "all", "--no-cal"},              // no port
        {"--image", "a.bin", "--update", "all", "--no-cal", "--port", "p", "--port", "p"},
        {"--image", "a.bin", "--update", "all", "--no-cal", "--port"},    // value missing
        {"--image", "a.bin", "--update", "all", "--no-cal", "--port", "p", "--colour"},
        {"--restore", "c.srp", "--port", "p", "--port", "q"},             // one phone's backup
        {"--restore", "c.srp", "--update", "all", "--port", "p"},
        {"--restore", "c.srp", "--script", "s.srp", "--port", "p"},
        {"--script", "s.srp", "--port", "p", "--phone-wait", "0"},
        {"--script", "s.srp", "--port", "p", "--phone-wait", "-5"},
        {"--script", "s.srp", "--port", "p", "--phone-wait", "1.5"},
        {"--script", "s.srp", "--port", "p", "--phone-wait", "9999999999"},
        {"--script", "s.srp", "--port", "p", "--no-history", "--history", "h.sqlite"},
        {"--script", "s.srp", "--port", "p", "--station"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
    // Four groups of eight lines at most.
    std::vector<std::string> ports = {"--script", "s.srp"};
    for (int i = 0; i < 32; ++i) {
        ports.push_back("--port");
        ports.push_back(std::to_string(i));
    }
    EXPECT_TRUE(Parse(ports));
    ports.push_back("--port");
    ports.push_back("32");
    EXPECT_FALSE(Parse(ports));
}

// A station takes --count and no saved backup, which belongs to one phone; zolt run takes no
// --count.
TEST(RunOptions, AStationCountsPhonesAndPlaysNoSavedBackup) {
    const struct {
        std::vector<std::string> args;
        bool station;
        std::optional<int> count;  // nothing: refused
    } cases[] = {
        {{"--script", "s.srp", "--port", "p", "--count", "12"}, true, 12},
        {{"--script", "s.srp", "--port", "p", "--count", "12"}, false, std::nullopt},
        {{"--script", "s.srp", "--port", "p", "--count", "0"}, true, std::nullopt},
        {{"--script", "s.srp", "--port", "p", "--count", "1e3"}, true, std::nullopt},
        {{"--script", "s.srp", "--port", "p", "--count", "99999999999"}, true, std::nullopt},
        {{"--restore", "c.srp", "--port", "p"}, true, std::nullopt},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto o = ParseRunOptions(c.args, error, c.station);
        EXPECT_EQ(o.has_value(), c.count.has_value()) << ::testing::PrintToString(c.args) << error;
        if (o && c.count) {
            EXPECT_EQ(o->count, c.count);
        }
    }
}

// Writing the Data section erases the calibration: the operator must say whether it is kept
// or may go, and a word about the calibration where nothing erases it is a mistake too.
TEST(RunOptions, AnUpdateThatErasesTheCalibrationSaysWhatBecomesOfIt) {
    struct Case {
        std::vector<std::string> words;
        const char* said;  // nullptr: accepted
    };
    const std::vector<Case> cases = {
        {{"--image", "a.bin", "--update", "all"}, "--update all erases the phone's calibration"},
        {{"--image", "a.bin", "--update", "data"}, "--update data erases the phone's calibration"},
        {{"--image", "a.bin", "--update", "data", "--with-cal"}, "--with-cal only goes with --update all"},
        {{"--image", "a.bin", "--update", "all", "--with-cal", "--no-cal"}, "not both"},
        {{"--image", "a.bin", "--update", "boot", "--no-cal"}, "--no-cal only goes with"},
        {{"--script", "s.srp", "--no-cal"}, "--no-cal only goes with"},
        {{"--restore", "c.srp", "--no-cal"}, "--no-cal only goes with"},
        {{"--image", "a.bin", "--update", "all", "--no-cal"}, nullptr},
        {{"--image", "a.bin", "--update", "data", "--no-cal"}, nullptr},
        {{"--image", "a.bin", "--update", "boot"}, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.words;
        args.insert(args.end(), {"--port", "p"});
        std::string error;
        const auto o = Parse(args, &error);
        EXPECT_EQ(o.has_value(), c.said == nullptr) << ::testing::PrintToString(args) << ": " << error;
        if (c.said) {
            EXPECT_NE(error.find(c.said), std::string::npos) << error;
        }
    }
}

TEST(UpdateChoices, FollowTheUpdateFlag) {
    EXPECT_TRUE(ChoiceAllowed(0, 1, true));
    EXPECT_TRUE(ChoiceAllowed(0, 4, false));
    EXPECT_FALSE(ChoiceAllowed(0, 2, true));  // the check box goes with all sections only
    EXPECT_FALSE(ChoiceAllowed(1, 1, false));
    EXPECT_TRUE(ChoiceAllowed(1, 2, false));
    EXPECT_TRUE(ChoiceAllowed(1, 3, false));
    EXPECT_FALSE(ChoiceAllowed(1, 4, false));
    EXPECT_TRUE(ChoiceAllowed(2, 3, false));
    EXPECT_FALSE(ChoiceAllowed(2, 2, false));
    EXPECT_TRUE(ChoiceAllowed(3, 4, false));
    EXPECT_FALSE(ChoiceAllowed(3, 3, false));
    EXPECT_TRUE(ChoiceAllowed(4, 3, false));  // "Updata Cp and Data"
    EXPECT_FALSE(ChoiceAllowed(4, 1, false));
    EXPECT_TRUE(ChoiceAllowed(7, 1, true));
    EXPECT_EQ(OfferedChoices(0).preselected, 1);
    EXPECT_EQ(OfferedChoices(4).preselected, 3);
    EXPECT_EQ(OfferedChoices(1).preselected, 0);
}

TEST(JobSummary, JsonReportIsValidForAnyStatusText) {
    cli::JobSummary s;
    s.file = "C:\\roms\\\"new\".bin";
    s.tasks = {"Update Boot"};
    cli::LineSummary line;
    line.lineNumber = 3;
    line.port = "/dev/pts/4";
    line.status = std::string("bad\x01\xff\n");
    line.result = "failed";
    line.outcomes = {"Fail"};
    line.seconds = 2;
    line.payloadBytes = 2048;
    s.lines.push_back(line);
    s.exitStatus = 1;
    const std::string json = cli::FormatJson(s);
    EXPECT_NE(json.find(R"("file": "C:\\roms\\\"new\".bin")"), std::string::npos);
    EXPECT_NE(json.find(R"("status": "bad\u0001\u00ff\n")"), std::string::npos);
    EXPECT_NE(json.find(R"("bytes_per_second": 1024.0)"), std::string::npos);
    EXPECT_NE(json.find(R"({"task": "Update Boot", "outcome": "Fail"})"), std::string::npos);
    EXPECT_NE(json.find(R"("exit_status": 1)"), std::string::npos);

    const std::string text = cli::FormatSummary(s);
    EXPECT_NE(text.find("Line 3"), std::string::npos);
    EXPECT_NE(text.find("1.0 KiB/s"), std::string::npos);
}

// The live rows never wrap, whatever the terminal's width, and still show the line, its state
// and its status when narrow; after the terminal narrows, the redraw goes back over every row
// the old rows now take.
TEST(TerminalView, RowsFitTheTerminalAndFollowAResize) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    int columns = 200;
    cli::TerminalView view(out, true, [&] { return columns; });
    view.SetLinePanel(0, true, 0, "/dev/ttyUSB0");
    view.SetLinePanel(1, true, 0, "/dev/ttyUSB1");
    view.Begin({0, 1});
    view.SetLineStatus(0, "/a/rather/long/working/folder/for/the/calibration/file/COM-1calibration.srp");
    view.ShowLineProgress(1, 42);
    for (int width : {200, 120, 80, 40, 20}) {
        columns = width;
        view.Redraw();
    }
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    std::fclose(out);

    std::vector<std::string> rows;
    std::string moves;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        std::string row = text.substr(at, end - at);
        // Keep the cursor moves apart from the row's text.
        for (std::size_t e; (e = row.find('\x1b')) != std::string::npos;) {
            const std::size_t stop = row.find_first_of("AJK", e);
            moves += row.substr(e + 2, stop - e - 1) + " ";
            row.erase(e, stop - e + 1);
        }
        std::erase(row, '\r');
        rows.push_back(row);
        at = end + 1;
    }
    ASSERT_EQ(rows.size(), 12u);  // two rows at each draw, the first by Begin
    const std::size_t widths[] = {200, 200, 120, 80, 40, 20};
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_LT(rows[i].size(), widths[i / 2]) << rows[i];
    EXPECT_EQ(rows[8].substr(0, 15), "(*) Line 1  0% ");
    EXPECT_EQ(rows[9], "(*) Line 2  42%  Waiting ...");
    EXPECT_EQ(rows[11].substr(0, 12), "(*) Line 2  ");
    // At 20 columns the long row drawn at 40 takes two rows: three rows to go back over.
    EXPECT_NE(moves.find("3A"), std::string::npos) << moves;
}

// A station's rows stand under their heading and fit the terminal; a long stable port name
// keeps the end that tells the sockets apart.
TEST(StationView, RowsFitTheTerminalUnderTheirHeading) {
    test::TempDir dir;
    test::RecordingPrompt prompt;
    test::RecordingSink sink;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    int columns = 80;
    cli::StationView view(out, true, [&] { return columns; });
    LineGroups groups(2, view, prompt, sink, dir.path().string(), dir.path().string(), nullptr);
    Station station(groups, {0, 1}, sink);
    view.SetPortLabel(0, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0");
    view.SetPortLabel(1, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0");
    (void)station.OnEvent(WM_STATION_PORT_GONE, 0, 2);
    view.Begin(station);
    for (int width : {120, 80, 50}) {
        columns = width;
        const std::string heading = view.Header(width - 1);
        const std::string row = view.Format(station.Lines()[1], width - 1);
        EXPECT_LT(heading.size(), static_cast<std::size_t>(width));
        EXPECT_LT(row.size(), static_cast<std::size_t>(width)) << row;
        EXPECT_NE(row.find("waiting for the port"), std::string::npos) << row;
        if (width >= 80) {
            EXPECT_EQ(heading.find("Port"), row.find("..."));
            EXPECT_NE(heading.find("Last phone"), std::string::npos) << heading;
            EXPECT_NE(row.find("1.2:1.0-port0"), std::string::npos) << row;
        }
    }
    EXPECT_EQ(view.Summary().substr(0, 44), "Phones: 0 passed, 0 failed, 0 working  0.0 p");
    std::fclose(out);
}

// A line that waits for its phone says, once it has waited long enough, what it waits for and
// what usually helps: once on a pipe, under the rows and within the width on a terminal. Other
// statuses, and a finished line, get none.
TEST(TerminalView, ALongWaitForThePhoneSaysWhatHelps) {
    const auto drawn = [](bool live, const std::vector<std::string>& statuses) {
        std::FILE* out = std::tmpfile();
        cli::TerminalView view(out, live, [] { return 60; });
        view.SetWaitHintAfter(std::chrono::milliseconds(0));
        for (int line = 0; line < static_cast<int>(statuses.size()); ++line) view.SetLinePanel(line, true, 0, "p");
        view.Begin({0, 1});
        for (int line = 0; line < static_cast<int>(statuses.size()); ++line) view.SetLineStatus(line, statuses[line]);
        view.Redraw();
        view.Redraw();
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        std::fclose(out);
        return text;
    };
    const std::string piped = drawn(false, {"Wait for read FS...", "Backup page RxGain"});
    EXPECT_EQ(piped.find("Line 1 has waited 0 s at \"Wait for read FS...\": the phone may still be in its boot loader"),
              piped.rfind("Line 1 has waited"))
        << piped;
    EXPECT_EQ(piped.find("Line 2 has waited"), std::string::npos) << piped;
    const std::string live = drawn(true, {"Wait for boot load...", "Wait for read FS..."});
    EXPECT_NE(live.find("power-cycle it"), std::string::npos) << live;
    for (std::size_t at = 0, end; (end = live.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string row = live.substr(at, end - at);
        if (const auto k = row.rfind("\x1b[K"); k != std::string::npos) row.erase(k);
        if (const auto r = row.rfind('\r'); r != std::string::npos) row.erase(0, r + 1);
        EXPECT_LT(row.size(), 60u) << row;
    }
}

}  // namespace
}  // namespace zolt
