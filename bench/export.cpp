// Speed of the export on large keywords, through the store's ExportKey as vexo-cli export calls it once the
// companies are loaded: a text export of 100 000 companies and a spreadsheet export of 60 000 rows (header and
// 59 999 companies). The bar is under a second each.
//
// The database is built once with one transaction straight through SQLite and kept under /tmp/vexo-bench-export.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/WorkerThread.h"
#include "store/KeyListInfo.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vexo::TKeyListInfo;

constexpr const char* kHome = "/tmp/vexo-bench-export";
constexpr const char* kReadyMarker = "ready";
constexpr const char* kTextKeyword = "text";
constexpr const char* kSheetKeyword = "sheet";
constexpr int kTextCompanies = 100000;
constexpr int kSheetCompanies = 59999;  // with the header, 60 000 rows

void Check(int code, sqlite3* db, const char* what) {
    if (code != SQLITE_OK && code != SQLITE_DONE)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const char* sql) {
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql);
}

// Realistic companies: a Chinese name, address and site, two mobiles, a QQ number and an e-mail address each.
void InsertCompanies(sqlite3* db, int keyId, int count) {
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db,
                             "insert into tbl_list(ComName, Addr, weburl, EMail, Tel, mob, qq, source, ispay, stat, "
                             "keyid, renzheng) values (?, ?, ?, ?, ?, ?, ?, '百度', 1, 0, ?, 0)",
                             -1, &insert, nullptr),
          db, "prepare");
    for (int n = 0; n < count; ++n) {
        const std::string id = std::to_string(keyId) + "-" + std::to_string(n);
        const std::string texts[] = {
            "广州某某电子科技有限公司" + id,
            "广州市天河区体育西路" + id + "号",
            "http://www.company" + id + ".example.com",
            "sales@company" + id + ".example.com\r\n",
            "020-8" + id + "\r\n",
            "138" + std::to_string(10000000 + n) + "\r\n139" + std::to_string(10000000 + n) + "\r\n",
            std::to_string(10000 + n) + "\r\n",
        };
        for (int column = 0; column < 7; ++column)
            sqlite3_bind_text(insert, column + 1, texts[column].c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 8, keyId);
        Check(sqlite3_step(insert), db, "insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
}

void BuildHome() {
    if (fs::exists(fs::path(kHome) / kReadyMarker))
        return;
    fs::remove_all(kHome);
    fs::create_directories(kHome);
    { TKeyListInfo store; }  // the store's own tables and index
    sqlite3* db = nullptr;
    Check(sqlite3_open((fs::path(kHome) / "Data" / "users").c_str(), &db), db, "open");
    Exec(db, "begin");
    Exec(db, "insert into tbl_key(ID, KeyStr, listcount) values (1, 'text', 0), (2, 'sheet', 0)");
    InsertCompanies(db, 1, kTextCompanies);
    InsertCompanies(db, 2, kSheetCompanies);
    Exec(db, "commit");
    sqlite3_close(db);
    std::ofstream(fs::path(kHome) / kReadyMarker) << "built\n";
}

// The store read-only with both keywords' companies loaded, as vexo-cli export has it before exporting.
class TLoadedStore {
  public:
    TLoadedStore() {
        setenv("VEXO_HOME", kHome, 1);
        BuildHome();
        loop_ = std::make_shared<vexo::TEventLoop>();
        vexo::SetCurrentDispatcher(loop_);
        store_ = std::make_unique<TKeyListInfo>(vexo::TStoreAccess::ReadOnly);
        store_->LoadKeys();
        int loaded = 0;
        store_->OnKeyLoaded = [&loaded](TKeyListInfo&, const std::string&) { ++loaded; };
        store_->LoadCompanies(kTextKeyword);
        store_->LoadCompanies(kSheetKeyword);
        loop_->RunUntil([&loaded] { return loaded == 2; }, 10min);
        store_->OnKeyLoaded = nullptr;
        loop_->RunUntil([] { return vexo::LiveWorkerCount() == 0; }, 1min);
    }
    ~TLoadedStore() {
        store_.reset();
        loop_->Close();
        vexo::SetCurrentDispatcher(nullptr);
    }
    TKeyListInfo& Store() { return *store_; }

  private:
    std::shared_ptr<vexo::TEventLoop> loop_;
    std::unique_ptr<TKeyListInfo> store_;
};

// Loaded once in main, before the benchmarks run, and freed before the program ends.
TLoadedStore* gLoaded = nullptr;

void RunExport(benchmark::State& state, const char* keyword, std::size_t companies, bool text) {
    TKeyListInfo& store = gLoaded->Store();
    if (store.GetCompanies(keyword).value_or(vexo::TCompanyList()).size() != companies) {
        state.SkipWithError("the keyword's companies did not load");
        return;
    }
    vexo::TExportChoice choice;  // the chooser's initial boxes
    choice.TextFormat = text;
    const std::string file = (fs::path(kHome) / (text ? "export.txt" : "export.xls")).string();
    for (auto _ : state) {
        if (!store.ExportKey(keyword, file, choice)) {
            state.SkipWithError("the export failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(companies));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
    state.SetLabel(std::to_string(fs::file_size(file)) + " bytes written");
}

void BM_ExportText(benchmark::State& state) {
    RunExport(state, kTextKeyword, kTextCompanies, true);
}

void BM_ExportSpreadsheet(benchmark::State& state) {
    RunExport(state, kSheetKeyword, kSheetCompanies, false);
}

BENCHMARK(BM_ExportText)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportSpreadsheet)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    vexo::InitNetwork();  // the program-wide set-up every program does before starting threads
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    {
        TLoadedStore loaded;
        gLoaded = &loaded;
        benchmark::RunSpecifiedBenchmarks();
        gLoaded = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
