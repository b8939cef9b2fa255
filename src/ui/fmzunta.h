// Tfmzunta: the main window. Owns the keyword store, the results grid, the tray icon and the timers; the start-up
// steps run in its constructor in a fixed order (configuration file, store and its saved keywords, timers, remote
// configuration, caption, first-run launcher, install record).
//
// Closing: while the window is shown the title-bar close hides it into the tray (without a tray it asks the exit
// question, Cancel minimising); a close of the hidden window and the confirmed "退出" end the program.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "engine/CollectionEvents.h"
#include "engine/Notify.h"
#include "engine/TaskCtl.h"
#include "store/KeyListInfo.h"
#include "text/IniFile.h"
#include "ui/UpdateHooks.h"
#include "update/UpdateFiles.h"

namespace vexo {

class TGridModel;
class TKeyListModel;
class TKeyListView;
class Tfmcominfo;
class Tfmselfiled;
class Tfmupwin;
struct TExportChoice;
class TSpinner;


// What the window takes from its surroundings; tests replace the parts that touch the desktop or end the process.
struct TShellOptions {
    // Path of the program file; its name gives AppName. Empty: the running program's.
    std::string exePath;
    // Whether the desktop has a tray. Empty: asked of the desktop.
    std::function<bool()> trayAvailable;
    // Ends the process with the status. Empty: the program's exit path (workers told to end, dispatcher closed,
    // database closed, process ended).
    std::function<void(int)> exitProgram;
    // The remote configuration and version check. Empty: nothing is downloaded.
    std::shared_ptr<TUpdateHooks> updateHooks;
    // The export's save dialog: proposes the file name and returns the chosen one, nothing when cancelled.
    // Empty: the desktop's save dialog.
    std::function<std::optional<std::string>(const std::string& proposedName, bool textFormat)> saveDialog;
    // Shows the exported file in the file manager. Empty: the desktop's file manager.
    std::function<void(const std::string& fileName)> showFile;
};

class Tfmzunta final : public QWidget {
    Q_OBJECT
  public:
    // Runs the creation steps. Raises what the store raises when the database cannot be opened (EWriterLockHeld
    // while another program writes to it).
    explicit Tfmzunta(TShellOptions options = {});
    ~Tfmzunta() override;

    const std::string& AppName() const { return appName_; }
    const std::string& CurrentKeyword() const { return currentKeyword_; }
    bool CanExit() const { return canExit_; }
    TKeyListInfo& Store() { return *store_; }
    TIniFile& ClientConfig() { return *config_; }
    TGridModel& GridModel() { return *gridModel_; }
    TKeyListModel& KeyListModel() { return *keyListModel_; }
    // The open details window, if any.
    Tfmcominfo* ComInfo() const;
    // The update window, once an update has started.
    Tfmupwin* UpWin() const;

    // Brings the window back from the tray or a minimised state, in front of the others.
    void ShowFromTray();
    // "退出": asks, and ends the program unless the answer is Cancel.
    void N11Click();
    // The session ends (or the program is told to end): ends the program as "退出" does, without asking.
    void EndSession();

    // What selecting a keyword's item does: the keyword goes into the input and becomes current, its companies
    // are shown in the grid once loaded (the loading overlay shows meanwhile), the status band and the tip panel
    // say which keyword is selected and whether it is searching. Nothing for a keyword not in the store.
    void ShowKeyword(const std::string& keyword);

    // Replaces the grid's rows by the records; sets both count texts.
    void FillGrid(const TCompanyList& records);
    // Appends a row; unless bulk, refreshes the total count text.
    void AddGridRow(std::shared_ptr<TComPanyInfo> record, bool bulk);
    // "清空历史关键词": asks, then deletes every keyword with its companies and empties the list and the grid.
    void btnclearhisClick();

    // Task commands on a keyword (any letter case); a keyword the store does not know does nothing.
    // "添加任务" (and Enter in the input): adds the input's keyword, asks, and starts it unless answered Cancel.
    void btnbaidustartClick();
    // Starts (after loading the companies, if not loaded yet) or resumes the keyword's task with the ticked
    // engines; refused with a message when no engine is ticked.
    void StartKeyword(const std::string& keyword);
    void PauseKeyword(const std::string& keyword);
    void StopKeyword(const std::string& keyword, bool showStopping);
    // Asks, stops and deletes the keyword; false when answered Cancel.
    bool DeleteKeyword(const std::string& keyword);
    // A click on an item's button (tag 0 start/stop, 1 delete, 4 export).
    void ItemButtonClick(const std::string& keyword, int tag);
    // Opens the export field chooser for the keyword once its companies are in memory (the loading overlay shows
    // until then). Nothing for a keyword the store does not know.
    void ExportKeyword(const std::string& keyword);
    // "导出资料": exports the input's keyword.
    void BitmapButton3Click();
    // The save dialog, the overwrite question, the export and its messages.
    void RunExport(const std::string& keyword, const TExportChoice& choice);
    // The field choosers on screen.
    QList<Tfmselfiled*> FieldChoosers() const;
    // "删除" on the grid: deletes the selected company of the keyword the grid shows.
    void N5Click();
    // Opens (or refills) the details window for a grid row; a row without a record opens nothing.
    void dblistDblClick(int row);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildTopBand(QWidget* band);
    QWidget* BuildKeywordColumn();
    QWidget* BuildResultArea();
    QWidget* BuildStatusBand();
    void BuildTray();
    void FormCreate();
    void UpdateKeyListCount();
    void SetLoading(bool loading);
    // The exit question; false when answered with Cancel.
    bool ExitConfirmed() const;
    void ExitNow();

    // The store's events.
    void OnKeyAdded(TKeyData& entry);
    void OnCompanyStored(const std::string& keyword, const std::shared_ptr<TComPanyInfo>& record);
    void OnKeyLoaded(const std::string& keyword);
    // Workers' notifications (message 4035) and a collector's end.
    void OnNotification(const TNotification& notification);
    // What the window does with its collectors' notifications (made once).
    TCollectionEvents CollectionEvents();
    // Message 3043: the update window, its progress, the hand-over and a failed download.
    void OnUpdateNotification(const TNotification& notification);
    // The window as the workers see it, made at first use.
    const TWindowHandle& NotifyWindow();
    void OnEngineFinished(TTaskCtl& controller, int engine, std::int32_t page, const std::string& keyword);
    void SetItemLook(const std::string& keyword, const std::string& dateLine, bool enabled, const char* style);
    // A progress text of a keyword: into the tip panel for the current keyword, else remembered with the keyword.
    void ShowTaskText(const std::string& keyword, const std::string& text);
    void ShowKeyMenu(const QPoint& position);

    // The placeholder of the keyword input.
    void txtinfoClick();
    void edtSearchKeyExit();
    // The hint popup of the keyword items' delete and export buttons.
    void ShowButtonHint(const QRect& button, const QString& hint);

    void tmrupdateTimer();
    void tmrconfigTimer();

    TShellOptions options_;
    std::string exePath_;
    std::string appName_;
    bool canExit_ = false;
    bool exiting_ = false;
    bool trayAvailable_ = false;
    std::string currentKeyword_;
    std::unique_ptr<TIniFile> config_;
    std::unique_ptr<TKeyListInfo> store_;
    std::shared_ptr<TUpdateHooks> updateHooks_;

    // Top band.
    QFrame* keyBox_ = nullptr;
    QLabel* txtinfo_ = nullptr;
    QLineEdit* edtSearchKey_ = nullptr;
    QPushButton* btnbaidustart_ = nullptr;
    QPushButton* BitmapButton3_ = nullptr;
    QCheckBox* chkbd_ = nullptr;
    QCheckBox* chksg_ = nullptr;
    QCheckBox* chk360_ = nullptr;
    QLabel* txttiptitle_ = nullptr;
    QLabel* txttip_ = nullptr;
    // Middle band.
    QSplitter* splitter_ = nullptr;
    QPushButton* btnclearhis_ = nullptr;
    TKeyListView* listkey_ = nullptr;
    TKeyListModel* keyListModel_ = nullptr;
    QLabel* txtkeylist_ = nullptr;
    QTableView* dblist_ = nullptr;
    TGridModel* gridModel_ = nullptr;
    QLabel* imgbg_ = nullptr;
    QWidget* rcloading_ = nullptr;
    TSpinner* anload_ = nullptr;
    // Status band.
    QLabel* txtrel_ = nullptr;
    QLabel* txtstat_ = nullptr;
    // Hint popup, menus, tray, timers.
    QFrame* popbtn_ = nullptr;
    QLabel* txtbtn_ = nullptr;
    QMenu* pmkey_ = nullptr;
    QMenu* pmtask_ = nullptr;
    QMenu* pmkeylist_ = nullptr;
    QMenu* poptray_ = nullptr;
    QSystemTrayIcon* TrayIcon1_ = nullptr;
    QTimer* tmrconfig_ = nullptr;
    QTimer* tmrupdate_ = nullptr;

    QPointer<Tfmcominfo> comInfo_;
    QPointer<Tfmupwin> upWin_;

    // The keyword the grid was filled for; "删除" on a row and new companies use it.
    std::string gridKeyword_;
    // Reset first at destruction: released controllers and the workers' notifications outlive the window and
    // reach it only while this lives.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    TCollectionEvents collectionEvents_;
    // The window as the workers see it (NotifyWindow).
    TWindowHandle notifyWindow_;
    // Task controllers of keywords; a stopped one is handed to TTaskCtl::Release.
    std::map<TTaskCtl*, std::unique_ptr<TTaskCtl>> tasks_;
    // Keyword -> why its task was stopped by a company the database refused; shown again once the item is Idle
    // (every item look clears the status band).
    std::map<std::string, std::string> storeFailures_;
    // Keywords whose export waits for a load begun for another purpose.
    std::set<std::string> exportsWaiting_;
    // The keyword the open pmkey or pmtask menu acts on.
    std::string menuKeyword_;
    QAction* N6_ = nullptr;
    QAction* poppause_ = nullptr;
    QAction* popstop_ = nullptr;
};

}  // namespace vexo
