// vexo-cli collect end to end: the built program, run in a temporary program folder, collects from the simulated
// engines (reached through http_proxy) into Data/users; the rows are read back with the sqlite3 program. Gates are
// shortened through the test-only VEXO_TEST_GATE_SCALE.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimEngines.h"
#include "sim/SimWeb.h"
#include "store/WriterLock.h"
#include "support/ChildCommand.h"
#include "support/TempHome.h"

extern char** environ;

namespace vexo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::TSimCompany;
using test::TChildCommand;
using sim::TSimEngines;
using TStrings = std::vector<std::string>;

constexpr char kKeyword[] = "广州 电子公司";
constexpr char kOtherKeyword[] = "深圳 电子公司";
constexpr char kFastGates[] = "0.02";
// For runs whose companies must be stored: four idle result pages stop a task, and its site threads with it, so
// the pages must come slowly enough for a site visit to end first, also on a loaded machine.
constexpr char kSiteVisitGates[] = "0.2";
constexpr auto kChildLimit = 90s;

const char* const kSourceNames[] = {"百度", "搜狗", "360"};
const char* const kEngineNames[] = {"baidu", "sogou", "360"};

struct TRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TStrings Lines(const std::string& text) {
    TStrings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class CollectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(dir_ / "qzclient.cfg") << "[config]\n\n[hosts]\nicp=" << sim::kSimIcpHost << "\n";
        a_ = engines_.AddCompany({"www.jiayi-dz.cn", "广州市甲乙电子科技有限公司", "13912345678", "020-87654321",
                                  "sales@jiayi-dz.cn", "12345678", "广州市天河区体育西路100号"});
        b_ = engines_.AddCompany({"www.bingding.com.cn", "广州丙丁电子有限公司", "13800138000", "020-38887777",
                                  "info@bingding.com.cn", "", "广州市番禺区市桥街8号"});
        c_ = engines_.AddCompany({"www.wuji-dz.cn", "佛山戊己电子有限公司", "", "0757-82223333", "", "", ""});
        d_ = engines_.AddCompany({"www.gengxin.net", "深圳庚辛电子有限公司", "13600001111", "0755-26667777", "", "",
                                  "深圳市南山区科技园2栋"});
    }

    // Starts `vexo-cli collect` with the arguments in the program folder; stdout goes to `outPath` (a file of the
    // folder when empty) and stderr to a file.
    pid_t Spawn(const TStrings& args, const std::string& gateScale = kFastGates, std::string outPath = {}) {
        std::vector<std::string> strings{VEXO_CLI_PATH, "collect"};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<std::string> env{"VEXO_HOME=" + dir_.string() + "/", "http_proxy=" + web_.BaseUrl(),
                                     "no_proxy=127.0.0.1", "VEXO_TEST_GATE_SCALE=" + gateScale};
        TChildCommand command(std::move(strings), std::move(env));
        if (outPath.empty())
            outPath = (dir_ / "stdout").string();
        const std::string errPath = (dir_ / "stderr").string();
        const std::string folder = dir_.string();

        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folder.c_str()) != 0)
                _exit(127);
            execve(command.Argv()[0], command.Argv(), command.Envp());
            _exit(127);
        }
        return pid;
    }

    TRun Wait(pid_t pid) {
        TRun run;
        const auto limit = std::chrono::steady_clock::now() + kChildLimit;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > limit) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "vexo-cli collect still running after the limit";
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
        run.out = ReadAll(dir_ / "stdout");
        run.err = ReadAll(dir_ / "stderr");
        return run;
    }

    TRun Collect(const TStrings& args, const std::string& gateScale = kFastGates) {
        return Wait(Spawn(args, gateScale));
    }

    // Rows of a query on Data/users through the sqlite3 program, columns split at "|".
    std::vector<TStrings> Query(const std::string& sql) {
        const std::string printed = test::RunSqlite(dir_ / "Data" / "users", sql);
        std::vector<TStrings> rows;
        for (const std::string& line : Lines(printed)) {
            TStrings columns;
            std::size_t start = 0;
            while (true) {
                const std::size_t bar = line.find('|', start);
                columns.push_back(line.substr(start, bar - start));
                if (bar == std::string::npos)
                    break;
                start = bar + 1;
            }
            rows.push_back(columns);
        }
        return rows;
    }

    // name|source|ispay|renzheng|mob|tel|email|qq|addr|weburl|keyword of every stored company, by name; the contact
    // lists with their CR LF ends written as ";".
    std::map<std::string, std::string> Companies() {
        std::map<std::string, std::string> companies;
        for (const TStrings& row :
             Query("select l.ComName, l.source, l.ispay, l.renzheng, replace(l.mob, char(13,10), ';'), "
                   "replace(l.Tel, char(13,10), ';'), replace(l.EMail, char(13,10), ';'), "
                   "replace(l.qq, char(13,10), ';'), l.Addr, l.weburl, k.KeyStr from tbl_list l "
                   "left join tbl_key k on k.ID = l.keyid order by l.ListID")) {
            std::string rest;
            for (std::size_t i = 1; i < row.size(); ++i)
                rest += (i > 1 ? "|" : "") + row[i];
            EXPECT_EQ(companies.count(row[0]), 0u) << row[0] << " stored twice";
            companies[row[0]] = rest;
        }
        return companies;
    }

    // The keyword's three page cursors (Baidu, Sogou, 360).
    std::vector<int> Cursors(const std::string& keyword) {
        const auto rows =
            Query("select lastpage, sglastpage, s360lastpage from tbl_key where KeyStr = '" + keyword + "'");
        EXPECT_EQ(rows.size(), 1u) << keyword;
        if (rows.size() != 1 || rows[0].size() != 3)
            return {-1, -1, -1};
        return {std::stoi(rows[0][0]), std::stoi(rows[0][1]), std::stoi(rows[0][2])};
    }

    int PagesRequested(int engine, const std::string& keyword) const {
        int count = 0;
        for (const auto& request : engines_.PageRequests(engine))
            count += request.Keyword == keyword ? 1 : 0;
        return count;
    }

    // After a first run of the keyword on all three engines: each saved cursor is at least `least` and counts the
    // result pages its engine requested, less one a stop may have caught in flight (a page not read does not advance
    // the cursor); the summary's pages are those same advances.
    void ExpectCursorsOfAFirstRunOfEveryEngine(const TRun& run, int least) {
        const std::vector<int> cursors = Cursors(kKeyword);
        std::string pages = "; pages";
        for (int engine = 0; engine < 3; ++engine) {
            const int requested = PagesRequested(engine, kKeyword);
            EXPECT_GE(cursors[engine], least) << kEngineNames[engine];
            EXPECT_TRUE(cursors[engine] == requested || cursors[engine] == requested - 1)
                << kEngineNames[engine] << " cursor " << cursors[engine] << ", pages " << requested;
            pages +=
                (engine == 0 ? " " : ", ") + std::string(kEngineNames[engine]) + " " + std::to_string(cursors[engine]);
        }
        EXPECT_NE(run.out.find(pages + "; "), std::string::npos) << run.out << "expected" << pages;
    }

    // The rows one company gives when collected from an engine.
    std::string Row(std::size_t company, int engine, bool paid, const std::string& keyword) const {
        const TSimCompany& c = engines_.Company(company);
        auto list = [](const std::string& value) { return value.empty() ? std::string() : value + ";"; };
        return std::string(kSourceNames[engine]) + "|" + (paid ? "1" : "0") + "|" + (paid && engine == 0 ? "1" : "0") +
               "|" + list(c.Mobile) + "|" + list(c.Landline) + "|" + list(c.Email) + "|" + list(c.QQ) + "|" +
               c.Address + "|http://" + c.Host + "/|" + keyword;
    }

    // Each engine's first `pages` pages bring one new company each.
    void EveryPageBringsANewCompany(const std::string& keyword, int pages) {
        for (int engine = 0; engine < 3; ++engine) {
            for (int page = 0; page < pages; ++page) {
                const std::string n = std::to_string(engine * 100 + page);
                const std::size_t company =
                    engines_.AddCompany({"www.firm" + n + ".cn", "广州第" + n + "号电子有限公司",
                                         "139" + std::string(8 - n.size(), '0') + n,
                                         "020-8765" + std::string(4 - n.size(), '0') + n, "", "", ""});
                engines_.SetPage(engine, keyword, page, {{company, page % 2 == 0}});
            }
        }
    }

    sim::TSimWeb web_;
    TSimEngines engines_{web_};
    test::TTempHome home_;
    const fs::path& dir_ = home_.Dir();
    std::size_t a_ = 0, b_ = 0, c_ = 0, d_ = 0;
};

// The lines of the run's error output after the last "stored:" line.
TStrings LinesAfterLastStored(const std::string& err) {
    TStrings after;
    for (const std::string& line : Lines(err)) {
        if (line.starts_with("stored: ")) {
            after.clear();
        } else {
            after.push_back(line);
        }
    }
    return after;
}

int CountStartingWith(const TStrings& lines, const std::string& prefix) {
    int count = 0;
    for (const std::string& line : lines)
        count += line.starts_with(prefix) ? 1 : 0;
    return count;
}

class CollectEngineTest : public CollectTest, public ::testing::WithParamInterface<int> {};

TEST_P(CollectEngineTest, StoresTheKeywordsCompaniesAndStopsAtTheFourthPageWithoutANewOne) {
    const int engine = GetParam();
    for (int e = 0; e < 3; ++e)
        engines_.SetPage(e, kKeyword, 0, {{a_, true}, {b_, false}, {c_, false}});

    const TRun run = Collect({kKeyword, "--engines", kEngineNames[engine]}, kSiteVisitGates);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // Only a and b have a mobile number; c is visited but not stored.
    EXPECT_EQ(Companies(), (std::map<std::string, std::string>{
                               {"广州市甲乙电子科技有限公司", Row(a_, engine, true, kKeyword)},
                               {"广州丙丁电子有限公司", Row(b_, engine, false, kKeyword)},
                           }));
    // The fourth page done in a row without a new company stopped the task; the three before it were saved.
    const TStrings tail = LinesAfterLastStored(run.err);
    EXPECT_EQ(CountStartingWith(tail, "[" + std::string(kSourceNames[engine]) + "] page "), 3) << run.err;
    EXPECT_EQ(CountStartingWith(tail, "stopping: no new company"), 1) << run.err;

    const int pages = PagesRequested(engine, kKeyword);
    std::vector<int> expected{0, 0, 0};
    expected[engine] = pages;
    EXPECT_EQ(Cursors(kKeyword), expected);
    for (int other = 0; other < 3; ++other) {
        if (other != engine) {
            EXPECT_EQ(PagesRequested(other, kKeyword), 0) << kEngineNames[other];
        }
    }
    EXPECT_EQ(run.out, kKeyword + std::string(": 2 companies stored; pages ") + kEngineNames[engine] + " " +
                           std::to_string(pages) + "; stopped: no new company in the last pages\n");
}

INSTANTIATE_TEST_SUITE_P(Engines, CollectEngineTest, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == 0 ? "Baidu" : info.param == 1 ? "Sogou" : "So360");
                         });

TEST_F(CollectTest, AllThreeEnginesStoreACompanyTheyShareOnceAndSaveEveryCursor) {
    engines_.SetPage(0, kKeyword, 0, {{a_, true}, {d_, false}});
    engines_.SetPage(1, kKeyword, 0, {{b_, true}, {d_, true}});
    engines_.SetPage(2, kKeyword, 0, {{c_, false}, {d_, false}});

    // Gates long enough for the first pages' site visits to end before the engines' later pages come in: with
    // three engines counting towards one idle rule, shorter ones can stop the task before they are stored.
    const TRun run = Collect({kKeyword}, kSiteVisitGates);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const auto companies = Companies();
    ASSERT_EQ(companies.size(), 3u) << run.err;
    EXPECT_EQ(companies.at("广州市甲乙电子科技有限公司"), Row(a_, 0, true, kKeyword));
    EXPECT_EQ(companies.at("广州丙丁电子有限公司"), Row(b_, 1, true, kKeyword));
    ASSERT_EQ(companies.count("深圳庚辛电子有限公司"), 1u);
    // Found by all three engines; the first record to arrive was stored.
    const std::string d = companies.at("深圳庚辛电子有限公司");
    EXPECT_TRUE(d == Row(d_, 0, false, kKeyword) || d == Row(d_, 1, true, kKeyword) || d == Row(d_, 2, false, kKeyword))
        << d;

    ExpectCursorsOfAFirstRunOfEveryEngine(run, 1);
    EXPECT_TRUE(run.out.starts_with(kKeyword + std::string(": 3 companies stored; pages baidu "))) << run.out;
}

TEST_F(CollectTest, ASecondRunResumesAtTheSavedCursorAndAnotherKeywordStoresNoCompanyAgain) {
    engines_.SetPage(1, kKeyword, 0, {{a_, true}});
    const TRun first = Collect({kKeyword, "--engines", "sogou"}, kSiteVisitGates);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const int firstPages = PagesRequested(1, kKeyword);
    EXPECT_EQ(Cursors(kKeyword), (std::vector<int>{0, firstPages, 0}));

    const TRun second = Collect({kKeyword, "--engines", "sogou"}, kSiteVisitGates);
    ASSERT_EQ(second.exitCode, 0) << second.err;
    const auto requests = engines_.PageRequests(1);
    ASSERT_GT(requests.size(), static_cast<std::size_t>(firstPages));
    EXPECT_EQ(requests[firstPages].Page, firstPages);
    // No page of the second run brings a new company: its fourth page stops it.
    EXPECT_EQ(static_cast<int>(requests.size()) - firstPages, 4);
    EXPECT_EQ(Cursors(kKeyword), (std::vector<int>{0, firstPages + 4, 0}));
    EXPECT_TRUE(second.out.starts_with(kKeyword + std::string(": 0 companies stored; pages sogou 4;"))) << second.out;

    // Under another keyword, a is known already and stays under the first; d is new.
    engines_.SetPage(2, kOtherKeyword, 0, {{a_, true}, {d_, false}});
    const TRun other = Collect({kOtherKeyword, "--engines", "360"}, kSiteVisitGates);
    ASSERT_EQ(other.exitCode, 0) << other.err;
    EXPECT_EQ(Companies(), (std::map<std::string, std::string>{
                               {"广州市甲乙电子科技有限公司", Row(a_, 1, true, kKeyword)},
                               {"深圳庚辛电子有限公司", Row(d_, 2, false, kOtherKeyword)},
                           }));
    EXPECT_EQ(Cursors(kKeyword), (std::vector<int>{0, firstPages + 4, 0}));
}

TEST_F(CollectTest, AnInterruptStopsEveryCollectorAndStillSavesTheirCursors) {
    EveryPageBringsANewCompany(kKeyword, 40);
    const pid_t pid = Spawn({kKeyword}, "0.2");
    const auto limit = std::chrono::steady_clock::now() + kChildLimit;
    auto pagesDone = [&](int engine) {
        return CountStartingWith(Lines(ReadAll(dir_ / "stderr")), "[" + std::string(kSourceNames[engine]) + "] page ");
    };
    while (!(pagesDone(0) >= 2 && pagesDone(1) >= 2 && pagesDone(2) >= 2) && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGINT);
    const TRun run = Wait(pid);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("; stopped: interrupted\n"), std::string::npos) << run.out;
    ExpectCursorsOfAFirstRunOfEveryEngine(run, 2);
    const std::vector<int> cursors = Cursors(kKeyword);
    for (int engine = 0; engine < 3; ++engine) {
        EXPECT_NE(
            run.err.find(std::string(kEngineNames[engine]) + ": ended at page " + std::to_string(cursors[engine])),
            std::string::npos);
    }
}

TEST_F(CollectTest, TheTimeLimitStopsTheTask) {
    EveryPageBringsANewCompany(kKeyword, 40);
    const TRun run = Collect({kKeyword, "--engines", "baidu", "--timeout", "1"}, "0.05");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("; stopped: time limit\n"), std::string::npos) << run.out;
    EXPECT_GE(Cursors(kKeyword)[0], 1);
}

TEST_F(CollectTest, AnotherWriterOrBadArgumentsAreRefusedWithStatus2) {
    {
        fs::create_directories(dir_ / "Data");
        TWriterLock lock((dir_ / "Data" / "users.lock").string());
        const TRun run = Collect({kKeyword});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.starts_with("vexo-cli: ")) << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
    const std::vector<std::pair<TStrings, std::string>> refused{
        {{}, "usage: "},
        {{""}, "the keyword is empty"},
        {{" \t "}, "the keyword is empty"},
        {{kKeyword, kOtherKeyword}, "one keyword only"},
        {{kKeyword, "--engines"}, "--engines needs a value"},
        {{kKeyword, "--engines", "baidu,google"}, "unknown engine 'google'"},
        {{kKeyword, "--engines", "baidu,"}, "unknown engine ''"},
        {{kKeyword, "--engines", "sogou,360,sogou"}, "engine 'sogou' named twice"},
        {{kKeyword, "--engines", "baidu", "--engines", "360"}, "--engines given twice"},
        {{kKeyword, "--timeout", "0"}, "--timeout takes a whole number of seconds"},
        {{kKeyword, "--timeout", "-5"}, "--timeout takes a whole number of seconds"},
        {{kKeyword, "--timeout", "1.5"}, "--timeout takes a whole number of seconds"},
        {{kKeyword, "--timeout", "99999999999"}, "--timeout takes a whole number of seconds"},
        {{kKeyword, "--timeout", "5", "--timeout", "6"}, "--timeout given twice"},
        {{kKeyword, "--verbose"}, "unknown option '--verbose'"},
    };
    for (const auto& [args, error] : refused) {
        const TRun run = Collect(args);
        std::string shown;
        for (const std::string& arg : args)
            shown += "[" + arg + "]";
        EXPECT_EQ(run.exitCode, 2) << shown;
        EXPECT_TRUE(run.err.starts_with("vexo-cli: ")) << shown << ": " << run.err;
        EXPECT_NE(run.err.find(error), std::string::npos) << shown << ": " << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << shown << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << shown;
    }
    // Refused before the store was opened.
    EXPECT_FALSE(fs::exists(dir_ / "Data" / "users"));
    EXPECT_TRUE(engines_.PageRequests(0).empty());
}

TEST_F(CollectTest, AHostsEntryThatIsNoHostIsRefusedByNameAndTheKeywordPrintsOnOneLine) {
    for (const char* bad : {"http://www.baidu.com", "www.baidu.com/s", "www.baidu.com:0", "www.baidu.com\x01:80"}) {
        std::ofstream(dir_ / "qzclient.cfg") << "[hosts]\nbaidu=" << bad << "\n";
        const TRun run = Collect({kKeyword, "--engines", "baidu"});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_TRUE(run.err.starts_with("vexo-cli: [hosts] baidu = '")) << run.err;
        EXPECT_NE(run.err.find("is not a host"), std::string::npos) << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    EXPECT_TRUE(engines_.PageRequests(0).empty());
    EXPECT_FALSE(fs::exists(dir_ / "Data" / "users"));

    // Control characters of the keyword are escaped wherever it is printed.
    std::ofstream(dir_ / "qzclient.cfg") << "[hosts]\nicp=" << sim::kSimIcpHost << "\n";
    const std::string keyword = "广州\t电子\x1b[31m公司";
    engines_.SetPage(1, keyword, 0, {{a_, true}});
    const TRun run = Collect({keyword, "--engines", "sogou"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Lines(run.out).size(), 1u) << run.out;
    EXPECT_TRUE(run.out.starts_with("广州\\x09电子\\x1b[31m公司: 1 companies stored; pages sogou ")) << run.out;
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    EXPECT_EQ(Companies().count("广州市甲乙电子科技有限公司"), 1u);
}

TEST_F(CollectTest, ASummaryThatCannotBeWrittenIsAnErrorThoughTheCollectionIsStored) {
    engines_.SetPage(1, kKeyword, 0, {{a_, true}});
    const TRun run = Wait(Spawn({kKeyword, "--engines", "sogou"}, kSiteVisitGates, "/dev/full"));
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("vexo-cli: cannot write the output"), std::string::npos) << run.err;
    EXPECT_EQ(Companies().count("广州市甲乙电子科技有限公司"), 1u);
    EXPECT_EQ(Cursors(kKeyword)[1], PagesRequested(1, kKeyword));
}

}  // namespace
}  // namespace vexo
