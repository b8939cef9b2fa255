// Speed of the keyword and company store on large databases: storing a new company into 100 000 and 1 000 000
// stored ones (with and without the company-name index), the duplicate test alone, loading a keyword of
// 100 000 companies through the loader thread, and reading 10 000 keywords.
//
// The large databases are built once with one transaction straight through SQLite and kept under
// /tmp/vexo-bench-store; runs that write work on a copy.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/WorkerThread.h"
#include "store/KeyListInfo.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vexo::TComPanyInfo;
using vexo::TKeyListInfo;

constexpr const char* kCacheRoot = "/tmp/vexo-bench-store";
constexpr const char* kReadyMarker = "ready";
constexpr const char* kKeyword = "bench";
constexpr int kLoadedCompanies = 100000;
constexpr int kKeywords = 10000;

void Check(int code, sqlite3* db, const char* what) {
    if (code != SQLITE_OK && code != SQLITE_DONE)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const char* sql) {
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
}

fs::path DatabaseOf(const fs::path& home) {
    return home / "Data" / "users";
}

void UseHome(const fs::path& home) {
    setenv("VEXO_HOME", home.c_str(), 1);
}

std::string CompanyName(int n) {
    char name[64];
    std::snprintf(name, sizeof name, "广州某某电子科技有限公司%07d", n);
    return name;
}

// A home whose database the store created (tables, index) and `fill` then filled in one transaction; built once.
template <class Fill>
fs::path CachedHome(const std::string& name, Fill fill) {
    const fs::path home = fs::path(kCacheRoot) / name;
    if (fs::exists(home / kReadyMarker))
        return home;
    fs::remove_all(home);
    fs::create_directories(home);
    UseHome(home);
    { TKeyListInfo store; }
    sqlite3* db = nullptr;
    Check(sqlite3_open(DatabaseOf(home).c_str(), &db), db, "open");
    Exec(db, "begin");
    fill(db);
    Exec(db, "commit");
    sqlite3_close(db);
    std::ofstream(home / kReadyMarker) << "built\n";
    return home;
}

// `count` realistic companies, all under the keyword "bench" (ID 1).
fs::path CompaniesHome(int count) {
    return CachedHome("companies-" + std::to_string(count), [count](sqlite3* db) {
        Exec(db,
             "insert into tbl_key(ID, KeyStr, listcount, lastpage, sglastpage, s360lastpage, adddate) "
             "values (1, 'bench', 0, 0, 0, 0, 0)");
        sqlite3_stmt* insert = nullptr;
        Check(sqlite3_prepare_v2(db,
                                 "insert into tbl_list(ComName, Addr, weburl, EMail, Tel, mob, qq, source, ispay, "
                                 "stat, keyid, renzheng) values (?, ?, ?, ?, ?, ?, ?, '百度', 1, 0, 1, 0)",
                                 -1, &insert, nullptr),
              db, "prepare");
        for (int n = 0; n < count; ++n) {
            const std::string id = std::to_string(n);
            const std::string texts[] = {
                CompanyName(n),
                "广州市天河区体育西路" + id + "号",
                "http://www.company" + id + ".example.com",
                "sales@company" + id + ".example.com\r\n",
                "020-8" + id + "\r\n020-6" + id + "\r\n",
                "138" + id + "\r\n",
                "1" + id + "\r\n",
            };
            for (int column = 0; column < 7; ++column)
                sqlite3_bind_text(insert, column + 1, texts[column].c_str(), -1, SQLITE_TRANSIENT);
            Check(sqlite3_step(insert), db, "insert");
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
    });
}

fs::path KeywordsHome() {
    return CachedHome("keywords-" + std::to_string(kKeywords), [](sqlite3* db) {
        Exec(db,
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 10000) "
             "insert into tbl_key(KeyStr, listcount, lastpage, sglastpage, s360lastpage, adddate) "
             "select '广州 电子公司 ' || i, i % 500, i % 70, i % 30, i % 20, 1700000000 + i from n");
    });
}

// A writable copy of a cached home, selected through VEXO_HOME and removed afterwards.
class TWorkCopy {
  public:
    explicit TWorkCopy(const fs::path& cached) {
        std::string pattern = (fs::temp_directory_path() / "vexo-bench-work-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a work folder");
        dir_ = pattern;
        fs::create_directories(dir_ / "Data");
        fs::copy_file(DatabaseOf(cached), DatabaseOf(dir_));
        UseHome(dir_);
    }
    ~TWorkCopy() { fs::remove_all(dir_); }

  private:
    fs::path dir_;
};

TComPanyInfo NewCompany(int n) {
    TComPanyInfo company;
    company.SetComName("新开张的深圳某某贸易有限公司" + std::to_string(n));
    company.Addr = "深圳市南山区科技园" + std::to_string(n) + "号";
    company.weburl = "http://new" + std::to_string(n) + ".example.com";
    company.AddMobile("139" + std::to_string(10000000 + n));
    company.AddTel("0755-" + std::to_string(20000000 + n));
    company.source = "搜狗";
    return company;
}

// (a) Storing a new company: duplicate query, insert, id query and keyword update, each committed alone.
void BM_AddCompany(benchmark::State& state) {
    const int stored = static_cast<int>(state.range(0));
    const bool indexed = state.range(1) != 0;
    TWorkCopy work(CompaniesHome(stored));
    TKeyListInfo store;
    store.LoadKeys();
    if (!indexed) {
        std::lock_guard lock(store.DataManager().Lock());
        store.DataManager().Reset();
        if (!store.DataManager().Exec("drop index idx_tbl_list_comname"))
            state.SkipWithError("cannot drop the index");
    }
    int n = 0;
    for (auto _ : state)
        store.AddCompany(kKeyword, NewCompany(n++));
    if (store.FindKey(kKeyword)->ListCount != n)
        state.SkipWithError("not every company was stored");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(indexed ? "with ComName index" : "without index");
}

// The duplicate test alone, for a name in the middle of the table; "not indexed" shows the table scan.
void BM_DuplicateTest(benchmark::State& state) {
    const int stored = static_cast<int>(state.range(0));
    const bool indexed = state.range(1) != 0;
    UseHome(CompaniesHome(stored));
    TKeyListInfo store(vexo::TStoreAccess::ReadOnly);
    vexo::TDataManager& data = store.DataManager();
    const std::string query = std::string("select listid from tbl_list") + (indexed ? "" : " not indexed") +
                              " where ComName='" + CompanyName(stored / 2) + "'";
    for (auto _ : state) {
        std::lock_guard lock(data.Lock());
        data.Reset();
        data.Sql = query;
        if (data.Query()->RowCount() != 1)
            state.SkipWithError("name not found");
    }
    state.SetLabel(indexed ? "with ComName index" : "without index");
}

// (b) The loader reading a keyword of 100 000 companies, from LoadCompanies to OnKeyLoaded.
void BM_LoadCompanies(benchmark::State& state) {
    UseHome(CompaniesHome(kLoadedCompanies));
    auto loop = std::make_shared<vexo::TEventLoop>();
    vexo::SetCurrentDispatcher(loop);
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<TKeyListInfo>();
        store->LoadKeys();
        bool loaded = false;
        store->OnKeyLoaded = [&loaded](TKeyListInfo&, const std::string&) { loaded = true; };
        state.ResumeTiming();

        store->LoadCompanies(kKeyword);
        loop->RunUntil([&loaded] { return loaded; }, 10min);

        state.PauseTiming();
        if (store->GetCompanies(kKeyword)->size() != static_cast<std::size_t>(kLoadedCompanies))
            state.SkipWithError("not every company was loaded");
        store.reset();
        loop->RunUntil([] { return vexo::LiveWorkerCount() == 0; }, 1min);
        state.ResumeTiming();
    }
    loop->Close();
    vexo::SetCurrentDispatcher(nullptr);
    state.SetItemsProcessed(state.iterations() * kLoadedCompanies);
}

// (c) Reading 10 000 keywords at start-up.
void BM_LoadKeys(benchmark::State& state) {
    UseHome(KeywordsHome());
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<TKeyListInfo>();
        state.ResumeTiming();
        store->LoadKeys();
        state.PauseTiming();
        if (store->Keys().size() != static_cast<std::size_t>(kKeywords))
            state.SkipWithError("not every keyword was read");
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeywords);
}

BENCHMARK(BM_AddCompany)->Args({100000, 1})->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddCompany)->Args({100000, 0})->Iterations(100)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddCompany)->Args({1000000, 1})->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddCompany)->Args({1000000, 0})->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DuplicateTest)->Args({100000, 1})->Args({1000000, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DuplicateTest)->Args({100000, 0})->Args({1000000, 0})->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadCompanies)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadKeys)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    vexo::InitNetwork();  // the program-wide set-up every program does before starting threads
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
