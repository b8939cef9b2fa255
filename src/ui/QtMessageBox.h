// The GUI's message boxes behind ShowMessageBox (platform/MessageBox.h).
#pragma once

#include <string>

namespace vexo {

// A parentless message box that stays on top, with the buttons labelled "确定" and "取消"; Esc or the title
// bar's close on a question answers Cancel (2).
int QtShowMessageBox(const std::string& text, const std::string& caption, int kind);

// Makes QtShowMessageBox the implementation of ShowMessageBox.
void InstallQtMessageBox();

}  // namespace vexo
