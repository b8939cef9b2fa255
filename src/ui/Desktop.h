// First-run and every-run desktop steps: the launcher on the user's desktop and the record of where the program
// is installed.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace vexo {

// Writes the freedesktop launcher `appName`.desktop (mode 0755) into the user's desktop folder, starting the
// program at `exePath` in its own folder, with the program's icon. False when there is no desktop folder or the
// file cannot be written; nothing is left behind then.
bool CreateDesktopShortcut(const QString& appName, const QString& exePath);

// The Exec= value that starts exactly `path`: quoted, with the characters the Desktop Entry rules reserve
// escaped, and "%" doubled.
QString DesktopExecQuote(const QString& path);

// Stores `exePath` as "install" under the settings of talvoren/vexo unless it is stored already. Failures are
// ignored.
void RecordInstallPath(const QString& exePath);

// The export's save dialog: the filter "文本文件 (*.txt)", the proposed name with "/" and NUL replaced by "_", the
// default suffix "txt" or "xls" by format, and no overwrite question of its own (the caller asks). Nothing when
// cancelled.
std::optional<QString> RunSaveDialog(QWidget* parent, const QString& proposedName, bool textFormat);

// The proposed file name as a save dialog can take it: "/" and NUL become "_".
QString SafeFileName(const QString& name);

// Opens the file manager on the file's folder with the file selected (the desktop's FileManager1 service), or,
// when no file manager answers that call, opens the folder. Never waits for the file manager.
void ShowFileInFileManager(const QString& path);

// Settings organisation and application of the install record.
inline constexpr const char* kSettingsOrganization = "talvoren";
inline constexpr const char* kSettingsApplication = "vexo";
inline constexpr const char* kInstallKey = "install";

}  // namespace vexo
