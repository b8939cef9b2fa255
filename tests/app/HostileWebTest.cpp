// vexo-cli collect on a web where most advertisers are hostile: their pages stall, trickle, never end, pass the size
// limit or bury a few numbers among millions. The ordinary advertisers listed among them are stored as usual.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/ContactRules.h"
#include "sim/SimEngines.h"
#include "sim/SimWeb.h"
#include "support/HostileSites.h"
#include "support/TempHome.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

constexpr char kKeyword[] = "广州 电子公司";
constexpr std::size_t kOrdinaryPerEngine = 2;
// Gates long enough for the ordinary advertisers' visits (listed first) to end before the idle rule, to which the
// three engines' empty pages count together, can stop the task.
constexpr char kGateScale[] = "0.25";
constexpr char kTimeLimitSeconds[] = "300";
constexpr long kPeakRssLimitKb = 300 * 1024;

struct TOrdinary {
    std::string Mobile;
    std::string Landline;
};

std::size_t Entries(const std::string& list) {
    return static_cast<std::size_t>(std::count(list.begin(), list.end(), ';'));
}

// Every ordinary advertiser is stored with its numbers, whatever the hostile ones listed beside it serve; a page adds
// at most the bounded number of values to each list of a record; and, outside the sanitizer builds (whose shadow
// memory counts as well), the program's peak resident memory stays under 300 MB.
TEST(HostileWebTest, OrdinaryAdvertisersAreStoredAndMemoryStaysBounded) {
    sim::TSimWeb web;
    sim::TSimEngines engines(web);
    test::TTempHome home;
    std::ofstream(home.Dir() / "qzclient.cfg") << "[config]\n\n[hosts]\nicp=" << sim::kSimIcpHost << "\n";

    std::map<std::string, TOrdinary> ordinary;
    std::map<std::string, sim::THostileKind> hostile;
    // Each engine's first result page lists two ordinary advertisers, then one hostile advertiser of every kind.
    int serial = 0;
    for (int engine = 0; engine < 3; ++engine) {
        std::vector<sim::TSimEntry> entries;
        for (std::size_t i = 0; i < kOrdinaryPerEngine + std::size(sim::kHostileKinds); ++i) {
            const std::string n = std::to_string(++serial);
            const std::string name = "广州第" + n + "号电子有限公司";
            const std::string host = "www.firm" + n + ".cn";
            const TOrdinary numbers{"139" + std::string(8 - n.size(), '0') + n,
                                    "020-8" + std::string(7 - n.size(), '0') + n};
            const std::size_t company = engines.AddCompany({host, name, numbers.Mobile, numbers.Landline, "", "", ""});
            if (i < kOrdinaryPerEngine) {
                ordinary[name] = numbers;
            } else {
                const sim::THostileKind kind = sim::kHostileKinds[i - kOrdinaryPerEngine];
                sim::MakeSiteHostile(web, host, name, kind);
                hostile[name] = kind;
            }
            entries.push_back({company, i % 2 == 1});
        }
        engines.SetPage(engine, kKeyword, 0, entries);
    }

    test::TProgramRun run;
    {
        sim::TProxyEnvironment proxy(web.BaseUrl(), "127.0.0.1");
        setenv("VEXO_TEST_GATE_SCALE", kGateScale, 1);
        // The Baidu collector writes a file into the working folder.
        const fs::path folder = fs::current_path();
        fs::current_path(home.Dir());
        run = test::RunProgram({VEXO_CLI_PATH, "collect", kKeyword, "--timeout", kTimeLimitSeconds});
        fs::current_path(folder);
        unsetenv("VEXO_TEST_GATE_SCALE");
    }
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("stopped: no new company in the last pages"), std::string::npos) << run.out;

    std::map<std::string, std::pair<std::string, std::string>> stored;  // name -> (mobiles, landlines)
    std::istringstream rows(test::RunSqlite(home.DatabasePath(),
                                            "select ComName, replace(mob, char(13,10), ';'), "
                                            "replace(Tel, char(13,10), ';') from tbl_list"));
    for (std::string row; std::getline(rows, row);) {
        const std::size_t first = row.find('|');
        const std::size_t second = row.find('|', first + 1);
        ASSERT_NE(second, std::string::npos) << row;
        stored[row.substr(0, first)] = {row.substr(first + 1, second - first - 1), row.substr(second + 1)};
    }
    for (const auto& [name, numbers] : ordinary) {
        ASSERT_EQ(stored.count(name), 1u) << name << " missing\n" << run.err;
        EXPECT_EQ(stored[name].first, numbers.Mobile + ";") << name;
        EXPECT_EQ(stored[name].second, numbers.Landline + ";") << name;
    }
    for (const auto& [name, lists] : stored) {
        ASSERT_TRUE(ordinary.count(name) == 1 || hostile.count(name) == 1) << name;
        // The home page and one contact page at most.
        EXPECT_LE(Entries(lists.first), 2 * kMaxValuesPerPage) << name;
        EXPECT_LE(Entries(lists.second), 2 * kMaxValuesPerPage) << name;
    }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(run.peakRssKb, kPeakRssLimitKb) << "peak resident memory in KiB";
#endif
}

}  // namespace
}  // namespace vexo
