// The frame's history: a history that cannot be opened is told once and the window goes on
// without one; the recorder's notices, which come on its own thread, reach the operator on the
// window thread, one box at a time.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "io/paths.h"
#include "support/temp_dir.h"
#include "ui/main_frame.h"

namespace zolt {
namespace {

// Records the history's boxes, the thread that showed each, and whether one was shown while
// another was open; `whileShowing` runs inside the first box, as a real box's loop would.
class NoticePrompt : public Prompt {
public:
    void ShowMessage(std::string_view text, PromptIcon) override {
        // The folder has no page catalogue, which the job tells too.
        if (text.rfind("The history", 0) != 0 && text.rfind("told", 0) != 0) return;
        stacked = stacked || depth > 0;
        ++depth;
        shown.emplace_back(text);
        threads.push_back(GetCurrentThreadId());
        if (whileShowing) std::exchange(whileShowing, nullptr)();
        --depth;
    }
    std::vector<std::string> shown;
    std::vector<DWORD> threads;
    std::function<void()> whileShowing;
    int depth = 0;
    bool stacked = false;
};

class NoStore : public HistoryStore {
public:
    std::int64_t Append(const HistoryEntry&) override { return 1; }
    std::vector<HistoryEntry> Query(const HistoryFilter&) override { return {}; }
    std::optional<HistoryEntry> Find(std::int64_t) override { return std::nullopt; }
    std::string Where() const override { return "nowhere"; }
};

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

FrameServices Services(NoticePrompt& prompt, const test::TempDir& folder, HistoryOpener opener) {
    FrameServices services;
    services.prompt = &prompt;
    services.folder = folder.path().string();
    services.quitOnDestroy = false;
    services.openHistory = std::move(opener);
    return services;
}

TEST(FrameHistory, OneThatCannotBeOpenedIsToldOnceAndTheWindowGoesOn) {
    const test::TempDir folder;
    NoticePrompt prompt;
    CMainFrame frame(Services(prompt, folder, [](const std::string&, auto) -> std::unique_ptr<HistoryStore> {
        throw HistoryError("it is not a ZOLT history");
    }));
    ASSERT_TRUE(frame.Create());
    Pump();
    const std::string path = JoinPath(folder.path().string(), "zolt-history.sqlite");
    EXPECT_EQ(prompt.shown, std::vector<std::string>{"The history " + path + " cannot be written: it is not a ZOLT history"});
}

TEST(FrameHistory, NoticesFromAnyThreadAreShownOnTheWindowThreadOneBoxAtATime) {
    const test::TempDir folder;
    NoticePrompt prompt;
    std::function<void(const std::string&)> notice;
    CMainFrame frame(Services(prompt, folder, [&](const std::string&, auto given) -> std::unique_ptr<HistoryStore> {
        notice = given;
        notice("told before there was a window");
        return std::make_unique<NoStore>();
    }));
    ASSERT_TRUE(frame.Create());
    Pump();
    EXPECT_EQ(prompt.shown, std::vector<std::string>{"told before there was a window"});
    const auto fromAnotherThread = [&](const std::string& text) { std::thread([&] { notice(text); }).join(); };
    prompt.whileShowing = [&] {
        fromAnotherThread("told while a box was open");
        Pump();
    };
    fromAnotherThread("told by the recorder");
    EXPECT_EQ(prompt.shown.size(), 1u) << "shown on the recorder's thread";
    Pump();
    EXPECT_EQ(prompt.shown, (std::vector<std::string>{"told before there was a window", "told by the recorder",
                                                      "told while a box was open"}));
    EXPECT_FALSE(prompt.stacked);
    for (const DWORD thread : prompt.threads) EXPECT_EQ(thread, GetCurrentThreadId());
}

}  // namespace
}  // namespace zolt
