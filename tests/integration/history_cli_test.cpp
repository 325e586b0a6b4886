// The built `zolt history` on a history filled through the store, as a supervisor or a
// factory script reads it: JSON and CSV that a parser takes whole, a kept backup written out
// byte for byte as a pair that a restore accepts, and every bad input refused with status 2.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstring>

#include "cal/backup_files.h"
#include "history/history_store.h"
#include "support/history_entries.h"
#include "support/temp_dir.h"

extern char** environ;

namespace zolt {
namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs `zolt history ARGS` in `folder` to its end.
Result History(const std::vector<std::string>& words, const test::TempDir& folder) {
    std::vector<std::string> args = {ZOLT_CLI_PATH, "history"};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string out = folder.File("out.txt"), err = folder.File("err.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.path().c_str());
    pid_t pid = -1;
    Result r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = test::ReadFile(out);
    r.err = test::ReadFile(err);
    return r;
}

// A strict reader of one JSON value: the number of elements of the array it is, -1 when the
// text is not JSON.
class JsonCheck {
public:
    explicit JsonCheck(const std::string& text) : s_(text) {}
    int TopLevelCount() {
        Space();
        if (Peek() != '[') return -1;
        int count = 0;
        ++at_;
        Space();
        if (Peek() == ']') return Close() ? 0 : -1;
        do {
            if (!Value()) return -1;
            ++count;
        } while (Next(','));
        return Next(']') && Close() ? count : -1;
    }

private:
    char Peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    void Space() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    bool Next(char c) {
        Space();
        return Peek() == c && (++at_, true);
    }
    bool Close() {
        Space();
        return at_ == s_.size();
    }
    bool String() {
        if (!Next('"')) return false;
        for (; at_ < s_.size() && s_[at_] != '"'; ++at_) {
            if (static_cast<unsigned char>(s_[at_]) < 0x20) return false;
            if (s_[at_] == '\\' && ++at_ < s_.size() && s_[at_] == 'u') at_ += 4;
        }
        return Next('"');
    }
    bool Value() {
        Space();
        const char c = Peek();
        if (c == '"') return String();
        if (c == '{' || c == '[') {
            ++at_;
            const char end = c == '{' ? '}' : ']';
            if (Next(end)) return true;
            do {
                if (c == '{' && !(String() && Next(':'))) return false;
                if (!Value()) return false;
            } while (Next(','));
            return Next(end);
        }
        for (const char* word : {"null", "true", "false"}) {
            if (s_.compare(at_, std::strlen(word), word) == 0) return at_ += std::strlen(word), true;
        }
        const std::size_t start = at_;
        while (at_ < s_.size() && std::strchr("-+.eE0123456789", s_[at_])) ++at_;
        return at_ > start;
    }

    const std::string& s_;
    std::size_t at_ = 0;
};

// Rows of a CSV text: line breaks inside quotes are not row ends.
int CsvRows(const std::string& csv) {
    int rows = 0;
    bool quoted = false;
    for (char c : csv) {
        if (c == '"') quoted = !quoted;
        if (c == '\n' && !quoted) ++rows;
    }
    return rows;
}

struct HistoryCli : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.File(HISTORY_FILE_NAME);
    std::vector<std::int64_t> ids;

    void SetUp() override {
        auto store = OpenSqliteHistory(path, true);
        for (int n = 1; n <= 4; ++n) ids.push_back(store->Append(test::SampleEntry(n, n == 2)));
    }
};

TEST_F(HistoryCli, JsonAndCsvHoldEveryEntryAndParse) {
    const Result json = History({"--format", "json"}, dir);
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(JsonCheck(json.out).TopLevelCount(), 4) << json.out;
    for (const char* key : {"id", "station", "line", "port", "device", "started", "ended", "duration_s", "outcome",
                            "update", "status", "image", "name", "size", "sha256", "boot_version", "cp_version",
                            "tasks", "backup", "setting", "file"}) {
        EXPECT_NE(json.out.find("\"" + std::string(key) + "\": "), std::string::npos) << key;
    }
    EXPECT_NE(json.out.find("\"started\": \"2026-12-09T06:02:00.000Z\", \"ended\": \"2026-12-09T06:03:23.250Z\", "
                            "\"duration_s\": 83.250"),
              std::string::npos);
    EXPECT_NE(json.out.find("\"size\": 4000000002"), std::string::npos);

    const Result csv = History({"--history", path, "--format", "csv", "--failed"}, dir);
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(CsvRows(csv.out), 2) << csv.out;  // the header and entry 3, the one that failed
    EXPECT_EQ(csv.out.rfind("id,uid,station,", 0), 0U);

    const Result none = History({"--since", "2027-01-01", "--format", "json"}, dir);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "[]\n");
    const Result table = History({"--station", "bench-B", "--line", "4"}, dir);
    EXPECT_EQ(table.status, 0);
    EXPECT_EQ(CsvRows(table.out), 2) << table.out;
}

TEST_F(HistoryCli, AKeptBackupIsWrittenOutAsAPairThatARestoreAccepts) {
    const std::string srp = dir.File("line2.srp");
    const Result written = History({"--backup", std::to_string(ids[1]), "--out", srp}, dir);
    ASSERT_EQ(written.status, 0) << written.err;
    const BackupRecord kept = test::SampleEntry(2, true).line.backup;
    EXPECT_EQ(test::ReadFile(srp), kept.text);
    EXPECT_EQ(test::ReadFile(dir.File("line2.setting")), SettingFileText(static_cast<std::uint8_t>(kept.setting), kept.text));
    std::uint8_t setting = 0;
    std::string reason;
    EXPECT_TRUE(ReadSettingFile(test::ReadFile(dir.File("line2.setting")), kept.text, setting, reason)) << reason;
    EXPECT_EQ(setting, kept.setting);

    // Never over a file that is there already.
    (void)dir.Write("line2.srp", "the only copy");
    EXPECT_EQ(History({"--backup", std::to_string(ids[1]), "--out", srp}, dir).status, 2);
    EXPECT_EQ(test::ReadFile(srp), "the only copy");
}

TEST_F(HistoryCli, BadInputIsRefusedWithStatus2AndItsReason) {
    (void)dir.Write("notes.txt", "not a database at all, but long enough to be taken for one by a careless reader");
    const std::string newer = dir.File("newer.sqlite");
    (void)OpenSqliteHistory(newer, true);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE zolt_meta SET value = '2' WHERE name = 'schema_version'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--history", dir.File("missing/h.sqlite")}, "the folder " + dir.File("missing") + " does not exist"},
        {{"--history", dir.File("notes.txt")}, dir.File("notes.txt") + " is not a ZOLT history"},
        {{"--history", newer}, newer + " was written by a newer ZOLT (schema 2; this one knows 1)"},
        {{"--history", dir.File("nothing.sqlite")}, dir.File("nothing.sqlite") + " was not found"},
        {{"--colour"}, "unknown option --colour"},
        {{"--format", "xml"}, "--format takes table, csv or json"},
        {{"--since", "2026-02-30"}, "--since takes"},
        {{"--line"}, "--line needs a value"},
        {{"--backup", std::to_string(ids[0]), "--out", dir.File("x.srp")}, "entry 1 holds no calibration backup"},
        {{"--backup", "99", "--out", dir.File("x.srp")}, "holds no entry 99"},
        {{"--backup", std::to_string(ids[1])}, "--backup ID and --out FILE.srp go together"},
    };
    for (const auto& c : cases) {
        const Result r = History(c.args, dir);
        EXPECT_EQ(r.status, 2) << c.args[0];
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.srp")));
    std::filesystem::remove(path);
    const Result r = History({}, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("zolt-history.sqlite was not found: run zolt history in the work folder"), std::string::npos);
}

}  // namespace
}  // namespace zolt
