// What the desktop program sets up right after making its QApplication, shared with the window tests so they run
// the window under the same conditions.
#pragma once

namespace vexo {

// Numbers convert the C way again (Qt applies the user's locale to C number conversion, so under a comma-decimal
// locale "2.01" would read as 2), closing the last window does not end the program (a message box closed while the
// main window sits in the tray), and the Qt dispatcher becomes the current one. Call on the UI thread.
void InitGuiApplication();

}  // namespace vexo
