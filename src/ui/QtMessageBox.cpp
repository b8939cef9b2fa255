#include "ui/QtMessageBox.h"

#include <QMessageBox>
#include <QPushButton>

#include "platform/MessageBox.h"
#include "ui/Pictures.h"

namespace vexo {

int QtShowMessageBox(const std::string& text, const std::string& caption, int kind) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
        case kBoxInformation:
            icon = QMessageBox::Information;
            break;
        case kBoxWarning:
            icon = QMessageBox::Warning;
            break;
        case kBoxError:
            icon = QMessageBox::Critical;
            break;
        case kBoxQuestion:
            icon = QMessageBox::Question;
            break;
        default:
            return 0;
    }
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::NoButton, nullptr,
                    Qt::Dialog | Qt::WindowStaysOnTopHint);
    box.setWindowIcon(AppIcon());
    box.setFont(UiFont(12));
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if (kind == kBoxQuestion) {
        cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    if (kind != kBoxQuestion)
        return 0;
    return box.clickedButton() == ok ? kAnswerOk : kAnswerCancel;
}

void InstallQtMessageBox() {
    SetMessageBoxHandler(&QtShowMessageBox);
}

}  // namespace vexo
