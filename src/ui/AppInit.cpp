#include "ui/AppInit.h"

#include <QApplication>
#include <clocale>
#include <memory>

#include "platform/Dispatcher.h"
#include "ui/QtDispatcher.h"

namespace vexo {

void InitGuiApplication() {
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    SetCurrentDispatcher(std::make_shared<TQtDispatcher>());
}

}  // namespace vexo
