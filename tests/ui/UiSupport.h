// Helpers of the window tests: one QApplication on the offscreen platform with the GUI's dispatcher, a private
// desktop (HOME, settings, runtime folder) inside a temporary program folder, and a scripted answerer standing in
// for the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTest>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/MessageBox.h"
#include "support/TempHome.h"
#include "ui/AppInit.h"

namespace vexo::test {

// Generous: the machine may be loaded.
inline constexpr int kUiWaitMs = 30000;

// The application of the test program, made once; the environment must be set before (settings paths are read
// by Qt at first use).
inline QApplication& UiApp() {
    static int argc = 1;
    static char name[] = "vexo-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        InitGuiApplication();
        return created;
    }();
    return *app;
}

// A temporary program folder (VEXO_HOME) with a user's home inside: HOME, its Desktop folder, the settings and
// data folders and a private runtime folder all point into it.
class TUiHome {
  public:
    explicit TUiHome(bool withDesktop = true) {
        home_ = temp_.Dir() / "home";
        std::filesystem::create_directories(home_);
        if (withDesktop)
            std::filesystem::create_directories(home_ / "Desktop");
        const auto runtime = temp_.Dir() / "run";
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home_ / ".config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home_ / ".local/share").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        UiApp();
    }
    const std::filesystem::path& Dir() const { return temp_.Dir(); }
    const std::filesystem::path& Home() const { return home_; }
    std::filesystem::path Desktop() const { return home_ / "Desktop"; }
    std::filesystem::path Runtime() const { return temp_.Dir() / "run"; }
    std::filesystem::path Database() const { return temp_.DatabasePath(); }

  private:
    TTempHome temp_;
    std::filesystem::path home_;
};

// One message box as it was asked.
struct TAskedBox {
    std::string text;
    std::string caption;
    int kind = 0;
};

// Answers the message boxes from a script of answers, recording every box; a question without a scripted
// answer fails the test and answers Cancel.
class TScriptedAnswerer {
  public:
    TScriptedAnswerer() {
        previous_ = SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int kind) {
            asked.push_back({text, caption, kind});
            if (kind != kBoxQuestion)
                return 0;
            if (answers_.empty()) {
                ADD_FAILURE() << "unexpected question: " << text;
                return kAnswerCancel;
            }
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
    }
    ~TScriptedAnswerer() { SetMessageBoxHandler(std::move(previous_)); }
    TScriptedAnswerer(const TScriptedAnswerer&) = delete;
    TScriptedAnswerer& operator=(const TScriptedAnswerer&) = delete;

    void Answer(int answer) { answers_.push_back(answer); }
    std::size_t Pending() const { return answers_.size(); }

    std::vector<TAskedBox> asked;

  private:
    std::deque<int> answers_;
    TMessageBoxHandler previous_;
};

// Runs the event loop until the condition holds (true) or the generous limit passed (false).
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = kUiWaitMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace vexo::test
