// The trace's words for frames and for the job's course: what a technician reads instead of
// hexadecimal.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/frame_names.h"
#include "cli/trace_file.h"
#include "link/ets_frame.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using cli::FrameName;
constexpr auto SENT = FrameDirection::Sent;
constexpr auto RECEIVED = FrameDirection::Received;

// A body's frame as a line traces it: unescaped, with its checksum.
Bytes Frame(const Bytes& body) {
    Bytes frame = {EtsFrame::START, static_cast<std::uint8_t>(body.size()), static_cast<std::uint8_t>(body.size() >> 8)};
    for (std::uint8_t b : body) frame.push_back(b);
    frame.push_back(FrameChecksum(frame.data(), static_cast<int>(frame.size())));
    return frame;
}

TEST(FrameName, NamesEveryRequestAndReplyFromItsBytes) {
    struct Case {
        FrameDirection direction;
        Bytes body;
        std::string name;
    };
    const Case cases[] = {
        {SENT, {0x00, 0x00, 0x01}, "probe"},
        {RECEIVED, {0x00, 0x00, 0x01}, "echo"},
        {RECEIVED, {0xE0, 0x00}, "boot loader ready"},
        {SENT, {0xE0, 0x00}, "boot confirm"},
        {SENT, {0xB2, 0x04, 0x01, 0, 0, 0, 0x00, 0x06, 0, 0, 0, 0}, "erase type 1M Data"},
        {SENT, {0xB2, 0x04, 0x0C, 0, 0, 0, 0x01, 0x01, 0x12, 0x34, 0x5E, 0x01}, "flash write block 12 type CP (350 bytes)"},
        {SENT, {0xB2, 0x04, 0x0C, 0x01, 0, 0, 0x01, 0x09, 0, 0, 0, 0}, "flash write block 268 type 9 (0 bytes)"},
        {RECEIVED, {0xB2, 0x04, 0x0C, 0, 0, 0, 0x00}, "flash reply block 12 accepted"},
        {RECEIVED, {0xB2, 0x04, 0x02, 0, 0, 0, 0x01}, "flash reply send block 2"},
        {RECEIVED, {0xB2, 0x04, 0x02, 0, 0, 0, 0x07}, "flash reply block 2 status 7"},
        // Page reads go by their shape: the id is whatever the catalogue says.
        {SENT, {0x11, 0x00, 0x01, 0x04, 0x11, 0x00, 0x20, 0x00}, "page read db 1 seg 4 offset 17 32 bytes"},
        {SENT, {0x34, 0x12, 0x00, 0x05, 0x80, 0x00, 0x02, 0x00}, "page read db 0 seg 5 offset 128 2 bytes"},
        {RECEIVED, {0x34, 0x12, 0x00, 0x05, 0x80, 0x00, 0x02, 0x00, 0xAA, 0xBB}, "page reply db 0 seg 5 offset 128 2 bytes"},
        {RECEIVED, {0x34, 0x12, 0x00, 0x05, 0x80, 0x00, 0x02, 0x00, 0xAA}, "page reply db 0 seg 5 offset 128 2 bytes (holds 1)"},
        {SENT, {0x30, 0x01, 0x00, 0x0C, 0x00, 0x00, 0x02, 0x00, 0x01, 0xAA, 0xBB}, "record write db 0 seg 12 offset 0 2 bytes"},
        {RECEIVED, {0x30, 0x01, 0x00, 0x0C, 0x00, 0x00, 0x02, 0x00}, "record accepted db 0 seg 12 offset 0 2 bytes"},
        {SENT, {0x31, 0x01, 0x00, 0x00}, "records begin"},
        {SENT, {0x31, 0x01, 0x01, 0x00}, "records end"},
        {SENT, {0xA2, 0x07, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x30}, "file-system access"},
        {SENT, {0xA2, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x5A},
         "SIDB write type 18 id 3 len 1 offset 0 (setting 0x5A)"},
        {SENT, {0xA2, 0x07, 0x40, 0x00, 0x02, 0x00, 0x02, 0x00, 0x04, 0x00, 0x01, 0x02}, "SIDB write type 64 id 2 len 2 offset 4"},
        {RECEIVED, {0xA2, 0x07, 0x00, 0x00}, "SIDB write accepted"},
        {SENT, {0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00}, "setting read"},
        {RECEIVED, {0xA1, 0x07, 0x12, 0x00, 0x03, 0x00, 0x5A}, "setting 0x5A"},
        {SENT, {0xF3, 0x03}, "file-system release (first)"},
        {SENT, {0xCE, 0x00, 0x00}, "file-system release (second)"},
        {SENT, {0xDC, 0x00}, "reset"},
        {RECEIVED, {0x9B, 0x08}, "refused"},
        {RECEIVED, {0x55, 0x01, 0x00}, "unknown"},
        {RECEIVED, {0x32}, "timed out"},
        // Too short for its kind: named, never read past the end.
        {SENT, {0xB2, 0x04, 0x01}, "flash request (short)"},
        {RECEIVED, {0xB2, 0x04}, "flash reply (short)"},
        {SENT, {0x30, 0x01, 0x00}, "record write (short)"},
        {SENT, {0xA2, 0x07, 0x12}, "SIDB write (short)"},
        {RECEIVED, {0xA1, 0x07, 0x12}, "SIDB read reply (odd length)"},
        {SENT, {0x31, 0x01}, "records marker (short)"},
        {RECEIVED, {0x07}, "unknown"},
        {RECEIVED, {}, "empty"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameName(c.direction, Frame(c.body)), c.name) << ::testing::PrintToString(c.body);
    }
}

TEST(FrameName, SaysWhenAReceivedFrameIsDamagedOrMissing) {
    Bytes flipped = Frame({0xB2, 0x04, 0x0C, 0, 0, 0, 0x00});
    flipped[5] ^= 0x01;
    EXPECT_EQ(FrameName(RECEIVED, flipped), "flash reply block 13 accepted (bad checksum)");
    Bytes cut = Frame({0xA2, 0x07, 0x00, 0x00});
    cut.resize(5);
    EXPECT_EQ(FrameName(RECEIVED, cut), "SIDB write accepted (cut short)");
    EXPECT_EQ(FrameName(FrameDirection::TimedOut, Bytes(std::begin(EtsFrame::TIMEOUT_FRAME), std::end(EtsFrame::TIMEOUT_FRAME))),
              "timed out");
    EXPECT_EQ(FrameName(RECEIVED, Bytes{0xFE, 0x05}), "cut short");
}

TEST(TraceFile, KeepsEveryByteOfTheFrameBehindItsName) {
    const std::string line = cli::TraceFile::Format(3.1204, 9, RECEIVED, Frame({0x9B, 0x08}));
    EXPECT_EQ(line.substr(0, line.find("refused")), "     3.120  line 9   received  ");
    EXPECT_EQ(line.substr(line.size() - 19), "  FE 02 00 9B 08 5B");
}

// The lines between the time and the end of each trace line: "line 3   == task ...".
std::vector<std::string> Markers(const std::string& trace) {
    std::vector<std::string> markers;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a text file on Windows
        markers.push_back(line.substr(line.find("line ")));
    }
    return markers;
}

TEST(TraceMarkers, MarkEachTasksEndAndTheNextOnesStartAndPassEveryEventOn) {
    test::TempDir dir;
    cli::TraceFile trace;
    ASSERT_TRUE(trace.Open(dir.File("trace.txt")));
    test::RecordingSink queue;
    cli::TraceMarkers markers(queue, &trace);
    const std::vector<test::LineEvent> events = {
        {WM_PORT_TASK_DONE, 0, 3}, {WM_PORT_TASK_DONE, 1, 3}, {WM_PORT_FAILED, 1, 3},
        {WM_PORT_TASK_DONE, 0, 12}, {WM_PORT_TASK_DONE, 1, 12}, {WM_PORT_ALL_DONE, 0, 12},
    };
    cli::TracedJob job;
    job.tasks = {"Update Boot", "Update CP"};
    job.outcome = [](int line, int task) { return line == 3 && task == 1 ? "Fail" : "Done"; };
    job.status = [](int line) { return "status of " + std::to_string(line); };
    markers.Begin(job, {3, 12, 20});
    for (const auto& e : events) markers.PostLineEvent(e.message, e.wParam, e.lParam);
    markers.MarkStopped();
    EXPECT_EQ(queue.events(), events);
    EXPECT_EQ(Markers(test::ReadFile(dir.File("trace.txt"))), (std::vector<std::string>{
        "line 3   == task Update Boot begins",
        "line 12  == task Update Boot begins",
        "line 20  == task Update Boot begins",
        "line 3   == task Update Boot: Done",
        "line 3   == task Update CP begins",
        "line 3   == task Update CP: Fail",
        "line 3   == line ends: failed (status of 3)",
        "line 12  == task Update Boot: Done",
        "line 12  == task Update CP begins",
        "line 12  == task Update CP: Done",
        "line 12  == line ends: ok",
        "line 20  == line ends: stopped",
    }));
}

}  // namespace
}  // namespace zolt
