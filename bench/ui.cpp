// Speed of the main window on large stores, on the offscreen platform: start-up (window made and shown) with
// 10 000 stored keywords, a keyword of 100 000 companies loaded and filled into the grid (and the fill alone), and
// painting one screen of grid rows at scroll positions across the list. Prints figures; fails nothing.
#include <sqlite3.h>
#include <stdlib.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/HttpClient.h"
#include "platform/Dispatcher.h"
#include "store/KeyListInfo.h"
#include "ui/GridModel.h"
#include "ui/KeyListModel.h"
#include "ui/QtDispatcher.h"
#include "ui/fmzunta.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kKeywords = 10000;
constexpr int kCompanies = 100000;
constexpr int kRuns = 5;
constexpr const char* kBenchKeyword = "广州 电子公司 1";

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

// A program folder whose store holds 10 000 keywords, the first with 100 000 companies.
fs::path BuildHome() {
    std::string pattern = (fs::temp_directory_path() / "vexo-bench-ui-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a folder");
    const fs::path home = pattern;
    setenv("VEXO_HOME", home.c_str(), 1);
    setenv("HOME", home.c_str(), 1);  // no launcher on the real desktop
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    { vexo::TKeyListInfo store; }
    sqlite3* db = nullptr;
    if (sqlite3_open((home / "Data" / "users").c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open the database");
    Exec(db, "begin");
    Exec(db,
         "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(kKeywords) +
             ") insert into tbl_key(ID, KeyStr, listcount, lastpage, sglastpage, s360lastpage, adddate) "
             "select i, '广州 电子公司 ' || i, i % 500, i % 70, i % 30, i % 20, 1700000000 + i from n");
    Exec(db, "update tbl_key set listcount = " + std::to_string(kCompanies) + " where ID = 1");
    Exec(db,
         "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(kCompanies) +
             ") insert into tbl_list(ComName, Addr, weburl, EMail, Tel, mob, qq, source, ispay, stat, keyid, "
             "renzheng) select '广州市天河区某某电子科技有限公司' || i, '广州市天河区体育西路' || i || '号', "
             "'http://www.company' || i || '.example.com', 'sales@company' || i || '.example.com' || char(13, 10), "
             "'020-8' || i || char(13, 10), '138' || (10000000 + i) || char(13, 10) || '139' || (10000000 + i) || "
             "char(13, 10), '1' || i || char(13, 10), '百度', i % 2, 0, 1, i % 3 = 0 from n");
    Exec(db, "commit");
    sqlite3_close(db);
    return home;
}

vexo::TShellOptions QuietOptions() {
    vexo::TShellOptions options;
    options.exePath = "/opt/vexo/vexo";
    options.trayAvailable = [] { return true; };
    options.exitProgram = [](int) {};
    return options;
}

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void Report(const char* what, std::vector<double> ms, double bar) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s median %8.2f ms  max %8.2f ms  (bar %.0f ms)\n", what, ms[ms.size() / 2], ms.back(), bar);
}

}  // namespace

int main(int argc, char** argv) {
    vexo::InitNetwork();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    vexo::SetCurrentDispatcher(std::make_shared<vexo::TQtDispatcher>());

    const auto built = Clock::now();
    const fs::path home = BuildHome();
    std::printf("store of %d keywords and %d companies built in %.0f ms\n", kKeywords, kCompanies,
                Ms(Clock::now() - built));

    std::vector<double> startUp;
    for (int run = 0; run < kRuns; ++run) {
        const auto begin = Clock::now();
        vexo::Tfmzunta window(QuietOptions());
        window.show();
        QCoreApplication::processEvents();
        startUp.push_back(Ms(Clock::now() - begin));
        if (window.KeyListModel().rowCount() != kKeywords)
            throw std::runtime_error("keywords missing");
    }
    Report("start-up with 10 000 keywords (made, shown, first paint)", startUp, 1500);

    vexo::Tfmzunta window(QuietOptions());
    window.show();
    QCoreApplication::processEvents();
    const auto loadBegin = Clock::now();
    window.ShowKeyword(kBenchKeyword);
    if (!QTest::qWaitFor([&] { return window.GridModel().rowCount() == kCompanies; }, 60000))
        throw std::runtime_error("the grid was not filled");
    QCoreApplication::processEvents();
    Report("100 000 companies loaded and shown in the grid", {Ms(Clock::now() - loadBegin)}, 1000);

    const auto companies = window.Store().GetCompanies(kBenchKeyword);
    std::vector<double> fill;
    for (int run = 0; run < kRuns; ++run) {
        const auto begin = Clock::now();
        window.FillGrid(*companies);
        QCoreApplication::processEvents();
        fill.push_back(Ms(Clock::now() - begin));
    }
    Report("FillGrid of 100 000 companies, repainted", fill, 1000);

    auto* grid = window.findChild<QTableView*>(QStringLiteral("dblist"));
    QScrollBar* bar = grid->verticalScrollBar();
    std::vector<double> paint;
    for (int step = 0; step <= 100; ++step) {
        bar->setValue(bar->maximum() * step / 100);
        const auto begin = Clock::now();
        grid->viewport()->repaint();
        paint.push_back(Ms(Clock::now() - begin));
    }
    Report("one screen of grid rows painted while scrolling", paint, 16);

    fs::remove_all(home);
    return 0;
}
