// Several zolt processes in one work folder write one history: none of their entries is lost,
// even while the first of them is still creating the file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "history/history_store.h"
#include "support/history_entries.h"
#include "support/temp_dir.h"

namespace zolt {
namespace {

constexpr int PROCESSES = 2;
constexpr int ENTRIES_EACH = 200;

// The child's work: its own connection, one entry per transaction. Its exit status tells.
[[noreturn]] void AppendAll(const std::string& path, int process) {
    int status = 0;
    try {
        auto store = OpenSqliteHistory(path, true);
        for (int n = 1; n <= ENTRIES_EACH; ++n) {
            HistoryEntry e = test::SampleEntry(n, n % 10 == 0);
            e.uid = std::to_string(process) + e.uid.substr(1);
            (void)store->Append(e);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "process %d: %s\n", process, e.what());
        status = 1;
    }
    _exit(status);
}

TEST(HistoryProcesses, TwoProcessesAppendingToOneFileLoseNoEntry) {
    test::TempDir dir;
    const std::string path = dir.File(HISTORY_FILE_NAME);
    std::vector<pid_t> children;
    for (int p = 1; p <= PROCESSES; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) AppendAll(path, p);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const auto all = OpenSqliteHistory(path, false)->Query({});
    std::set<std::string> uids;
    for (const HistoryEntry& e : all) {
        uids.insert(e.uid);
        EXPECT_EQ(e.line.tasks.size(), 3U);
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(PROCESSES * ENTRIES_EACH));
    EXPECT_EQ(uids.size(), static_cast<std::size_t>(PROCESSES * ENTRIES_EACH));
}

}  // namespace
}  // namespace zolt
