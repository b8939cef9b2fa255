// User messages and OK/Cancel questions. The program installs the implementation (the GUI shows a message box,
// tests install a scripted answerer); without one nothing is shown and every kind returns 0.
#pragma once

#include <functional>
#include <string>

namespace vexo {

// Kinds of ShowMessageBox: information, warning and error show an OK button and return 0; a question shows OK
// and Cancel and returns the button pressed. Any other kind shows nothing and returns 0.
inline constexpr int kBoxInformation = 1;
inline constexpr int kBoxWarning = 2;
inline constexpr int kBoxError = 3;
inline constexpr int kBoxQuestion = 4;
// Answers of a question.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;

// The caption of every message of the program.
inline constexpr const char* kMessageCaption = "提示";

using TMessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, int kind)>;

// Shows the message (UI thread only) and returns the button pressed as described above.
int ShowMessageBox(const std::string& text, const std::string& caption, int kind);

// Replaces the implementation; returns the previous one. An empty handler shows nothing.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);

}  // namespace vexo
