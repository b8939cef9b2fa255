// vexo: the desktop program. One instance per user and data folder; the main window lives until "退出".
#include <QApplication>
#include <exception>
#include <memory>
#include <string>

#include "net/HttpClient.h"
#include "platform/MessageBox.h"
#include "platform/Shutdown.h"
#include "store/WriterLock.h"
#include "text/Global.h"
#include "ui/AppInit.h"
#include "ui/QtMessageBox.h"
#include "ui/SessionEnd.h"
#include "ui/SingleInstance.h"
#include "ui/fmzunta.h"

int main(int argc, char** argv) {
    vexo::InitNetwork();  // before any thread starts
    QApplication app(argc, argv);
    vexo::InitGuiApplication();
    vexo::InstallQtMessageBox();

    std::unique_ptr<vexo::Tfmzunta> window;
    // From here on the end of the session is an ordinary exit (before the window exists there is nothing to close).
    vexo::TSessionEnd sessionEnd([&window] {
        if (window)
            window->EndSession();
        else
            vexo::ExitProgram(0);
    });

    vexo::TSingleInstance instance(QString::fromStdString(vexo::AppDir()));
    // Another instance runs: it has been brought to the front (exit 0), or it did not answer in time (exit 1).
    if (!instance.Acquire())
        vexo::ExitProgram(instance.HandedOver() ? 0 : 1);

    try {
        window = std::make_unique<vexo::Tfmzunta>();
    } catch (const vexo::EWriterLockHeld&) {
        vexo::ShowMessageBox("另一个程序正在使用数据库（Data/users），请先关闭它。", vexo::kMessageCaption,
                             vexo::kBoxError);
        vexo::ExitProgram(2);
    } catch (const std::exception& error) {
        vexo::ShowMessageBox(std::string("无法打开数据库：") + error.what(), vexo::kMessageCaption, vexo::kBoxError);
        vexo::ExitProgram(2);
    }
    instance.OnShowRequest = [&window] { window->ShowFromTray(); };
    window->show();
    const int status = QApplication::exec();
    vexo::ExitProgram(status);
}
