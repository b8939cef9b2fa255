// Peak memory of a whole collection on a hostile web. `vexo-cli collect` runs against the simulated engines at
// their real gate intervals; every result page lists two ordinary advertisers and three hostile ones (of one kind,
// or of every kind in turn). Reported: the program's peak resident set size, and how many of the ordinary
// advertisers it visited were stored.
// Environment: VEXO_BENCH_SECONDS (length of each collection, default 60), VEXO_BENCH_GATE_SCALE (gate factor,
// default 1: real intervals), VEXO_BENCH_CLI (the vexo-cli to measure, default the one built alongside),
// VEXO_BENCH_KEEP_LOG (a file that receives the program's error output of the last collection).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/SimEngines.h"
#include "sim/SimWeb.h"
#include "support/HostileSites.h"
#include "support/TempHome.h"

namespace {

using vexo::sim::THostileKind;

constexpr char kKeyword[] = "广州 电子公司";
constexpr int kPagesPerEngine = 100;  // more than any run reaches
constexpr int kOrdinaryPerPage = 2;
constexpr int kHostilePerPage = 3;
constexpr int kDefaultSeconds = 60;
constexpr double kKbPerMb = 1024.0;

std::string Environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

struct TOutcome {
    long peakRssKb = 0;
    int exitCode = -1;
    int ordinaryVisited = 0;
    int ordinaryStored = 0;
    int stored = 0;
};

TOutcome CollectOnce(std::optional<THostileKind> only) {
    vexo::sim::TSimWeb web;
    vexo::sim::TSimEngines engines(web);
    vexo::test::TTempHome home;
    std::ofstream(home.Dir() / "qzclient.cfg") << "[config]\n\n[hosts]\nicp=" << vexo::sim::kSimIcpHost << "\n";

    std::vector<std::string> ordinaryHosts;
    std::vector<std::string> ordinaryNames;
    int serial = 0;
    for (int engine = 0; engine < 3; ++engine) {
        for (int page = 0; page < kPagesPerEngine; ++page) {
            std::vector<vexo::sim::TSimEntry> entries;
            for (int i = 0; i < kOrdinaryPerPage + kHostilePerPage; ++i) {
                const std::string n = std::to_string(++serial);
                const std::string name = "广州第" + n + "号电子有限公司";
                const std::string host = "www.firm" + n + ".cn";
                const std::size_t company =
                    engines.AddCompany({host, name, "139" + std::string(8 - n.size(), '0') + n,
                                        "020-8" + std::string(7 - n.size(), '0') + n, "sales@firm" + n + ".cn", "",
                                        "广州市天河区体育西路" + n + "号"});
                if (i < kOrdinaryPerPage) {
                    ordinaryHosts.push_back(host);
                    ordinaryNames.push_back(name);
                } else {
                    const auto kind = only ? *only
                                           : vexo::sim::kHostileKinds[static_cast<std::size_t>(serial) %
                                                                      std::size(vexo::sim::kHostileKinds)];
                    vexo::sim::MakeSiteHostile(web, host, name, kind);
                }
                entries.push_back({company, i % 2 == 0});
            }
            engines.SetPage(engine, kKeyword, page, entries);
        }
    }

    const std::string cli = std::filesystem::absolute(Environment("VEXO_BENCH_CLI", VEXO_CLI_PATH)).string();
    const std::string seconds = Environment("VEXO_BENCH_SECONDS", std::to_string(kDefaultSeconds));
    const std::string scale = Environment("VEXO_BENCH_GATE_SCALE", "1");
    vexo::sim::TProxyEnvironment proxy(web.BaseUrl(), "127.0.0.1");
    if (scale != "1")
        setenv("VEXO_TEST_GATE_SCALE", scale.c_str(), 1);
    // The program runs in the temporary folder, where the Baidu collector leaves its files.
    const std::filesystem::path folder = std::filesystem::current_path();
    std::filesystem::current_path(home.Dir());
    const vexo::test::TProgramRun run = vexo::test::RunProgram({cli, "collect", kKeyword, "--timeout", seconds});
    std::filesystem::current_path(folder);
    unsetenv("VEXO_TEST_GATE_SCALE");

    TOutcome outcome;
    outcome.peakRssKb = run.peakRssKb;
    outcome.exitCode = run.exitCode;
    std::set<std::string> storedNames;
    std::istringstream err(run.err);
    constexpr std::string_view kStored = "stored: ";
    for (std::string line; std::getline(err, line);) {
        if (line.starts_with(kStored)) {
            ++outcome.stored;
            storedNames.insert(line.substr(kStored.size()));
        }
    }
    for (std::size_t i = 0; i < ordinaryHosts.size(); ++i) {
        if (web.RequestsTo(ordinaryHosts[i], "/").empty())
            continue;
        ++outcome.ordinaryVisited;
        if (storedNames.count(ordinaryNames[i]) != 0) {
            ++outcome.ordinaryStored;
        } else {
            std::fprintf(stderr, "visited, not stored: %s (%s)\n", ordinaryNames[i].c_str(), ordinaryHosts[i].c_str());
        }
    }
    const char* keep = std::getenv("VEXO_BENCH_KEEP_LOG");
    if (keep != nullptr && *keep != '\0')
        std::ofstream(keep, std::ios::binary) << run.err;
    return outcome;
}

// kind < 0: every hostile kind in turn.
void CollectPeakRss(benchmark::State& state, int kind) {
    TOutcome outcome;
    for (auto _ : state) {
        outcome = CollectOnce(kind < 0 ? std::nullopt : std::optional(static_cast<THostileKind>(kind)));
    }
    if (outcome.exitCode != 0)
        state.SkipWithError("vexo-cli collect failed");
    state.counters["peak_rss_MB"] = static_cast<double>(outcome.peakRssKb) / kKbPerMb;
    state.counters["ordinary_visited"] = outcome.ordinaryVisited;
    state.counters["ordinary_stored"] = outcome.ordinaryStored;
    state.counters["stored"] = outcome.stored;
}

void Register() {
    benchmark::RegisterBenchmark("CollectPeakRss/mixed", CollectPeakRss, -1)
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
    for (THostileKind kind : vexo::sim::kHostileKinds) {
        benchmark::RegisterBenchmark(("CollectPeakRss/" + std::string(vexo::sim::HostileKindName(kind))).c_str(),
                                     CollectPeakRss, static_cast<int>(kind))
            ->Iterations(1)
            ->Unit(benchmark::kSecond)
            ->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
