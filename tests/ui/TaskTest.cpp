// Task commands driven through the window against the simulated engines: adding a keyword (refused when empty,
// asked both ways, no second item), the first start loading the companies and switching the grid, companies
// arriving in grid and counts, the item looks of running, paused, stopping and idle, the idle-page rule, a start
// without engines, and deleting a keyword while its task runs.
#include <gtest/gtest.h>

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "platform/WorkerThread.h"
#include "sim/SimEngines.h"
#include "store/KeyUnit.h"
#include "ui/GridModel.h"
#include "ui/KeyListModel.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"

namespace vexo::test {
namespace {

using namespace std::chrono_literals;

constexpr char kKeyword[] = "广州 电子公司";

class TaskTest : public ::testing::Test {
  protected:
    TaskTest() {
        a_ = engines_.AddCompany({"www.jiayi-dz.cn", "广州市甲乙电子科技有限公司", "13912345678", "020-87654321",
                                  "sales@jiayi-dz.cn", "12345678", "广州市天河区体育西路100号"});
        b_ = engines_.AddCompany({"www.bingding.com.cn", "广州丙丁电子有限公司", "13800138000", "020-38887777",
                                  "info@bingding.com.cn", "", "广州市番禺区市桥街8号"});
        engines_.SetPage(kEngineBaidu, kKeyword, 0, {{a_, true}, {b_, false}});
        TShellOptions options;
        options.exePath = "/opt/vexo/vexo";
        options.trayAvailable = [] { return true; };
        options.exitProgram = [](int) {};
        window_ = std::make_unique<Tfmzunta>(options);
        // Baidu only: its pages are laid out; the others would only walk empty pages.
        window_->findChild<QCheckBox*>("chksg")->setChecked(false);
        window_->findChild<QCheckBox*>("chk360")->setChecked(false);
        window_->show();
    }

    // Collectors of stopped tasks end on their own: let them, and the window's own, finish before the simulated web
    // and the gate timings go.
    void TearDown() override {
        window_.reset();
        EXPECT_TRUE(WaitFor([] { return LiveWorkerCount() == 0; }));
    }

    QString Style() const { return Item(TKeyListModel::StyleRole).toString(); }
    QString DateLine() const { return Item(TKeyListModel::DateRole).toString(); }
    bool Enabled() const { return Item(TKeyListModel::EnabledRole).toBool(); }
    QVariant Item(int role) const {
        const int row = window_->KeyListModel().FindItem(kKeyword);
        return row < 0 ? QVariant() : window_->KeyListModel().index(row).data(role);
    }
    bool Idle() const {
        return Style() == QLatin1String(kStartStyle) && Enabled() && DateLine().startsWith("最后更新：");
    }

    void AddTask(const QString& text, int answer) {
        auto* input = window_->findChild<QLineEdit*>("edtSearchKey");
        input->show();
        input->setText(text);
        if (answer != 0)
            answers_.Answer(answer);
        window_->findChild<QPushButton*>("btnbaidustart")->click();
    }

    TUiHome home_;
    sim::TScopedGateTimings gates_{{20ms, 2ms}, {10ms, 2ms}};
    sim::TSimWeb web_;
    sim::TSimEngines engines_{web_};
    sim::TProxyEnvironment proxy_{web_.BaseUrl(), "127.0.0.1"};
    std::size_t a_ = 0;
    std::size_t b_ = 0;
    TScriptedAnswerer answers_;
    std::unique_ptr<Tfmzunta> window_;
};

TEST_F(TaskTest, AddStartCollectUntilIdlePagesStopThenPauseResumeStopAndDelete) {
    // Only spaces: refused.
    AddTask(QStringLiteral("   "), 0);
    ASSERT_EQ(answers_.asked.size(), 1u);
    EXPECT_EQ(answers_.asked[0].text, "关键词不能为空！");
    EXPECT_EQ(answers_.asked[0].kind, kBoxInformation);
    EXPECT_EQ(window_->KeyListModel().rowCount(), 0);

    // Added, Cancel: the keyword stays added, nothing starts. Added again: no second item, OK starts it.
    AddTask(QString::fromUtf8(kKeyword), kAnswerCancel);
    ASSERT_EQ(answers_.asked.size(), 2u);
    EXPECT_EQ(answers_.Pending(), 0u);
    EXPECT_EQ(answers_.asked[1].text, "任务已添加成功：\r\n      点[确定]按钮立即搜索 \r\n      点[取消]继续添加任务");
    EXPECT_EQ(window_->KeyListModel().rowCount(), 1);
    EXPECT_EQ(Style(), QString::fromLatin1(kStartStyle));
    EXPECT_TRUE(engines_.PageRequests(kEngineBaidu).empty());
    EXPECT_FALSE(window_->Store().FindKey(kKeyword)->LoadStarted);
    AddTask(QString::fromUtf8(kKeyword), kAnswerOk);
    EXPECT_EQ(window_->KeyListModel().rowCount(), 1);
    EXPECT_EQ(RunSqlite(home_.Database(), "SELECT COUNT(*) FROM tbl_key;"), "1\n");

    // The first start loads the companies, switches the grid to the keyword, then collects.
    ASSERT_TRUE(WaitFor([&] { return Style() == QLatin1String(kStopStyle); }));
    EXPECT_EQ(window_->CurrentKeyword(), kKeyword);
    ASSERT_TRUE(WaitFor([&] { return window_->GridModel().rowCount() == 2; }));
    EXPECT_EQ(window_->findChild<QLabel*>("txtkeylist")->text(), QStringLiteral("共 2 条记录"));
    EXPECT_EQ(Item(TKeyListModel::CountRole).toString(), QStringLiteral("2条"));
    EXPECT_EQ(window_->findChild<QLabel*>("txtrel")->text(), QStringLiteral("当前已采集记录：2条"));

    // The following pages bring nothing: the fourth finished one stops the task, which ends Idle.
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    EXPECT_EQ(window_->Store().FindKey(kKeyword)->TaskCtl, nullptr);
    const std::string cursor =
        RunSqlite(home_.Database(), std::string("SELECT ") + PageColumnOfEngine(0) + " FROM tbl_key;");
    EXPECT_GE(std::stoi(cursor), 5) << cursor;

    // A start without any engine ticked is refused; the item stays Idle.
    window_->findChild<QCheckBox*>("chkbd")->setChecked(false);
    window_->StartKeyword(kKeyword);
    EXPECT_EQ(answers_.asked.back().kind, kBoxInformation);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(window_->Store().FindKey(kKeyword)->TaskCtl, nullptr);
    window_->findChild<QCheckBox*>("chkbd")->setChecked(true);

    // Start, pause, resume, stop.
    window_->StartKeyword(kKeyword);
    EXPECT_EQ(Style(), QString::fromLatin1(kStopStyle));
    ASSERT_NE(window_->Store().FindKey(kKeyword)->TaskCtl, nullptr);
    window_->PauseKeyword(kKeyword);
    EXPECT_EQ(Style(), QString::fromLatin1(kStartStyle));
    EXPECT_EQ(DateLine(), QStringLiteral("任务已暂停..."));
    TTaskCtl* paused = window_->Store().FindKey(kKeyword)->TaskCtl;
    window_->StartKeyword(kKeyword);
    EXPECT_EQ(window_->Store().FindKey(kKeyword)->TaskCtl, paused);  // the same collectors resumed
    EXPECT_EQ(Style(), QString::fromLatin1(kStopStyle));
    window_->StopKeyword(kKeyword, true);
    EXPECT_EQ(window_->Store().FindKey(kKeyword)->TaskCtl, nullptr);
    // Stopping until the collector has ended (unless it already had), then Idle.
    EXPECT_TRUE(Idle() || (DateLine() == QStringLiteral("正在停止任务...") && !Enabled()));
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));

    // Deleting the keyword while it runs: asked, stopped, gone from list and store; the grid keeps its rows.
    window_->StartKeyword(kKeyword);
    EXPECT_EQ(Style(), QString::fromLatin1(kStopStyle));
    answers_.Answer(kAnswerCancel);
    window_->ItemButtonClick(kKeyword, 1);
    EXPECT_EQ(answers_.asked.back().text, "确定要删除关键词 [广州 电子公司] 吗?");
    EXPECT_EQ(window_->KeyListModel().rowCount(), 1);
    answers_.Answer(kAnswerOk);
    window_->ItemButtonClick(kKeyword, 1);
    EXPECT_EQ(window_->KeyListModel().rowCount(), 0);
    EXPECT_EQ(window_->Store().FindKey(kKeyword), nullptr);
    EXPECT_EQ(window_->GridModel().rowCount(), 2);
    EXPECT_EQ(RunSqlite(home_.Database(), "SELECT COUNT(*) FROM tbl_key; SELECT COUNT(*) FROM tbl_list;"), "0\n0\n");
    EXPECT_EQ(answers_.Pending(), 0u);
}

// A company the database refuses stops the task with a status saying so, and leaves the cursor on its page.
TEST_F(TaskTest, ACompanyTheDatabaseRefusesStopsTheTaskAndIsCollectedAgainNextTime) {
    RunSqlite(home_.Database(),
              "CREATE TRIGGER refuse BEFORE INSERT ON tbl_list BEGIN SELECT RAISE(ABORT, 'disk is full'); END;");
    AddTask(QString::fromUtf8(kKeyword), kAnswerOk);
    auto* status = window_->findChild<QLabel*>("txtstat");
    ASSERT_TRUE(WaitFor([&] { return status->text().contains(QStringLiteral("保存失败（disk is full），任务已停止")); }))
        << status->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    EXPECT_EQ(window_->Store().FindKey(kKeyword)->TaskCtl, nullptr);
    EXPECT_EQ(window_->GridModel().rowCount(), 0);
    EXPECT_EQ(RunSqlite(home_.Database(), std::string("SELECT ") + PageColumnOfEngine(0) + " FROM tbl_key;"), "0\n");

    // With the database writable again, the next start collects the page again and stores both companies. Its
    // pages come slowly enough for both site visits to end before idle pages could stop the task.
    RunSqlite(home_.Database(), "DROP TRIGGER refuse;");
    GatesOfEngine(kEngineBaidu).ResultPage.SetTiming({400ms, 5ms});
    auto firstPageRequests = [&] {
        const auto requests = engines_.PageRequests(kEngineBaidu);
        return std::count_if(requests.begin(), requests.end(), [](const auto& request) { return request.Page == 0; });
    };
    EXPECT_EQ(firstPageRequests(), 1);
    window_->StartKeyword(kKeyword);
    ASSERT_TRUE(WaitFor([&] { return window_->GridModel().rowCount() == 2; }));
    EXPECT_EQ(firstPageRequests(), 2);
    EXPECT_EQ(RunSqlite(home_.Database(), "SELECT COUNT(*) FROM tbl_list;"), "2\n");
}

// One engine ending early (its result page fails) keeps the Running look while the others collect; a stop shows
// the Stopping look until a collector has ended, then Idle, with no other look between.
TEST_F(TaskTest, AnEngineEndingEarlyKeepsTheRunningLookAndAStopLooksStoppingUntilACollectorEnds) {
    struct TLook {
        QString style, dateLine;
        bool enabled;
    };
    std::vector<TLook> looks;
    QObject::connect(&window_->KeyListModel(), &QAbstractItemModel::dataChanged, window_.get(), [&] {
        if (window_->KeyListModel().FindItem(kKeyword) >= 0)
            looks.push_back({Style(), DateLine(), Enabled()});
    });
    auto idleLooks = [&] {
        return std::count_if(looks.begin(), looks.end(), [](const TLook& look) {
            return look.style == QLatin1String(kStartStyle) && look.enabled && look.dateLine.startsWith("最后更新：");
        });
    };
    web_.Handle(sim::kSimSogouHost, "/web", [](const sim::TSimRequest&) { return sim::TSimResponse::Status(500); });
    // Baidu and 360 pages come slowly, so the task outlives the Sogou collector by far.
    GatesOfEngine(kEngineBaidu).ResultPage.SetTiming({400ms, 5ms});
    GatesOfEngine(2).ResultPage.SetTiming({400ms, 5ms});
    window_->findChild<QCheckBox*>("chksg")->setChecked(true);
    window_->findChild<QCheckBox*>("chk360")->setChecked(true);
    AddTask(QString::fromUtf8(kKeyword), kAnswerOk);

    ASSERT_TRUE(WaitFor([&] { return window_->Store().FindKey(kKeyword)->TaskCtl != nullptr; }));
    ASSERT_TRUE(WaitFor([&] {
        const TTaskCtl* task = window_->Store().FindKey(kKeyword)->TaskCtl;
        return task != nullptr && task->EngineKeys().size() == 2;
    }));
    EXPECT_EQ(web_.RequestsTo(sim::kSimSogouHost, "/web").size(), 1u);
    EXPECT_EQ(Style(), QString::fromLatin1(kStopStyle));
    EXPECT_TRUE(Enabled());
    EXPECT_EQ(idleLooks(), 0);
    // The failed page stays the Sogou cursor, written by the collector's end.
    EXPECT_EQ(RunSqlite(home_.Database(), std::string("SELECT ") + PageColumnOfEngine(1) + " FROM tbl_key;"), "0\n");

    looks.clear();
    window_->StopKeyword(kKeyword, true);
    ASSERT_FALSE(looks.empty());
    EXPECT_EQ(looks.front().dateLine, QStringLiteral("正在停止任务..."));
    EXPECT_FALSE(looks.front().enabled);
    ASSERT_TRUE(WaitFor([&] { return Idle(); }));
    // Stopping until the first collector's end, Idle from there on (each later end gives the Idle look again).
    const auto firstIdle = std::find_if(looks.begin(), looks.end(), [](const TLook& look) {
        return look.dateLine != QStringLiteral("正在停止任务...");
    });
    EXPECT_EQ(static_cast<std::size_t>(idleLooks()), static_cast<std::size_t>(looks.end() - firstIdle));
    for (auto look = looks.begin(); look != firstIdle; ++look)
        EXPECT_FALSE(look->enabled);
}

// The UI thread never waits on the network: with a hundred advertiser sites holding their answers back, a timer on
// the window keeps firing on time while the task runs.
TEST_F(TaskTest, TheWindowAnswersWhileAHundredSitesStall) {
    constexpr char kStalled[] = "深圳 机械设备";
    constexpr int kSites = 100;
    constexpr int kStallMs = 5000;
    std::vector<sim::TSimEntry> entries;
    for (int i = 0; i < kSites; ++i) {
        const std::string host = "www.stall" + std::to_string(i) + ".cn";
        entries.push_back({engines_.AddCompany({host, "深圳停顿" + std::to_string(i) + "机械有限公司", "13700000000",
                                                "", "", "", ""}),
                           false});
        sim::TSimResponse stall = sim::TSimResponse::Html("<html></html>");
        stall.delayBeforeHeadersMs = kStallMs;
        web_.Serve(host, "/", stall);
    }
    engines_.SetPage(kEngineBaidu, kStalled, 0, entries);
    AddTask(QString::fromUtf8(kStalled), kAnswerOk);

    using Clock = std::chrono::steady_clock;
    constexpr auto kTick = 20ms;
    std::vector<Clock::duration> gaps;
    auto last = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        gaps.push_back(now - last);
        last = now;
    });
    auto stalledRequests = [&] {
        std::size_t count = 0;
        for (int i = 0; i < kSites; ++i)
            count += web_.RequestsTo("www.stall" + std::to_string(i) + ".cn", "/").size();
        return count;
    };
    last = Clock::now();
    probe.start(kTick);
    ASSERT_TRUE(WaitFor([&] { return stalledRequests() == kSites; }, kStallMs - 1000))
        << stalledRequests() << " sites reached";
    QTest::qWait(1000);  // every site holds its answer back meanwhile
    probe.stop();
    window_->StopKeyword(kStalled, false);

    ASSERT_GT(gaps.size(), 20u);
    std::sort(gaps.begin(), gaps.end());
    const auto p90 = gaps[gaps.size() * 9 / 10] - kTick;
    const auto worst = gaps.back() - kTick;
    // A UI thread waiting on a site would miss ticks for seconds; a busy machine may delay a rare one.
    EXPECT_LT(p90, 100ms) << std::chrono::duration_cast<std::chrono::milliseconds>(p90).count() << " ms";
    EXPECT_LT(worst, 1000ms) << std::chrono::duration_cast<std::chrono::milliseconds>(worst).count() << " ms";
}

}  // namespace
}  // namespace vexo::test
