#include "ui/frmUpWin.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include "ui/Pictures.h"

namespace vexo {

Tfmupwin::Tfmupwin(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("fmupwin"));
    setWindowTitle(QStringLiteral("程序正在升级..."));
    setFont(UiFont(12));
    setFixedSize(kUpWinWidth, kUpWinHeight);
    Label1_ = new QLabel(QStringLiteral("正在升级中，请稍后..."), this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->move(32, 15);
    Label1_->adjustSize();
    pro1_ = new QProgressBar(this);
    pro1_->setObjectName(QStringLiteral("pro1"));
    pro1_->setRange(0, 100);
    pro1_->setValue(0);
    pro1_->setGeometry(32, 42, 361, 22);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tfmupwin::SetProgress(int percent) {
    pro1_->setValue(std::clamp(percent, 0, 100));
}

void Tfmupwin::DownloadFailed() {
    if (failed_)
        return;
    failed_ = true;
    const bool shown = isVisible();
    setWindowFlags((windowFlags() & ~Qt::WindowStaysOnTopHint) | Qt::WindowCloseButtonHint);
    if (shown)
        show();  // changing the flags hides the window
}

void Tfmupwin::closeEvent(QCloseEvent* event) {
    if (failed_)
        event->accept();
    else
        event->ignore();
}

void Tfmupwin::keyPressEvent(QKeyEvent* event) {
    // Escape must not close it either.
    if (event->key() == Qt::Key_Escape && !failed_)
        return;
    QWidget::keyPressEvent(event);
}

}  // namespace vexo
