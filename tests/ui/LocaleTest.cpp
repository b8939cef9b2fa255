// The window under a comma-decimal locale (German, built for the test with localedef): the program's own start-up
// puts number conversion back to the C way, and a collection stores its keyword, companies and dates correctly.
// Its own test program, because the locale must be in place before the QApplication is made.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <clocale>
#include <cstdio>

#include "platform/WorkerThread.h"
#include "sim/SimEngines.h"
#include "store/KeyUnit.h"
#include "support/Locales.h"
#include "ui/GridModel.h"
#include "ui/KeyListModel.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"

namespace vexo::test {
namespace {

using namespace std::chrono_literals;

constexpr char kKeyword[] = "广州 电子公司";
constexpr char kLocale[] = "de_DE.UTF-8";

// Builds the locale into a folder of its own and selects it for the whole process; false when it cannot be built.
bool UseCommaDecimalLocale(const std::filesystem::path& folder) {
    if (!BuildUtf8Locale("de_DE", folder))
        return false;
    setenv("LOCPATH", folder.c_str(), 1);
    setenv("LC_ALL", kLocale, 1);
    return true;
}

TEST(CommaDecimalLocale, NumbersConvertTheCWayAndACollectionStoresCompaniesWithTheirDates) {
    TTempHome locales;
    if (!UseCommaDecimalLocale(locales.Dir()))
        GTEST_SKIP() << "the de_DE.UTF-8 locale cannot be built here (localedef and the locale sources are needed)";
    TUiHome home;  // makes the QApplication, which takes the locale from the environment

    // The locale is in force for everything but numbers.
    const char* monetary = std::setlocale(LC_MONETARY, nullptr);
    ASSERT_NE(monetary, nullptr);
    EXPECT_STREQ(monetary, kLocale);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_EQ(std::strtod("2.01", nullptr), 2.01);
    char printed[16];
    std::snprintf(printed, sizeof printed, "%.2f", 2.5);
    EXPECT_STREQ(printed, "2.50");

    sim::TScopedGateTimings gates{{20ms, 2ms}, {10ms, 2ms}};
    sim::TSimWeb web;
    sim::TSimEngines engines{web};
    sim::TProxyEnvironment proxy{web.BaseUrl(), "127.0.0.1"};
    const std::size_t a = engines.AddCompany({"www.jiayi-dz.cn", "广州市甲乙电子科技有限公司", "13912345678",
                                              "020-87654321", "sales@jiayi-dz.cn", "12345678", "广州市天河区体育西路100号"});
    const std::size_t b = engines.AddCompany({"www.bingding.com.cn", "广州丙丁电子有限公司", "13800138000",
                                              "020-38887777", "info@bingding.com.cn", "", "广州市番禺区市桥街8号"});
    engines.SetPage(kEngineBaidu, kKeyword, 0, {{a, true}, {b, false}});
    TScriptedAnswerer answers;
    TShellOptions options;
    options.exePath = "/opt/vexo/vexo";
    options.trayAvailable = [] { return true; };
    options.exitProgram = [](int) {};
    {
        Tfmzunta window(options);
        window.findChild<QCheckBox*>("chksg")->setChecked(false);
        window.findChild<QCheckBox*>("chk360")->setChecked(false);
        window.show();
        const std::int64_t before = LocalNowSeconds();
        window.findChild<QLineEdit*>("edtSearchKey")->setText(QString::fromUtf8(kKeyword));
        answers.Answer(kAnswerOk);
        window.findChild<QPushButton*>("btnbaidustart")->click();
        ASSERT_TRUE(WaitFor([&] { return window.GridModel().rowCount() == 2; }));
        const std::int64_t after = LocalNowSeconds();

        const std::string stored = RunSqlite(home.Database(), "SELECT KeyStr, listcount, adddate FROM tbl_key;");
        const auto bar1 = stored.find('|');
        const auto bar2 = stored.rfind('|');
        ASSERT_NE(bar1, bar2) << stored;
        EXPECT_EQ(stored.substr(0, bar1), kKeyword);
        EXPECT_EQ(stored.substr(bar1 + 1, bar2 - bar1 - 1), "2");
        const std::int64_t addDate = std::stoll(stored.substr(bar2 + 1));
        EXPECT_GE(addDate, before);
        EXPECT_LE(addDate, after);
        EXPECT_EQ(RunSqlite(home.Database(), "SELECT ComName, mob FROM tbl_list ORDER BY ComName;"),
                  "广州丙丁电子有限公司官网|13800138000\r\n\n广州市甲乙电子科技有限公司|13912345678\r\n\n");

        // The item's date line shows that time once the task has ended.
        const int row = window.KeyListModel().FindItem(kKeyword);
        ASSERT_GE(row, 0);
        ASSERT_TRUE(WaitFor([&] {
            return window.KeyListModel().index(row).data(TKeyListModel::DateRole).toString().startsWith("最后更新：");
        }));
        EXPECT_EQ(window.KeyListModel().index(row).data(TKeyListModel::DateRole).toString().toStdString(),
                  LastUpdateText(window.Store().FindKey(kKeyword)->AddDate));
        EXPECT_EQ(window.Store().FindKey(kKeyword)->AddDate, addDate);
    }
    EXPECT_TRUE(WaitFor([] { return LiveWorkerCount() == 0; }));
}

}  // namespace
}  // namespace vexo::test
