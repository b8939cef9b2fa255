// The results grid and the company-details window: cell texts and icons as the grid paints them, the counts as a
// keyword's stored companies are shown and new ones arrive, and the details window's sections.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include "ui/GridCells.h"
#include "ui/GridModel.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"
#include "ui/frmComInfo.h"

namespace vexo::test {
namespace {

TComPanyInfo Company(const std::string& name, std::vector<std::string> mobiles, std::vector<std::string> qq = {},
                     std::vector<std::string> email = {}) {
    TComPanyInfo record;
    record.SetComName(name);
    record.Mob = std::move(mobiles);
    record.qq = std::move(qq);
    record.EMail = std::move(email);
    record.weburl = "http://www.example.com/";
    record.source = "百度";
    return record;
}

TShellOptions QuietShell() {
    TShellOptions options;
    options.exePath = "/opt/vexo/vexo";
    options.trayAvailable = [] { return true; };
    options.exitProgram = [](int) {};
    return options;
}

TEST(GridCells, NamesAreTrimmedAndCutAt34GbkBytesWithoutSplittingACharacter) {
    TComPanyInfo record;
    record.ComName = "  Short Name Ltd \t";
    EXPECT_EQ(GridCellText(record, ColName), "Short Name Ltd");
    record.ComName = std::string(40, 'a');
    EXPECT_EQ(GridCellText(record, ColName), std::string(34, 'a') + "...");
    // Byte 34 would be the first byte of the 17th Chinese character: 33 bytes are kept.
    record.ComName = "A广州市天河区电子科技有限公司广州分公司";  // 1 + 19 * 2 bytes
    EXPECT_EQ(GridCellText(record, ColName),
              "A广州市天河区电子科技有限公司广州"
              "...");
    // Exactly 34 bytes stays whole; a space inside the kept part stays.
    record.ComName = std::string(34, 'b');
    EXPECT_EQ(GridCellText(record, ColName), std::string(34, 'b'));
    record.ComName = std::string(33, 'c') + " ddddd";
    EXPECT_EQ(GridCellText(record, ColName), std::string(33, 'c') + " ...");
    // A nameless record shows an empty name.
    record.ComName.clear();
    EXPECT_EQ(GridCellText(record, ColName), "");
}

TEST(GridCells, ContactListsShowLineFeedsAsSpacesAndMobilesAreCutAt26Bytes) {
    TComPanyInfo record;
    record.Mob = {"13800138000", "13900139000"};
    EXPECT_EQ(GridCellText(record, ColMobile), "13800138000\r 13900139000\r ");
    record.Mob.push_back("13700137000");
    EXPECT_EQ(GridCellText(record, ColMobile), "13800138000\r 13900139000\r ...");
    record.qq = {"12345", "67890", "11111", "22222", "33333", "44444"};
    EXPECT_EQ(GridCellText(record, ColQQ), "12345\r 67890\r 11111\r 22222\r 33333\r 44444\r ");
    record.EMail = {"sales@example.com", "info@example.com"};
    EXPECT_EQ(GridCellText(record, ColEmail), "sales@example.com\r info@example.com\r ");
    record.source = " 360 ";
    EXPECT_EQ(GridCellText(record, ColSource), "360");
    EXPECT_EQ(GridCellText(TComPanyInfo{}, ColMobile), "");
}

TEST(GridCells, ModelGivesIconsValuesAndOneLineDisplayTexts) {
    TUiHome home;
    TGridModel model;
    auto promoted = std::make_shared<TComPanyInfo>(Company("甲公司", {"13800138000", "13900139000"}));
    promoted->ispay = 1;
    promoted->renzheng = 1;
    auto certified = std::make_shared<TComPanyInfo>(Company("乙公司", {"13800138001"}));
    certified->renzheng = 1;
    auto plain = std::make_shared<TComPanyInfo>(Company("丙公司", {"13800138002"}));
    model.Fill({promoted, certified});
    model.Append(plain);
    ASSERT_EQ(model.rowCount(), 3);
    ASSERT_EQ(model.columnCount(), 6);
    auto icon = [&](int row) {
        return static_cast<TPromoIcon>(model.index(row, ColIcon).data(TGridModel::PromoIconRole).toInt());
    };
    EXPECT_EQ(icon(0), TPromoIcon::Promoted);
    EXPECT_EQ(icon(1), TPromoIcon::Certified);
    EXPECT_EQ(icon(2), TPromoIcon::Blank);
    EXPECT_EQ(model.index(0, ColMobile).data(TGridModel::CellValueRole).toString(),
              QStringLiteral("13800138000\r 13900139000\r "));
    EXPECT_EQ(model.index(0, ColMobile).data().toString(), QStringLiteral("13800138000 13900139000 "));
    EXPECT_EQ(model.index(1, ColName).data().toString(), QStringLiteral("乙公司"));
    EXPECT_EQ(model.index(2, ColSource).data().toString(), QStringLiteral("百度"));
    EXPECT_FALSE(model.index(3, ColName).data().isValid());
    const QStringList headers = {"", "公司名", "手机", "QQ", "邮箱", "来源"};
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(), headers[column]);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString(), QStringLiteral("带图标的为推广用户"));
    EXPECT_FALSE(model.flags(model.index(0, ColName)) & Qt::ItemIsEditable);
}

// A keyword's stored companies are loaded by the loader thread and shown; a new company of the current keyword
// adds a row and raises both counts, one of another keyword changes neither the rows nor the row count.
TEST(Grid, ShowsAKeywordsStoredCompaniesAndFollowsNewOnes) {
    TUiHome home;
    {
        TKeyListInfo store;
        store.AddKey("广州 电子公司", true);
        store.AddKey("上海 网络公司", true);
        for (int i = 0; i < 120; ++i)
            store.AddCompany("广州 电子公司", Company("广州电子" + std::to_string(i) + "有限公司",
                                                      {"138" + std::to_string(10000000 + i)}));
        store.AddCompany("上海 网络公司", Company("上海网络有限公司", {"13900000000"}));
    }
    Tfmzunta window(QuietShell());
    auto* txtkeylist = window.findChild<QLabel*>("txtkeylist");
    auto* txtrel = window.findChild<QLabel*>("txtrel");
    auto* imgbg = window.findChild<QWidget*>("imgbg");
    auto* loading = window.findChild<QWidget*>("rcloading");
    EXPECT_FALSE(imgbg->isHidden());

    window.ShowKeyword("广州 电子公司");
    EXPECT_FALSE(loading->isHidden());
    EXPECT_TRUE(imgbg->isHidden());
    EXPECT_EQ(window.findChild<QLineEdit*>("edtSearchKey")->text(), QStringLiteral("广州 电子公司"));
    EXPECT_TRUE(window.findChild<QLabel*>("txtinfo")->isHidden());
    EXPECT_EQ(window.findChild<QLabel*>("txtstat")->text(), QStringLiteral("当前已选择[广州 电子公司]"));
    EXPECT_EQ(window.findChild<QLabel*>("txttiptitle")->text(), QStringLiteral("温馨提示"));
    ASSERT_TRUE(WaitFor([&] { return window.GridModel().rowCount() == 120; }));
    EXPECT_TRUE(loading->isHidden());
    EXPECT_EQ(window.CurrentKeyword(), "广州 电子公司");
    EXPECT_EQ(txtkeylist->text(), QStringLiteral("共 120 条记录"));
    EXPECT_EQ(txtrel->text(), QStringLiteral("当前已采集记录：121条"));
    EXPECT_EQ(window.GridModel().index(0, ColName).data().toString(), QStringLiteral("广州电子0有限公司"));

    window.Store().AddCompany("广州 电子公司", Company("广州电子新来有限公司", {"13711112222"}));
    EXPECT_EQ(window.GridModel().rowCount(), 121);
    EXPECT_EQ(txtkeylist->text(), QStringLiteral("共 121 条记录"));
    EXPECT_EQ(txtrel->text(), QStringLiteral("当前已采集记录：122条"));
    EXPECT_EQ(window.GridModel().index(120, ColName).data().toString(), QStringLiteral("广州电子新来有限公司"));

    window.Store().AddCompany("上海 网络公司", Company("上海另一网络有限公司", {"13722223333"}));
    EXPECT_EQ(window.GridModel().rowCount(), 121);
    EXPECT_EQ(txtkeylist->text(), QStringLiteral("共 121 条记录"));

    // A keyword not in the store changes nothing; another keyword replaces the rows.
    window.ShowKeyword("北京 不存在");
    EXPECT_EQ(window.GridModel().rowCount(), 121);
    EXPECT_EQ(window.CurrentKeyword(), "广州 电子公司");
    window.ShowKeyword("上海 网络公司");
    ASSERT_TRUE(WaitFor([&] { return window.GridModel().rowCount() == 2; }));
    EXPECT_EQ(txtkeylist->text(), QStringLiteral("共 2 条记录"));
    EXPECT_EQ(txtrel->text(), QStringLiteral("当前已采集记录：123条"));

    // "删除" on the selected row asks; OK deletes the company and the grid is refilled without it.
    TScriptedAnswerer answers;
    auto* grid = window.findChild<QTableView*>("dblist");
    grid->selectRow(0);
    const QString first = window.GridModel().index(0, ColName).data().toString();
    answers.Answer(kAnswerCancel);
    window.N5Click();
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_EQ(answers.asked[0].text, "确定要删除 [" + first.toStdString() + "]？");
    EXPECT_EQ(window.GridModel().rowCount(), 2);
    answers.Answer(kAnswerOk);
    window.N5Click();
    ASSERT_TRUE(WaitFor([&] { return window.GridModel().rowCount() == 1; }));
    EXPECT_NE(window.GridModel().index(0, ColName).data().toString(), first);
    EXPECT_EQ(RunSqlite(home.Database(), "SELECT COUNT(*) FROM tbl_list;"), "122\n");
}

// The examples of the section layout, a refill of the open window by a second row, and a row without a record.
TEST(Grid, DetailsWindowLaysOutTheSectionsAndIsRefilledByTheNextDoubleClick) {
    TUiHome home;
    Tfmzunta window(QuietShell());
    auto full =
        std::make_shared<TComPanyInfo>(Company("广州甲电子有限公司", {"13800138000"}, {"1001", "1002", "1003"},
                                               {"a@x.cn", "b@x.cn", "c@x.cn", "d@x.cn", "e@x.cn", "f@x.cn", "g@x.cn"}));
    auto bare = std::make_shared<TComPanyInfo>(Company("乙公司", {}));
    bare->weburl = "https://yi.example.cn/";
    window.FillGrid({full, bare});
    auto* grid = window.findChild<QTableView*>("dblist");
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 24);
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(grid->columnWidth(column), kGridColumnWidths[column]);

    window.dblistDblClick(999);
    EXPECT_EQ(window.ComInfo(), nullptr);
    window.dblistDblClick(0);
    Tfmcominfo* info = window.ComInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->isVisible());
    EXPECT_EQ(info->windowTitle(), QStringLiteral("公司详情"));
    EXPECT_EQ(info->size(), QSize(447, 466));
    EXPECT_EQ(info->findChild<QLabel*>("txtwin")->text(), QStringLiteral("广州甲电子有限公司"));
    EXPECT_EQ(info->findChild<QLabel*>("txturl")->text(), QStringLiteral("http://www.example.com/"));
    EXPECT_EQ(info->findChild<QLabel*>("Text1")->text(), QStringLiteral("联系方式："));
    auto memo = [&](const char* name) { return info->findChild<QPlainTextEdit*>(name); };
    auto label = [&](const char* name) { return info->findChild<QLabel*>(name); };
    EXPECT_EQ(memo("mmmob")->geometry(), QRect(84, 149, 319, 20));
    EXPECT_EQ(label("txtmob")->pos(), QPoint(28, 149));
    EXPECT_EQ(memo("mmtel")->geometry(), QRect(84, 179, 319, 60));
    EXPECT_EQ(label("txttel")->pos(), QPoint(28, 179));
    EXPECT_EQ(memo("mmemail")->geometry(), QRect(84, 249, 319, 80));
    EXPECT_EQ(memo("mmtel")->toPlainText(), QStringLiteral("1001\n1002\n1003"));
    EXPECT_TRUE(label("txtaddr")->isHidden());
    EXPECT_TRUE(label("txtaddrc")->isHidden());

    // The second row refills the same window; its empty lists hide their sections.
    window.dblistDblClick(1);
    EXPECT_EQ(window.ComInfo(), info);
    EXPECT_EQ(label("txtwin")->text(), QStringLiteral("乙公司"));
    for (const char* name : {"txtmob", "txttel", "txtemail"})
        EXPECT_TRUE(label(name)->isHidden()) << name;
    for (const char* name : {"mmmob", "mmtel", "mmemail"})
        EXPECT_TRUE(memo(name)->isHidden()) << name;

    // The address opens only as a web address.
    std::vector<QUrl> opened;
    info->OpenUrl = [&](const QUrl& url) { opened.push_back(url); };
    QTest::mouseClick(label("txturl"), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://yi.example.cn/")));
    EXPECT_FALSE(Tfmcominfo::WebAddress(QStringLiteral("javascript:alert(1)")));
    EXPECT_FALSE(Tfmcominfo::WebAddress(QStringLiteral("file:///etc/passwd")));
    EXPECT_FALSE(Tfmcominfo::WebAddress(QStringLiteral("www.example.com")));
    EXPECT_FALSE(Tfmcominfo::WebAddress(QStringLiteral("http://")));
    EXPECT_TRUE(Tfmcominfo::WebAddress(QStringLiteral("HTTP://Example.com/contact.html")));

    // Closing frees the window; the next double-click makes a new one.
    info->close();
    ASSERT_TRUE(WaitFor([&] { return window.ComInfo() == nullptr; }));
    window.dblistDblClick(0);
    EXPECT_NE(window.ComInfo(), nullptr);
}

TEST(Grid, SectionLayoutCapsLongListsAtEightyPixels) {
    TComPanyInfo record;
    record.qq = {"1", "2", "3", "4"};
    auto layout = LayoutComInfo(record);
    EXPECT_FALSE(layout.mobile.visible);
    EXPECT_EQ(layout.qq.top, 149);
    EXPECT_EQ(layout.qq.height, 80);  // 4 x 20
    record.qq.push_back("5");
    EXPECT_EQ(LayoutComInfo(record).qq.height, 80);  // 5 x 20 capped
    record.Mob = {"13800138000", "13800138001", "13800138002", "13800138003", "13800138004"};
    record.EMail = {"a@b.cn"};
    layout = LayoutComInfo(record);
    EXPECT_EQ(layout.mobile.height, 80);  // 5 x 18 capped
    EXPECT_EQ(layout.qq.top, 239);
    EXPECT_EQ(layout.email.top, 329);
    EXPECT_EQ(layout.email.height, 20);
    EXPECT_FALSE(layout.email.scrollBars);
}

}  // namespace
}  // namespace vexo::test
