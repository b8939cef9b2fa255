// The real message boxes: parentless, on top, caption and button texts, and the answers (Esc on a question is
// Cancel); kinds outside 1 to 4 show nothing.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "platform/MessageBox.h"
#include "ui/QtMessageBox.h"
#include "ui/UiSupport.h"

namespace vexo::test {
namespace {

struct TSeenBox {
    QString caption;
    QString text;
    QStringList buttons;
    bool parentless = false;
    bool onTop = false;
};

// Shows a box through ShowMessageBox and acts on it once it is up; returns the answer.
int AskAndAct(int kind, const std::function<void(QMessageBox&)>& act, TSeenBox& seen) {
    seen = TSeenBox{};
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        poll.stop();
        seen.caption = box->windowTitle();
        seen.text = box->text();
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
        seen.parentless = box->parentWidget() == nullptr;
        seen.onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        act(*box);
    });
    poll.start();
    return ShowMessageBox("确定要退出[vexo]吗？", kMessageCaption, kind);
}

QAbstractButton* ButtonLabelled(QMessageBox& box, const QString& text) {
    for (QAbstractButton* button : box.buttons())
        if (button->text() == text)
            return button;
    return nullptr;
}

TEST(MessageBox, QuestionsAnswerOkOrCancelAndEscapeIsCancel) {
    UiApp();
    InstallQtMessageBox();
    TSeenBox seen;
    EXPECT_EQ(AskAndAct(
                  kBoxQuestion, [](QMessageBox& box) { ButtonLabelled(box, QStringLiteral("确定"))->click(); }, seen),
              kAnswerOk);
    EXPECT_EQ(seen.caption, QStringLiteral("提示"));
    EXPECT_EQ(seen.text, QStringLiteral("确定要退出[vexo]吗？"));
    EXPECT_TRUE(seen.buttons.contains(QStringLiteral("确定")));
    EXPECT_TRUE(seen.buttons.contains(QStringLiteral("取消")));
    EXPECT_TRUE(seen.parentless);
    EXPECT_TRUE(seen.onTop);

    EXPECT_EQ(AskAndAct(
                  kBoxQuestion, [](QMessageBox& box) { ButtonLabelled(box, QStringLiteral("取消"))->click(); }, seen),
              kAnswerCancel);
    EXPECT_EQ(AskAndAct(
                  kBoxQuestion, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, seen),
              kAnswerCancel);
    EXPECT_EQ(AskAndAct(
                  kBoxQuestion, [](QMessageBox& box) { box.close(); }, seen),
              kAnswerCancel);

    // An information box has one button and answers 0, also when closed with Esc.
    EXPECT_EQ(AskAndAct(
                  kBoxInformation, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, seen),
              0);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("确定")});
    EXPECT_EQ(AskAndAct(
                  kBoxError, [](QMessageBox& box) { ButtonLabelled(box, QStringLiteral("确定"))->click(); }, seen),
              0);
    SetMessageBoxHandler(nullptr);
}

TEST(MessageBox, OtherKindsShowNothingAndAnswersAreNormalised) {
    int shown = 0;
    int reply = 7;
    SetMessageBoxHandler([&](const std::string&, const std::string&, int) {
        ++shown;
        return reply;
    });
    EXPECT_EQ(ShowMessageBox("x", kMessageCaption, 0), 0);
    EXPECT_EQ(ShowMessageBox("x", kMessageCaption, 5), 0);
    EXPECT_EQ(shown, 0);
    // Whatever a handler returns, a notice answers 0 and a question OK or Cancel.
    EXPECT_EQ(ShowMessageBox("x", kMessageCaption, kBoxWarning), 0);
    EXPECT_EQ(ShowMessageBox("x", kMessageCaption, kBoxQuestion), kAnswerCancel);
    reply = kAnswerOk;
    EXPECT_EQ(ShowMessageBox("x", kMessageCaption, kBoxQuestion), kAnswerOk);
    EXPECT_EQ(shown, 3);
    // Without a handler nothing is shown and everything answers 0.
    SetMessageBoxHandler(nullptr);
    EXPECT_EQ(ShowMessageBox("x", kMessageCaption, kBoxQuestion), 0);
}

}  // namespace
}  // namespace vexo::test
