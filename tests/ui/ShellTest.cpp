// The main window's shell driven as a user would: what the first and later starts leave on the desktop and in the
// configuration, hiding on close, the exit question answered both ways with and without a tray, the update
// timers, a second start of the real program reaching the running instance, and the end of the session.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocalServer>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "text/IniFile.h"
#include "store/WriterLock.h"
#include "ui/Desktop.h"
#include "ui/SingleInstance.h"
#include "ui/UiSupport.h"
#include "ui/fmzunta.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

QString InstallRecord() {
    QSettings settings(QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication));
    return settings.value(QString::fromLatin1(kInstallKey)).toString();
}

// Records what the window starts of the remote configuration and the version check.
struct TRecordingHooks : TUpdateHooks {
    int configStarts = 0;
    int configRetries = 0;
    std::vector<std::string> versionChecks;
    void StartRemoteConfig() override { ++configStarts; }
    void RemoteConfigRetry() override { ++configRetries; }
    void StartVersionCheck(const std::string& version) override { versionChecks.push_back(version); }
};

struct TShell {
    std::shared_ptr<TRecordingHooks> hooks = std::make_shared<TRecordingHooks>();
    std::vector<int> exits;
    std::unique_ptr<Tfmzunta> window;

    TShell(const fs::path& exe, bool tray) {
        TShellOptions options;
        options.exePath = exe.string();
        options.trayAvailable = [tray] { return tray; };
        options.exitProgram = [this](int status) { exits.push_back(status); };
        options.updateHooks = hooks;
        window = std::make_unique<Tfmzunta>(options);
    }
};

TEST(Shell, FirstStartWritesLauncherConfigAndInstallRecordInOrderLaterStartsLeaveThem) {
    TUiHome home;
    const fs::path exe = home.Dir() / "bin" / "vexo.beta.run";
    {
        TShell shell(exe, true);
        Tfmzunta& window = *shell.window;
        EXPECT_EQ(window.AppName(), "vexo.beta");
        EXPECT_EQ(window.windowTitle(), QStringLiteral("vexo.beta V2.0"));
        EXPECT_EQ(window.findChild<QSystemTrayIcon*>("TrayIcon1")->toolTip(), QStringLiteral("vexo.beta V2.0"));
        EXPECT_EQ(window.size(), QSize(1007, 647));

        // [config] first is set once the launcher exists.
        EXPECT_EQ(TIniFile((home.Dir() / "qzclient.cfg").string()).ReadString("config", "first", ""), "1");
        const fs::path launcher = home.Desktop() / "vexo.beta.desktop";
        ASSERT_TRUE(fs::exists(launcher));
        EXPECT_EQ(fs::status(launcher).permissions() & fs::perms::all, fs::perms(0755));
        const std::string entry = ReadFile(launcher);
        EXPECT_NE(entry.find("Exec=\"" + exe.string() + "\"\n"), std::string::npos) << entry;
        EXPECT_NE(entry.find("Path=" + exe.parent_path().string() + "\n"), std::string::npos) << entry;
        EXPECT_NE(entry.find("Terminal=false\n"), std::string::npos);
        const auto iconAt = entry.find("Icon=");
        ASSERT_NE(iconAt, std::string::npos);
        const std::string icon = entry.substr(iconAt + 5, entry.find('\n', iconAt) - iconAt - 5);
        EXPECT_NE(ReadFile(icon).find("<svg"), std::string::npos);
        EXPECT_EQ(InstallRecord(), QString::fromStdString(exe.string()));

        // Steps 7, 9 and 10: the version check waits 3 minutes, the configuration download started, its retry
        // timer off.
        auto* tmrupdate = window.findChild<QTimer*>("tmrupdate");
        auto* tmrconfig = window.findChild<QTimer*>("tmrconfig");
        ASSERT_TRUE(tmrupdate && tmrconfig);
        EXPECT_TRUE(tmrupdate->isActive());
        EXPECT_EQ(tmrupdate->interval(), 180000);
        EXPECT_FALSE(tmrconfig->isActive());
        EXPECT_EQ(tmrconfig->interval(), 1000);
        EXPECT_EQ(shell.hooks->configStarts, 1);
        // The version-check timer fires once and starts the check with the program's version.
        tmrupdate->start(1);
        ASSERT_TRUE(WaitFor([&] { return !shell.hooks->versionChecks.empty(); }));
        EXPECT_EQ(shell.hooks->versionChecks, std::vector<std::string>{"2.0"});
        EXPECT_FALSE(tmrupdate->isActive());
    }
    // Later start from another place: the deleted launcher stays deleted, the install record follows the program.
    fs::remove(home.Desktop() / "vexo.beta.desktop");
    const fs::path moved = home.Dir() / "elsewhere" / "vexo.beta.run";
    {
        TShell shell(moved, true);
        EXPECT_FALSE(fs::exists(home.Desktop() / "vexo.beta.desktop"));
        EXPECT_EQ(InstallRecord(), QString::fromStdString(moved.string()));
    }
}

TEST(Shell, WithoutDesktopFolderNoLauncherAndTheMarkStaysUnsetSoTheNextStartRetries) {
    TUiHome home(false);
    const fs::path exe = home.Dir() / "vexo";
    { TShell shell(exe, true); }
    EXPECT_FALSE(TIniFile((home.Dir() / "qzclient.cfg").string()).ValueExists("config", "first"));
    EXPECT_EQ(InstallRecord(), QString::fromStdString(exe.string()));
    fs::create_directories(home.Desktop());
    { TShell shell(exe, true); }
    EXPECT_TRUE(fs::exists(home.Desktop() / "vexo.desktop"));
    EXPECT_EQ(TIniFile((home.Dir() / "qzclient.cfg").string()).ReadString("config", "first", ""), "1");
}

TEST(Shell, LayoutHasTheNamedControlsAndTextsAndTheStoredKeywordsBeforeShowing) {
    TUiHome home;
    {
        TKeyListInfo store;
        store.AddKey("广州 电子公司", true);
        store.AddKey("上海 网络公司", true);
    }
    TShell shell(home.Dir() / "vexo", true);
    Tfmzunta& window = *shell.window;
    for (const char* name :
         {"txtinfo", "edtSearchKey", "btnbaidustart", "BitmapButton3", "chkbd",    "chksg",  "chk360",    "txttiptitle",
          "txttip",  "btnclearhis",  "listkey",       "txtkeylist",    "dblist",   "imgbg",  "rcloading", "anload",
          "txtrel",  "txtstat",      "popbtn",        "txtbtn",        "pmkey",    "pmtask", "pmkeylist", "TrayIcon1",
          "poptray", "N1",           "N11",           "tmrconfig",     "tmrupdate"}) {
        EXPECT_NE(window.findChild<QObject*>(name), nullptr) << name;
    }
    EXPECT_EQ(window.findChild<QLabel*>("txtinfo")->text(), QStringLiteral("在此处输入关键词添加任务"));
    EXPECT_EQ(window.findChild<QPushButton*>("btnbaidustart")->text(), QStringLiteral("添加任务"));
    EXPECT_EQ(window.findChild<QPushButton*>("btnbaidustart")->geometry(), QRect(362, 17, 87, 40));
    EXPECT_EQ(window.findChild<QPushButton*>("BitmapButton3")->text(), QStringLiteral("导出资料"));
    EXPECT_EQ(window.findChild<QPushButton*>("BitmapButton3")->geometry(), QRect(362, 71, 79, 25));
    EXPECT_EQ(window.findChild<QPushButton*>("btnclearhis")->text(), QStringLiteral("清空历史关键词"));
    for (auto [name, text] : {std::pair{"chkbd", "百度"}, std::pair{"chksg", "搜狗"}, std::pair{"chk360", "360"}}) {
        auto* box = window.findChild<QCheckBox*>(name);
        EXPECT_EQ(box->text(), QString::fromUtf8(text));
        EXPECT_TRUE(box->isChecked()) << name;
    }
    EXPECT_EQ(window.findChild<QLabel*>("txttiptitle")->text(), QStringLiteral("温馨提示："));
    EXPECT_EQ(window.findChild<QLabel*>("txttip")->text(),
              QStringLiteral("关键词可以是地区+产品，比如：广州 电子公司 或 上海 网络公司"));
    EXPECT_TRUE(window.findChild<QLineEdit*>("edtSearchKey")->isHidden());
    EXPECT_TRUE(window.findChild<QWidget*>("rcloading")->isHidden());
    EXPECT_FALSE(window.findChild<QWidget*>("imgbg")->isHidden());
    const auto tray = window.findChild<QMenu*>("poptray")->actions();
    ASSERT_EQ(tray.size(), 3);
    EXPECT_EQ(tray[0]->text(), QStringLiteral("显示界面"));
    EXPECT_TRUE(tray[1]->isSeparator());
    EXPECT_EQ(tray[2]->text(), QStringLiteral("退出"));
    EXPECT_EQ(window.findChild<QLabel*>("txtrel")->text(), QStringLiteral("当前已采集记录：0条"));
    // The saved keywords are listed, in id order, before the window first shows.
    auto* list = window.findChild<QListView*>("listkey");
    ASSERT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), QStringLiteral("广州 电子公司"));
    EXPECT_EQ(list->model()->index(1, 0).data().toString(), QStringLiteral("上海 网络公司"));
}

// The placeholder gives way to the input when clicked and comes back when the input is left empty.
TEST(Shell, KeywordPlaceholderSwitchesToTheInputAndBack) {
    TUiHome home;
    TShell shell(home.Dir() / "vexo", true);
    Tfmzunta& window = *shell.window;
    window.show();
    window.activateWindow();
    auto* placeholder = window.findChild<QLabel*>("txtinfo");
    auto* input = window.findChild<QLineEdit*>("edtSearchKey");
    auto* other = window.findChild<QCheckBox*>("chkbd");
    QTest::mouseClick(placeholder, Qt::LeftButton);
    EXPECT_TRUE(placeholder->isHidden());
    EXPECT_TRUE(input->isVisible());
    ASSERT_TRUE(WaitFor([&] { return input->hasFocus(); }));

    // Left empty: the placeholder returns.
    other->setFocus();
    ASSERT_TRUE(WaitFor([&] { return !input->hasFocus(); }));
    EXPECT_TRUE(input->isHidden());
    EXPECT_FALSE(placeholder->isHidden());

    // Left with text (a space counts): the input stays.
    QTest::mouseClick(placeholder, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return input->hasFocus(); }));
    QTest::keyClicks(input, QStringLiteral(" "));
    other->setFocus();
    ASSERT_TRUE(WaitFor([&] { return !input->hasFocus(); }));
    EXPECT_TRUE(input->isVisible());
    EXPECT_TRUE(placeholder->isHidden());
    EXPECT_EQ(input->text(), QStringLiteral(" "));
}

TEST(Shell, CloseHidesToTheTrayAndExitAsksFirst) {
    TUiHome home;
    TScriptedAnswerer answers;
    TShell shell(home.Dir() / "vexo.bin", true);
    Tfmzunta& window = *shell.window;
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
    EXPECT_FALSE(window.CanExit());

    // The title-bar close hides the window; the program goes on.
    window.close();
    EXPECT_TRUE(window.isHidden());
    EXPECT_TRUE(window.CanExit());
    EXPECT_TRUE(shell.exits.empty());
    EXPECT_TRUE(answers.asked.empty());

    // "显示界面" brings it back.
    window.findChild<QAction*>("N1")->trigger();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.CanExit());

    // "退出" answered with Cancel changes nothing.
    answers.Answer(kAnswerCancel);
    window.findChild<QAction*>("N11")->trigger();
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_EQ(answers.asked[0].text, "确定要退出[vexo]吗？");
    EXPECT_EQ(answers.asked[0].caption, "提示");
    EXPECT_EQ(answers.asked[0].kind, kBoxQuestion);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(shell.exits.empty());

    // Answered with OK, the program ends.
    answers.Answer(kAnswerOk);
    window.findChild<QAction*>("N11")->trigger();
    EXPECT_EQ(answers.asked.size(), 2u);
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

TEST(Shell, HiddenWindowGrantsACloseRequest) {
    TUiHome home;
    TScriptedAnswerer answers;
    TShell shell(home.Dir() / "vexo", true);
    shell.window->show();
    shell.window->hide();
    // As when the session ends while the window sits in the tray.
    EXPECT_TRUE(shell.window->close());
    EXPECT_EQ(shell.exits, std::vector<int>{0});
    EXPECT_TRUE(answers.asked.empty());
}

TEST(Shell, WithoutTrayCloseAsksTheExitQuestionAndCancelMinimises) {
    TUiHome home;
    TScriptedAnswerer answers;
    TShell shell(home.Dir() / "vexo", false);
    Tfmzunta& window = *shell.window;
    EXPECT_FALSE(window.findChild<QSystemTrayIcon*>("TrayIcon1")->isVisible());
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));

    answers.Answer(kAnswerCancel);
    window.close();
    ASSERT_EQ(answers.asked.size(), 1u);
    EXPECT_EQ(answers.asked[0].text, "确定要退出[vexo]吗？");
    EXPECT_TRUE(window.isMinimized());
    EXPECT_TRUE(shell.exits.empty());

    window.ShowFromTray();
    EXPECT_FALSE(window.isMinimized());
    answers.Answer(kAnswerOk);
    window.close();
    EXPECT_EQ(shell.exits, std::vector<int>{0});
}

// The real program started a second time for the same data folder reaches the running instance (here this test's
// window, hidden in the tray, with the instance check wired as the program wires it), which comes back to the front;
// the second process ends. For another data folder the program becomes an instance of its own.
TEST(Shell, SecondStartOfTheProgramBringsTheRunningWindowBackAndEnds) {
    TUiHome home;
    TSingleInstance first(QString::fromStdString(home.Dir().string()));
    ASSERT_TRUE(first.Acquire());
    TShell shell(home.Dir() / "vexo", true);
    Tfmzunta& window = *shell.window;
    int showRequests = 0;
    first.OnShowRequest = [&] {
        ++showRequests;
        window.ShowFromTray();
    };
    window.show();
    window.close();
    ASSERT_TRUE(window.isHidden());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(VEXO_GUI_PATH), {});
    ASSERT_TRUE(second.waitForStarted(kUiWaitMs));
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    // 0: it handed over; a second program opening the database would have been refused with 2.
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(showRequests, 1);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.CanExit());

    // Another data folder is another instance: it takes its own lock and opens its own database.
    const fs::path otherHome = home.Dir() / "other";
    fs::create_directories(otherHome);
    environment.insert(QStringLiteral("VEXO_HOME"), QString::fromStdString(otherHome.string()));
    QProcess other;
    other.setProcessEnvironment(environment);
    other.start(QStringLiteral(VEXO_GUI_PATH), {});
    ASSERT_TRUE(other.waitForStarted(kUiWaitMs));
    const fs::path otherLock =
        home.Runtime() /
        (TSingleInstance::ServerName(QString::fromStdString(otherHome.string())) + ".lock").toStdString();
    EXPECT_TRUE(WaitFor([&] { return fs::exists(otherHome / "Data" / "users") && fs::exists(otherLock); }));
    EXPECT_EQ(other.state(), QProcess::Running);
    EXPECT_EQ(showRequests, 1);

    // The session ending (SIGTERM) ends it the way "退出" does: a normal exit with the database closed and the
    // writer lock given back.
    other.terminate();
    ASSERT_TRUE(other.waitForFinished(kUiWaitMs));
    EXPECT_EQ(other.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(other.exitCode(), 0);
    EXPECT_EQ(RunSqlite(otherHome / "Data" / "users", "PRAGMA integrity_check;"), "ok\n");
    EXPECT_NO_THROW(TWriterLock((otherHome / "Data" / "users.lock").string()));
}

// The process id a lock file names (its first line), or 0.
qint64 LockOwner(const fs::path& lock) {
    std::ifstream in(lock);
    qint64 pid = 0;
    in >> pid;
    return pid;
}

// An instance killed without cleaning up leaves its socket and lock file; the next start takes over.
TEST(Shell, StartAfterACrashedInstanceTakesOver) {
    TUiHome home;
    const fs::path lock =
        home.Runtime() /
        (TSingleInstance::ServerName(QString::fromStdString(home.Dir().string())) + ".lock").toStdString();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    auto start = [&](QProcess& process) {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VEXO_GUI_PATH), {});
        return process.waitForStarted(kUiWaitMs);
    };
    QProcess crashed;
    ASSERT_TRUE(start(crashed));
    ASSERT_TRUE(WaitFor([&] { return LockOwner(lock) == crashed.processId(); }));
    crashed.kill();
    ASSERT_TRUE(crashed.waitForFinished(kUiWaitMs));
    ASSERT_TRUE(fs::exists(lock));

    QProcess next;
    ASSERT_TRUE(start(next));
    EXPECT_TRUE(WaitFor([&] { return LockOwner(lock) == next.processId(); }));
    // And it answers the start after it (exit 0: the request was handled).
    QProcess third;
    ASSERT_TRUE(start(third));
    ASSERT_TRUE(WaitFor([&] { return third.state() == QProcess::NotRunning; }));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_EQ(next.state(), QProcess::Running);
    next.kill();
    next.waitForFinished(kUiWaitMs);
}

TEST(Shell, LauncherExecQuotesReservedCharacters) {
    EXPECT_EQ(DesktopExecQuote(QStringLiteral("/opt/vexo/vexo")), QStringLiteral("\"/opt/vexo/vexo\""));
    // Inside quotes " ` $ \ take a backslash, % is doubled, and the string escaping doubles every backslash.
    EXPECT_EQ(DesktopExecQuote(QStringLiteral("/a b/$x\"`%\\v")),
              QStringLiteral("\"/a b/\\\\$x\\\\\"\\\\`%%\\\\\\\\v\""));
}

}  // namespace
}  // namespace vexo::test
