// vexo-cli collect against a database that is busy or full: other programs reading it during a collection (a
// reader holding read transactions, vexo-cli's own read commands polling), and a file-size limit that makes the
// database full part-way. Nothing handed over may be lost for good: what a run cannot store is reported, and the
// next run collects it again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimEngines.h"
#include "sim/SimWeb.h"
#include "support/ChildCommand.h"
#include "support/TempHome.h"

extern char** environ;

namespace vexo {
namespace {

namespace fs = std::filesystem;
using test::TChildCommand;
using namespace std::chrono_literals;
using TStrings = std::vector<std::string>;

constexpr char kKeyword[] = "广州 电子公司";
constexpr int kBaidu = 0;
constexpr auto kChildLimit = 120s;

TStrings Lines(const std::string& text) {
    TStrings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The names between the prefix and the next suffix on every line that starts with the prefix.
std::set<std::string> NamesOnLines(const std::string& text, const std::string& prefix, const std::string& suffix) {
    std::set<std::string> names;
    for (const std::string& line : Lines(text)) {
        if (line.starts_with(prefix))
            names.insert(line.substr(prefix.size(), line.find(suffix, prefix.size()) - prefix.size()));
    }
    return names;
}

struct TRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CollectStorageTest : public ::testing::Test {
  protected:
    void SetUp() override { std::ofstream(dir_ / "qzclient.cfg") << "[hosts]\nicp=" << sim::kSimIcpHost << "\n"; }

    // `pages` Baidu result pages of the keyword with `perPage` new companies each, all with a mobile number; the
    // names in page order.
    std::vector<std::string> PagesOfNewCompanies(int pages, int perPage) {
        std::vector<std::string> names;
        for (int page = 0; page < pages; ++page) {
            std::vector<sim::TSimEntry> entries;
            for (int i = 0; i < perPage; ++i) {
                const std::string n = std::to_string(page * perPage + i + 100);
                names.push_back("广州第" + n + "号电子有限公司");
                entries.push_back({engines_.AddCompany({"www.firm" + n + ".cn", names.back(), "13900000" + n,
                                                        "020-87650" + n, "", "", "广州市天河区体育西路" + n + "号"}),
                                   i == 0});
            }
            engines_.SetPage(kBaidu, kKeyword, page, entries);
        }
        return names;
    }

    // Runs `vexo-cli collect KEYWORD --engines baidu` in the program folder, its output through pipes (a file-size
    // limit must not cut it), with the files it writes limited to `fileSizeLimit` bytes when one is given.
    TRun Collect(std::optional<rlim_t> fileSizeLimit = std::nullopt) {
        std::vector<std::string> strings{VEXO_CLI_PATH, "collect", kKeyword, "--engines", "baidu"};
        std::vector<std::string> env{"VEXO_HOME=" + dir_.string() + "/", "http_proxy=" + web_.BaseUrl(),
                                     "no_proxy=127.0.0.1", "VEXO_TEST_GATE_SCALE=0.05"};
        TChildCommand command(std::move(strings), std::move(env));
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "no pipes";
            return {};
        }
        const std::string folder = dir_.string();
        const pid_t pid = fork();
        if (pid == 0) {
            if (fileSizeLimit) {
                const rlimit limit{*fileSizeLimit, *fileSizeLimit};
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                    _exit(127);
            }
            if (dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0 || chdir(folder.c_str()) != 0)
                _exit(127);
            execve(command.Argv()[0], command.Argv(), command.Envp());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        // A run that hangs is killed once the limit has passed, and fails the test.
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool killed = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, kChildLimit, [&] { return done; })) {
                killed = true;
                kill(pid, SIGKILL);
            }
        });
        TRun run;
        // Both pipes are drained together, so a full one never blocks the child.
        std::thread errReader([&] { run.err = Drain(err[0]); });
        run.out = Drain(out[0]);
        errReader.join();
        int status = 0;
        waitpid(pid, &status, 0);
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        ended.notify_one();
        watchdog.join();
        EXPECT_FALSE(killed) << "vexo-cli collect still running after the limit";
        if (WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
        return run;
    }

    // Everything the pipe delivers until every writer has closed it.
    static std::string Drain(int fd) {
        std::string text;
        char buffer[4096];
        while (true) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                text.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
        close(fd);
        return text;
    }

    std::set<std::string> StoredNames() {
        std::set<std::string> names;
        for (const std::string& name : Lines(test::RunSqlite(home_.DatabasePath(), "select ComName from tbl_list"))) {
            EXPECT_TRUE(names.insert(name).second) << name << " stored twice";
        }
        return names;
    }

    int BaiduCursor() { return std::stoi("0" + test::RunSqlite(home_.DatabasePath(), "select lastpage from tbl_key")); }

    sim::TSimWeb web_;
    sim::TSimEngines engines_{web_};
    test::TTempHome home_;
    const fs::path& dir_ = home_.Dir();
};

// Another program keeps taking the database's shared lock while a collection stores companies, and vexo-cli's
// read commands poll it all along.
TEST_F(CollectStorageTest, BusyReadersMakeTheCollectionWaitAndNeverFailThemselves) {
    const std::vector<std::string> names = PagesOfNewCompanies(6, 2);
    ASSERT_EQ(test::RunProgram({VEXO_CLI_PATH, "add", kKeyword}).exitCode, 0);

    std::atomic<bool> stop{false};
    std::atomic<int> transactions{0};
    std::thread holder([&] {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(home_.DatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_busy_timeout(db, 10000);
        do {
            // A read transaction holds the shared lock from its first read until the commit.
            if (sqlite3_exec(db, "begin; select count(*) from tbl_list", nullptr, nullptr, nullptr) == SQLITE_OK)
                ++transactions;
            std::this_thread::sleep_for(300ms);
            sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
            std::this_thread::sleep_for(100ms);
        } while (!stop.load());
        sqlite3_close(db);
    });
    std::atomic<int> reads{0};
    std::vector<std::string> failedReads;
    std::thread poller([&] {
        do {
            for (const char* command : {"keywords", "companies"}) {
                TStrings args{VEXO_CLI_PATH, command};
                if (args[1] == "companies")
                    args.push_back(kKeyword);
                const test::TProgramRun read = test::RunProgram(args);
                ++reads;
                if (read.exitCode != 0)
                    failedReads.push_back(std::string(command) + ": " + read.err);
            }
            std::this_thread::sleep_for(20ms);
        } while (!stop.load());
    });
    const TRun busy = Collect();
    stop.store(true);
    holder.join();
    poller.join();

    RecordProperty("reads", reads.load());
    RecordProperty("failedReads", static_cast<int>(failedReads.size()));
    RecordProperty("readTransactions", transactions.load());
    EXPECT_EQ(busy.exitCode, 0) << busy.err;
    EXPECT_GT(transactions.load(), 0);
    EXPECT_TRUE(failedReads.empty()) << failedReads.size() << " of " << reads.load()
                                     << " reads failed, first: " << failedReads.front();

    const TRun next = Collect();
    EXPECT_EQ(next.exitCode, 0) << next.err;
    // Every company handed over during the busy run is stored (once).
    const std::set<std::string> handedOver = NamesOnLines(busy.err, "获取[", "]获取成功！");
    EXPECT_FALSE(handedOver.empty()) << busy.err;
    const std::set<std::string> stored = StoredNames();
    for (const std::string& name : handedOver)
        EXPECT_EQ(stored.count(name), 1u) << name;
}

// The database file may not grow past its size when the collection starts: a few companies fit into its pages,
// then every insert fails as on a full disk.
TEST_F(CollectStorageTest, AFullDatabaseIsReportedAndTheNextRunCollectsWhatWasMissed) {
    constexpr int kPerPage = 3;
    const std::vector<std::string> names = PagesOfNewCompanies(15, kPerPage);
    ASSERT_EQ(test::RunProgram({VEXO_CLI_PATH, "add", kKeyword}).exitCode, 0);
    const auto size = static_cast<rlim_t>(fs::file_size(home_.DatabasePath()));

    const TRun full = Collect(size);
    EXPECT_EQ(full.exitCode, 3) << full.err;
    const std::set<std::string> lost = NamesOnLines(full.err, "not stored: ", " (");
    ASSERT_FALSE(lost.empty()) << full.err;
    const std::string count = std::to_string(lost.size());
    // The reason is SQLite's: an I/O error for a file-size limit, "database or disk is full" for a full disk.
    const std::string report =
        "vexo-cli: " + count + (lost.size() == 1 ? " company" : " companies") + " could not be stored (";
    const std::size_t at = full.err.find(report);
    ASSERT_NE(at, std::string::npos) << full.err;
    EXPECT_NE(full.err.find("); the next run collects", at), std::string::npos) << full.err;
    EXPECT_NE(full.out.find(std::string(kKeyword) + ": "), std::string::npos);
    EXPECT_NE(full.out.find("; stopped: " + count + (lost.size() == 1 ? " company" : " companies") + " not stored\n"),
              std::string::npos)
        << full.out;
    EXPECT_LE(fs::file_size(home_.DatabasePath()), size);

    // The saved cursor is not past the first page a lost company came from.
    int firstLostPage = 1 << 30;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (lost.count(names[i]) != 0)
            firstLostPage = std::min(firstLostPage, static_cast<int>(i) / kPerPage);
    }
    EXPECT_LE(BaiduCursor(), firstLostPage);
    const std::set<std::string> storedFirst = StoredNames();
    for (const std::string& name : lost)
        EXPECT_EQ(storedFirst.count(name), 0u) << name;

    const TRun next = Collect();
    EXPECT_EQ(next.exitCode, 0) << next.err;
    const std::set<std::string> stored = StoredNames();
    const std::set<std::string> handedOver = NamesOnLines(full.err, "获取[", "]获取成功！");
    RecordProperty("handedOverWhenFull", static_cast<int>(handedOver.size()));
    RecordProperty("storedWhenFull", static_cast<int>(storedFirst.size()));
    RecordProperty("lostWhenFull", static_cast<int>(lost.size()));
    RecordProperty("storedAfterNextRun", static_cast<int>(stored.size()));
    for (const std::string& name : handedOver)
        EXPECT_EQ(stored.count(name), 1u) << name << (lost.count(name) != 0 ? " lost for good" : "");
}

}  // namespace
}  // namespace vexo
