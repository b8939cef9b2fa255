#include "ui/Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QCoreApplication>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include "ui/Pictures.h"

namespace vexo {

namespace {

// Escapes a value of the Desktop Entry "string" type (backslash, line breaks).
QString EscapeString(const QString& value) {
    QString out;
    for (QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else
            out += c;
    }
    return out;
}

// Copies the program's icon where the launcher can name it by path; empty when that fails.
QString InstallIcon(const QString& appName) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    const QString folder = base + QStringLiteral("/icons/hicolor/scalable/apps");
    if (!QDir().mkpath(folder))
        return {};
    const QString target = folder + QLatin1Char('/') + appName + QStringLiteral(".svg");
    QFile source(PicturePath(QStringLiteral("app")));
    QSaveFile file(target);
    if (!source.open(QIODevice::ReadOnly) || !file.open(QIODevice::WriteOnly))
        return {};
    file.write(source.readAll());
    return file.commit() ? target : QString();
}

}  // namespace

QString DesktopExecQuote(const QString& path) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    // The Exec key is itself a string value: its backslashes are escaped once more.
    return EscapeString(quoted);
}

bool CreateDesktopShortcut(const QString& appName, const QString& exePath) {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || !QFileInfo(desktop).isDir())
        return false;
    const QString icon = InstallIcon(appName);
    QString entry = QStringLiteral("[Desktop Entry]\nType=Application\n");
    entry += QStringLiteral("Name=") + EscapeString(appName) + QLatin1Char('\n');
    entry += QStringLiteral("Comment=") + EscapeString(appName) + QLatin1Char('\n');
    entry += QStringLiteral("Exec=") + DesktopExecQuote(exePath) + QLatin1Char('\n');
    entry += QStringLiteral("Path=") + EscapeString(QFileInfo(exePath).absolutePath()) + QLatin1Char('\n');
    if (!icon.isEmpty())
        entry += QStringLiteral("Icon=") + EscapeString(icon) + QLatin1Char('\n');
    entry += QStringLiteral("Terminal=false\n");

    QSaveFile file(QDir(desktop).filePath(appName + QStringLiteral(".desktop")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                        QFileDevice::ExeOther);
    return file.commit();
}

void RecordInstallPath(const QString& exePath) {
    QSettings settings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication));
    const QString key = QString::fromLatin1(kInstallKey);
    if (settings.value(key).toString() != exePath) {
        settings.setValue(key, exePath);
        settings.sync();  // a failure is ignored: the next start writes again
    }
}

QString SafeFileName(const QString& name) {
    QString safe = name;
    safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    safe.replace(QChar(0), QLatin1Char('_'));
    return safe;
}

std::optional<QString> RunSaveDialog(QWidget* parent, const QString& proposedName, bool textFormat) {
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("SaveDialog1"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("文本文件 (*.txt)"));
    dialog.setDefaultSuffix(textFormat ? QStringLiteral("txt") : QStringLiteral("xls"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(SafeFileName(proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void ShowFileInFileManager(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(absolute).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(absolute).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, QCoreApplication::instance(), [folder](QDBusPendingCallWatcher* done) {
        if (done->isError())
            QDesktopServices::openUrl(folder);
        done->deleteLater();
    });
}

}  // namespace vexo
