// Export from the window: the field chooser's boxes and quick selections, and whole exports as a user runs them
// (loading first, the save dialog, the overwrite question, the messages, the file manager), checked in the files.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <sstream>

#include "store/Export.h"
#include "text/Gbk.h"
#include "ui/GridCells.h"
#include "ui/GridModel.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"
#include "ui/frmSelFiled.h"

namespace vexo::test {
namespace {

constexpr const char* kGuangzhou = "广州 电子公司";
constexpr const char* kShanghai = "上海 网络公司";

TComPanyInfo Company(const std::string& name, std::vector<std::string> mobiles, std::vector<std::string> qq = {}) {
    TComPanyInfo record;
    record.SetComName(name);
    record.Mob = std::move(mobiles);
    record.qq = std::move(qq);
    record.weburl = "http://www.example.com/";
    record.source = "百度";
    return record;
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct TBoxes {
    bool company, mob, tel, email, url, addr, txt, execl;
};

TBoxes BoxesOf(const Tfmselfiled& chooser) {
    auto ticked = [&](const char* name) { return chooser.findChild<QCheckBox*>(name)->isChecked(); };
    return {ticked("chkcompany"), ticked("chkmob"), ticked("chktel"), ticked("chkemail"),
            ticked("chkurl"),     ticked("chkaddr"), ticked("chktxt"), ticked("chkexecl")};
}

void ExpectBoxes(const Tfmselfiled& chooser, TBoxes want, const char* when) {
    const TBoxes got = BoxesOf(chooser);
    EXPECT_EQ(got.company, want.company) << when;
    EXPECT_EQ(got.mob, want.mob) << when;
    EXPECT_EQ(got.tel, want.tel) << when;
    EXPECT_EQ(got.email, want.email) << when;
    EXPECT_EQ(got.url, want.url) << when;
    EXPECT_EQ(got.addr, want.addr) << when;
    EXPECT_EQ(got.txt, want.txt) << when;
    EXPECT_EQ(got.execl, want.execl) << when;
}

TEST(ExportChooser, BoxesQuickSelectionsAndTheChoiceHandedToTheExport) {
    TUiHome home;
    std::vector<std::pair<std::string, TExportChoice>> runs;
    auto* chooser = new Tfmselfiled(nullptr, kGuangzhou, [&](const std::string& keyword, const TExportChoice& choice) {
        runs.emplace_back(keyword, choice);
    });
    QPointer<Tfmselfiled> alive(chooser);
    chooser->show();
    EXPECT_EQ(chooser->windowTitle(), QStringLiteral("导出字段选择"));
    EXPECT_EQ(chooser->size(), QSize(kSelFiledWidth, kSelFiledHeight));
    EXPECT_FALSE(chooser->isModal());
    EXPECT_FALSE(chooser->windowFlags() & Qt::WindowCloseButtonHint);
    const std::vector<std::tuple<const char*, QPoint, QString>> controls = {
        {"Label1", {8, 14}, "请选择需要导出的字段："}, {"Label2", {10, 39}, "快速选择："},
        {"Label4", {82, 39}, "手机"},                  {"Label3", {121, 39}, "QQ"},
        {"Label5", {152, 39}, "邮箱"},                 {"Label6", {191, 39}, "全选"},
        {"chkcompany", {27, 82}, "公司名"},            {"chkmob", {116, 82}, "手机"},
        {"chktel", {191, 82}, "QQ"},                   {"chkemail", {27, 118}, "EMail邮箱"},
        {"chkurl", {116, 118}, "网址"},                {"chkaddr", {196, 52}, "地址"},
        {"chktxt", {27, 161}, "txt格式"},              {"chkexecl", {116, 161}, "Excel格式"},
        {"Button2", {25, 200}, "确 定"},               {"Button1", {116, 200}, "取 消"},
    };
    for (const auto& [name, position, caption] : controls) {
        auto* widget = chooser->findChild<QWidget*>(name);
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->pos(), position) << name;
        const QString text = widget->property("text").toString();
        EXPECT_EQ(text, caption) << name;
        // Nothing is cut off: every control fits the chooser's client area.
        EXPECT_TRUE(chooser->rect().contains(widget->geometry())) << name;
    }
    EXPECT_TRUE(chooser->findChild<QCheckBox*>("chkaddr")->isHidden());
    EXPECT_TRUE(chooser->findChild<QCheckBox*>("chkexecl")->font().bold());
    ExpectBoxes(*chooser, {true, true, true, true, true, true, false, true}, "initially");

    // The format boxes: ticking one unticks the other; unticking leaves both unticked (the spreadsheet format).
    auto* txt = chooser->findChild<QCheckBox*>("chktxt");
    auto* execl = chooser->findChild<QCheckBox*>("chkexecl");
    QTest::mouseClick(txt, Qt::LeftButton, {}, QPoint(4, txt->height() / 2));
    EXPECT_TRUE(txt->isChecked());
    EXPECT_FALSE(execl->isChecked());
    QTest::mouseClick(txt, Qt::LeftButton, {}, QPoint(4, txt->height() / 2));
    EXPECT_FALSE(txt->isChecked());
    EXPECT_FALSE(execl->isChecked());
    EXPECT_FALSE(chooser->Choice().TextFormat);
    QTest::mouseClick(execl, Qt::LeftButton, {}, QPoint(4, execl->height() / 2));
    EXPECT_TRUE(execl->isChecked());

    // The quick selections, clicked as links, set all eight boxes.
    auto click = [&](const char* link) { QTest::mouseClick(chooser->findChild<QLabel*>(link), Qt::LeftButton); };
    click("Label4");
    ExpectBoxes(*chooser, {false, true, false, false, false, false, true, false}, "手机");
    click("Label3");
    ExpectBoxes(*chooser, {false, false, true, false, false, false, true, false}, "QQ");
    click("Label5");
    ExpectBoxes(*chooser, {false, false, false, true, false, false, true, false}, "邮箱");
    click("Label6");
    ExpectBoxes(*chooser, {true, true, true, true, true, true, false, true}, "全选");

    // OK: the address is never exported; the export runs once with the boxes, and the chooser is freed.
    chooser->findChild<QCheckBox*>("chkurl")->setChecked(false);
    QTest::mouseClick(chooser->findChild<QPushButton*>("Button2"), Qt::LeftButton);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, kGuangzhou);
    const TExportChoice& choice = runs[0].second;
    EXPECT_TRUE(choice.Name && choice.Mob && choice.QQ && choice.EMail);
    EXPECT_FALSE(choice.Addr);
    EXPECT_FALSE(choice.WebUrl);
    EXPECT_FALSE(choice.TextFormat);
    ASSERT_TRUE(WaitFor([&] { return alive.isNull(); }));

    // Cancel closes without an export.
    auto* cancelled = new Tfmselfiled(nullptr, kShanghai, [&](const std::string& keyword, const TExportChoice& c) {
        runs.emplace_back(keyword, c);
    });
    QPointer<Tfmselfiled> second(cancelled);
    cancelled->show();
    QTest::mouseClick(cancelled->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return second.isNull(); }));
    EXPECT_EQ(runs.size(), 1u);
}

class ExportFromWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            TKeyListInfo store;
            store.AddKey(kGuangzhou, true);
            store.AddKey(kShanghai, true);
            store.AddKey("空的 关键词", true);
            store.AddCompany(kGuangzhou, Company("广州甲电子有限公司", {"13800138000", "13900139000"}));
            store.AddCompany(kGuangzhou, Company("广州乙电子有限公司", {"13700137000"}, {"10001"}));
            store.AddCompany(kShanghai, Company("上海网络有限公司", {"13600136000"}));
        }
        TShellOptions options;
        options.exePath = "/opt/vexo/vexo";
        options.trayAvailable = [] { return true; };
        options.exitProgram = [](int) {};
        options.saveDialog = [this](const std::string& proposed, bool textFormat) -> std::optional<std::string> {
            proposals.emplace_back(proposed, textFormat);
            if (saveAs.empty())
                return std::nullopt;
            return (home.Dir() / saveAs).string();
        };
        options.showFile = [this](const std::string& file) { shown.push_back(file); };
        window = std::make_unique<Tfmzunta>(options);
    }

    // Opens the chooser of the keyword (waiting for its companies to load) and returns it.
    Tfmselfiled* OpenChooser(const std::string& keyword) {
        window->ExportKeyword(keyword);
        Tfmselfiled* found = nullptr;
        EXPECT_TRUE(WaitFor([&] {
            for (Tfmselfiled* chooser : window->FieldChoosers())
                if (chooser->Keyword() == keyword && chooser->isVisible())
                    found = chooser;
            return found != nullptr;
        }));
        return found;
    }

    void Ok(Tfmselfiled* chooser) { QTest::mouseClick(chooser->findChild<QPushButton*>("Button2"), Qt::LeftButton); }

    TUiHome home;
    TScriptedAnswerer answers;
    std::unique_ptr<Tfmzunta> window;
    std::string saveAs;
    std::vector<std::pair<std::string, bool>> proposals;
    std::vector<std::string> shown;
};

// The export waits for the keyword's companies, runs through the save dialog and the questions, and writes the
// file the boxes describe; a second export to the same name asks before it replaces the file.
TEST_F(ExportFromWindow, LoadsChoosesSavesAndAsksBeforeReplacing) {
    auto* loading = window->findChild<QWidget*>("rcloading");
    // "导出资料" takes the input's keyword, untrimmed; an empty input is refused.
    window->findChild<QLineEdit*>("edtSearchKey")->clear();
    window->BitmapButton3Click();
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_EQ(answers.asked[0].text, "请先在左侧选择一个关键词！");
    EXPECT_EQ(answers.asked[0].kind, kBoxInformation);
    window->ExportKeyword("北京 不存在");
    EXPECT_TRUE(window->FieldChoosers().isEmpty());
    EXPECT_TRUE(loading->isHidden());

    // A keyword not loaded yet shows the overlay, then its chooser.
    window->findChild<QLineEdit*>("edtSearchKey")->setText(QString::fromUtf8(kGuangzhou));
    window->BitmapButton3Click();
    EXPECT_FALSE(loading->isHidden());
    EXPECT_TRUE(window->FieldChoosers().isEmpty());
    Tfmselfiled* chooser = OpenChooser(kGuangzhou);
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(loading->isHidden());
    EXPECT_EQ(window->CurrentKeyword(), kGuangzhou);

    // Quick selection "手机", text format: no header, one number a line, in GBK with CR LF.
    QTest::mouseClick(chooser->findChild<QLabel*>("Label4"), Qt::LeftButton);
    saveAs = "mobiles.txt";
    answers.Answer(kAnswerOk);  // open the folder
    Ok(chooser);
    ASSERT_EQ(proposals.size(), 1u);
    EXPECT_EQ(proposals[0], std::make_pair(std::string(kGuangzhou) + ".txt", true));
    EXPECT_EQ(ReadAll(home.Dir() / "mobiles.txt"), "13800138000\r\n13900139000\r\n13700137000\r\n");
    ASSERT_EQ(answers.asked.size(), 2u);
    EXPECT_EQ(answers.asked[1].text, "数据导出成功，是否打开文件保存目录？");
    EXPECT_EQ(answers.asked[1].kind, kBoxQuestion);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], (home.Dir() / "mobiles.txt").string());

    // The same name again: declining the overwrite question writes nothing; accepting replaces the file.
    chooser = OpenChooser(kGuangzhou);
    ASSERT_NE(chooser, nullptr);
    chooser->findChild<QCheckBox*>("chktxt")->click();  // text format, the initial fields
    answers.Answer(kAnswerCancel);
    Ok(chooser);
    ASSERT_EQ(answers.asked.size(), 3u);
    EXPECT_EQ(answers.asked[2].text, "文件已存在，是否覆盖？");
    EXPECT_EQ(ReadAll(home.Dir() / "mobiles.txt"), "13800138000\r\n13900139000\r\n13700137000\r\n");
    chooser = OpenChooser(kGuangzhou);
    chooser->findChild<QCheckBox*>("chktxt")->click();
    answers.Answer(kAnswerOk);      // replace
    answers.Answer(kAnswerCancel);  // do not open the folder
    Ok(chooser);
    ASSERT_EQ(answers.asked.size(), 5u);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(ReadAll(home.Dir() / "mobiles.txt"),
              Utf8ToGbk("公司名,手机,QQ,邮箱,网址\r\n"
                        "广州甲电子有限公司,13800138000,13900139000,,,http://www.example.com/\r\n"
                        "广州乙电子有限公司,13700137000,10001,,http://www.example.com/\r\n"));

    // The spreadsheet format proposes ".xls" and writes a worksheet stream; a cancelled dialog writes nothing.
    chooser = OpenChooser(kGuangzhou);
    saveAs.clear();
    Ok(chooser);
    EXPECT_EQ(proposals.back(), std::make_pair(std::string(kGuangzhou) + ".xls", false));
    EXPECT_EQ(answers.asked.size(), 5u);
    chooser = OpenChooser(kGuangzhou);
    saveAs = "sheet.xls";
    answers.Answer(kAnswerCancel);
    Ok(chooser);
    EXPECT_EQ(ReadAll(home.Dir() / "sheet.xls").substr(0, 4), std::string("\x09\x08\x08\x00", 4));

    // A keyword without companies fails with the message and no file.
    chooser = OpenChooser("空的 关键词");
    ASSERT_NE(chooser, nullptr);
    saveAs = "empty.txt";
    Ok(chooser);
    EXPECT_EQ(answers.asked.back().text, "数据导出失败！");
    EXPECT_EQ(answers.asked.back().kind, kBoxInformation);
    EXPECT_FALSE(std::filesystem::exists(home.Dir() / "empty.txt"));
    EXPECT_EQ(answers.Pending(), 0u);
}

// Several choosers at once; an export asked for while the keyword loads for the grid waits for the whole list and
// leaves the grid filled; exporting another keyword makes it current without refilling the grid, and "删除" on a
// row still deletes under the grid's keyword.
TEST_F(ExportFromWindow, ChoosersOfSeveralKeywordsAndTheGridKeepsItsKeyword) {
    window->ShowKeyword(kGuangzhou);
    window->ExportKeyword(kGuangzhou);  // the loader begun by the selection is still running
    EXPECT_TRUE(window->FieldChoosers().isEmpty());
    Tfmselfiled* first = OpenChooser(kGuangzhou);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(window->GridModel().rowCount(), 2);
    EXPECT_TRUE(window->findChild<QWidget*>("rcloading")->isHidden());

    Tfmselfiled* second = OpenChooser(kShanghai);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(window->FieldChoosers().size(), 2);
    EXPECT_EQ(window->CurrentKeyword(), kShanghai);
    EXPECT_EQ(window->GridModel().rowCount(), 2);
    EXPECT_EQ(window->GridModel().index(0, ColName).data().toString(), QStringLiteral("广州甲电子有限公司"));

    auto* grid = window->findChild<QTableView*>("dblist");
    grid->selectRow(0);
    answers.Answer(kAnswerOk);
    window->N5Click();
    ASSERT_TRUE(WaitFor([&] { return window->GridModel().rowCount() == 1; }));
    EXPECT_EQ(window->Store().GetCompanies(kGuangzhou)->size(), 1u);
    EXPECT_EQ(window->Store().GetCompanies(kShanghai)->size(), 1u);

    // Each chooser exports its own keyword.
    saveAs = "shanghai.txt";
    second->findChild<QCheckBox*>("chktxt")->click();
    QTest::mouseClick(second->findChild<QLabel*>("Label4"), Qt::LeftButton);
    answers.Answer(kAnswerCancel);
    Ok(second);
    EXPECT_EQ(ReadAll(home.Dir() / "shanghai.txt"), "13600136000\r\n");
    EXPECT_EQ(window->FieldChoosers().size(), 1);
    QTest::mouseClick(first->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return window->FieldChoosers().isEmpty(); }));
}

}  // namespace
}  // namespace vexo::test
