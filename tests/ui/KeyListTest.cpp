// The keyword list as a user meets it: items made from the stored keywords with their count and last update, the
// item look the task commands set, counts following stored companies, selecting an item, the painted buttons'
// clicks and hints.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "ui/GridModel.h"
#include "ui/KeyListModel.h"
#include "ui/KeyListView.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"

namespace vexo::test {
namespace {

TShellOptions QuietShell() {
    TShellOptions options;
    options.exePath = "/opt/vexo/vexo";
    options.trayAvailable = [] { return true; };
    options.exitProgram = [](int) {};
    return options;
}

TComPanyInfo Company(const std::string& name, const std::string& mobile) {
    TComPanyInfo record;
    record.SetComName(name);
    record.AddMobile(mobile);
    return record;
}

TEST(KeyList, LastUpdateIsTheStoredTimeWithoutTimeZone) {
    EXPECT_EQ(LastUpdateText(0), "最后更新：1970-01-01 00:00:00");
    EXPECT_EQ(LastUpdateText(951782400 + 3723), "最后更新：2000-02-29 01:02:03");
    EXPECT_EQ(LastUpdateText(-1), "最后更新：1969-12-31 23:59:59");
    // A damaged value is shown as the calendar's last second, not garbage.
    EXPECT_EQ(LastUpdateText(INT64_MAX), "最后更新：9999-12-31 23:59:59");
}

TEST(KeyList, ItemsFollowTheStoreAndTheirLookAndAnswerClicksAndHints) {
    TUiHome home;
    {
        TKeyListInfo store;
        store.AddKey("广州 电子公司", true);
        store.AddCompany("广州 电子公司", Company("广州甲电子有限公司", "13800138000"));
        store.AddKey("上海 网络公司", true);
    }
    TScriptedAnswerer answers;
    Tfmzunta window(QuietShell());
    // No engine ticked: a start is refused with a message, so no task reaches out to the network here.
    for (const char* engine : {"chkbd", "chksg", "chk360"})
        window.findChild<QCheckBox*>(engine)->setChecked(false);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TKeyListModel& items = window.KeyListModel();
    auto* view = window.findChild<TKeyListView*>("listkey");
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(items.rowCount(), 2);
    const QModelIndex first = items.index(0);
    EXPECT_EQ(first.data(TKeyListModel::TextRole).toString(), QStringLiteral("广州 电子公司"));
    EXPECT_EQ(first.data(TKeyListModel::CountRole).toString(), QStringLiteral("1条"));
    const TKeyData* entry = window.Store().FindKey("广州 电子公司");
    EXPECT_EQ(first.data(TKeyListModel::DateRole).toString().toStdString(), LastUpdateText(entry->AddDate));
    EXPECT_EQ(items.ItemStyle("广州 电子公司"), kStartStyle);
    EXPECT_EQ(view->visualRect(first).height(), kKeyItemHeight);

    // The looks the commands set, and a refresh back to the last update.
    items.SetItemLook("上海 网络公司", "正在停止任务...", false, kStopStyle);
    EXPECT_EQ(items.index(1).data(TKeyListModel::DateRole).toString(), QStringLiteral("正在停止任务..."));
    EXPECT_FALSE(items.index(1).data(TKeyListModel::EnabledRole).toBool());
    EXPECT_EQ(KeyItemButtonHint(kTagStartStop, QString::fromLatin1(kStopStyle)), QStringLiteral("停止搜索"));
    EXPECT_EQ(KeyItemButtonHint(kTagStartStop, QString::fromLatin1(kStartStyle)), QStringLiteral("开始搜索"));

    // A stored company refreshes its keyword's count.
    window.Store().AddCompany("上海 网络公司", Company("上海乙网络有限公司", "13900139000"));
    EXPECT_EQ(items.index(1).data(TKeyListModel::CountRole).toString(), QStringLiteral("1条"));

    // Clicks on the painted buttons report keyword and tag; a disabled start/stop button reports nothing.
    QSignalSpy clicks(view, &TKeyListView::ButtonClicked);
    const QRect firstItem = view->visualRect(first);
    const QRect secondItem = view->visualRect(items.index(1));
    answers.Answer(kAnswerCancel);  // the delete question
    for (int tag : {kTagStartStop, kTagDelete, kTagExport})
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, KeyItemButtonRect(tag, firstItem).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, KeyItemButtonRect(kTagStartStop, secondItem).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, KeyItemButtonRect(kTagExport, secondItem).center());
    ASSERT_EQ(clicks.size(), 4);
    const std::vector<std::pair<QString, int>> expected = {{QStringLiteral("广州 电子公司"), kTagStartStop},
                                                           {QStringLiteral("广州 电子公司"), kTagDelete},
                                                           {QStringLiteral("广州 电子公司"), kTagExport},
                                                           {QStringLiteral("上海 网络公司"), kTagExport}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(clicks[i][0].toString(), expected[i].first);
        EXPECT_EQ(clicks[i][1].toInt(), expected[i].second);
    }
    // The window acted on them: the start was refused for want of an engine, the delete asked and was cancelled.
    ASSERT_EQ(answers.asked.size(), 2u);
    EXPECT_EQ(answers.asked[0].kind, kBoxInformation);
    EXPECT_EQ(answers.asked[1].text, "确定要删除关键词 [广州 电子公司] 吗?");
    EXPECT_EQ(items.rowCount(), 2);
    EXPECT_EQ(items.ItemStyle("广州 电子公司"), kStartStyle);
    // A button click does not select the keyword.
    EXPECT_EQ(window.CurrentKeyword(), "");

    // The delete button's hint opens the popup, 12 pixels a character plus 15 wide; leaving closes it.
    auto* popup = window.findChild<QFrame*>("popbtn");
    QTest::mouseMove(view->viewport(), KeyItemButtonRect(kTagDelete, firstItem).center());
    ASSERT_TRUE(WaitFor([&] { return popup->isVisible(); }));
    EXPECT_EQ(window.findChild<QLabel*>("txtbtn")->text(), QStringLiteral("删除此关键词"));
    EXPECT_EQ(popup->width(), 12 * 6 + 15);
    QTest::mouseMove(view->viewport(), QPoint(firstItem.right() - 5, firstItem.top() + 5));
    ASSERT_TRUE(WaitFor([&] { return popup->isHidden(); }));

    // The item's context menu offers a start for an idle item, pause and stop for a running one.
    auto* menu = window.findChild<QMenu*>("pmkey");
    auto action = [&](const char* name) { return window.findChild<QAction*>(name); };
    emit view->customContextMenuRequested(firstItem.center());
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    EXPECT_TRUE(action("N6")->isVisible());
    EXPECT_FALSE(action("poppause")->isVisible());
    EXPECT_FALSE(action("popstop")->isVisible());
    menu->hide();
    items.SetItemLook("广州 电子公司", "x", true, kStopStyle);
    emit view->customContextMenuRequested(firstItem.center());
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    EXPECT_FALSE(action("N6")->isVisible());
    EXPECT_TRUE(action("poppause")->isVisible());
    EXPECT_TRUE(action("popstop")->isVisible());
    menu->hide();
    items.SetItemLook("广州 电子公司", "x", true, kStartStyle);

    // Clicking the item itself selects its keyword and shows its companies.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(firstItem.right() - 20, firstItem.top() + 10));
    EXPECT_EQ(window.CurrentKeyword(), "广州 电子公司");
    ASSERT_TRUE(WaitFor([&] { return window.GridModel().rowCount() == 1; }));
    EXPECT_EQ(window.findChild<QLabel*>("txtstat")->text(), QStringLiteral("当前已选择[广州 电子公司]"));

    // Clearing the history asks first; Cancel keeps everything, OK deletes every keyword and empties list and grid.
    answers.Answer(kAnswerCancel);
    window.findChild<QPushButton*>("btnclearhis")->click();
    ASSERT_EQ(answers.asked.size(), 3u);
    EXPECT_EQ(answers.asked[2].text, "清空会将所有搜索到的结果删除，确定要清空历史已搜索的历史记录吗？");
    EXPECT_EQ(items.rowCount(), 2);
    EXPECT_EQ(window.GridModel().rowCount(), 1);
    answers.Answer(kAnswerOk);
    window.findChild<QPushButton*>("btnclearhis")->click();
    EXPECT_EQ(items.rowCount(), 0);
    EXPECT_EQ(window.GridModel().rowCount(), 0);
    EXPECT_TRUE(window.Store().Keys().empty());
    EXPECT_EQ(RunSqlite(home.Database(), "SELECT COUNT(*) FROM tbl_key; SELECT COUNT(*) FROM tbl_list;"), "0\n0\n");

    // The list's own item operations.
    for (const char* keyword : {"广州 电子公司", "上海 网络公司"}) {
        TKeyData added;
        added.KeyStr = keyword;
        items.AddKeywordItem(added);
    }
    items.RemoveItem("广州 电子公司");
    ASSERT_EQ(items.rowCount(), 1);
    EXPECT_EQ(items.FindItem("上海 网络公司"), 0);
    EXPECT_EQ(items.FindItem("广州 电子公司"), -1);
    items.Clear();
    EXPECT_EQ(items.rowCount(), 0);
}

}  // namespace
}  // namespace vexo::test
