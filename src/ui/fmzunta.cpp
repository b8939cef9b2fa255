#include "ui/fmzunta.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <filesystem>

#include "engine/CollectionEvents.h"
#include "engine/Hosts.h"
#include "platform/Dispatcher.h"
#include "platform/MessageBox.h"
#include "platform/Shutdown.h"
#include "platform/WorkerThread.h"
#include "text/CaseFold.h"
#include "text/Global.h"
#include "ui/Desktop.h"
#include "ui/GridCells.h"
#include "ui/GridDelegate.h"
#include "ui/GridModel.h"
#include "ui/KeyListModel.h"
#include "ui/KeyListView.h"
#include "ui/Pictures.h"
#include "ui/Spinner.h"
#include "ui/frmComInfo.h"
#include "ui/frmSelFiled.h"
#include "ui/frmUpWin.h"
#include "ui/ServiceUpdateHooks.h"
#include "store/Export.h"

namespace vexo {

namespace {

constexpr QSize kClientSize(1007, 647);
// The smallest outer size is 1023 x 627; without the frame (8 pixels a side, a 30-pixel title) that is the
// client size below.
constexpr QSize kMinimumClientSize(1007, 589);
constexpr int kTopBandHeight = 105;
constexpr int kStatusBandHeight = 32;
constexpr int kKeywordColumnWidth = 240;
constexpr int kSplitterWidth = 5;
constexpr int kSplitterMinSize = 20;
constexpr int kResultHeaderHeight = 33;
constexpr int kStatusCountWidth = 245;
constexpr int kConfigRetryMs = 1000;
constexpr int kVersionCheckDelayMs = 180000;

constexpr const char* kPlaceholder = "在此处输入关键词添加任务";
constexpr const char* kTipTitle = "温馨提示：";
constexpr const char* kTipText = "关键词可以是地区+产品，比如：广州 电子公司 或 上海 网络公司";
constexpr const char* kLoadingText = "正在加载数据，请稍后...";
// The tip panel after a keyword was selected: idle, or searching with the keyword's last status text.
constexpr const char* kTipTitleIdle = "温馨提示";
constexpr const char* kTipTitleRunning = "正在搜索";
constexpr const char* kTipRunning = "正在搜索中...";
constexpr const char* kEmptyKeyword = "关键词不能为空！";
constexpr const char* kSelectKeywordFirst = "请先在左侧选择一个关键词！";
constexpr const char* kFileExists = "文件已存在，是否覆盖？";
constexpr const char* kExportFailed = "数据导出失败！";
constexpr const char* kExportDone = "数据导出成功，是否打开文件保存目录？";
constexpr const char* kTaskAdded = "任务已添加成功：\r\n      点[确定]按钮立即搜索 \r\n      点[取消]继续添加任务";
constexpr const char* kNoEngine = "请至少选择一个信息来源（百度、搜狗、360）！";
constexpr const char* kPausedLine = "任务已暂停...";
constexpr const char* kStoppingLine = "正在停止任务...";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
QString Q(const char* text) {
    return QString::fromUtf8(text);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(Q(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const QRect& geometry) {
    auto* button = new QPushButton(Q(text), parent);
    button->setObjectName(Q(name));
    button->setGeometry(geometry);
    button->setFont(UiFont(13, true));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

}  // namespace

Tfmzunta::Tfmzunta(TShellOptions options) : QWidget(nullptr), options_(std::move(options)) {
    setObjectName(QStringLiteral("fmzunta"));
    setWindowIcon(AppIcon());
    setFont(UiFont(12));

    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("topband"));
    top->setFixedHeight(kTopBandHeight);
    BuildTopBand(top);
    body->addWidget(top);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("splitter"));
    splitter_->setHandleWidth(kSplitterWidth);
    splitter_->setChildrenCollapsible(false);
    QWidget* keywordColumn = BuildKeywordColumn();
    QWidget* resultArea = BuildResultArea();
    keywordColumn->setMinimumWidth(kSplitterMinSize);
    resultArea->setMinimumWidth(kSplitterMinSize);
    splitter_->addWidget(keywordColumn);
    splitter_->addWidget(resultArea);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({kKeywordColumnWidth, kClientSize.width() - kKeywordColumnWidth - kSplitterWidth});
    body->addWidget(splitter_, 1);
    body->addWidget(BuildStatusBand());

    // The hint popup of the keyword items' buttons.
    popbtn_ = new QFrame(this, Qt::ToolTip);
    popbtn_->setObjectName(QStringLiteral("popbtn"));
    txtbtn_ = MakeLabel(popbtn_, "txtbtn", QString(), UiFont(12));
    popbtn_->setStyleSheet(
        QStringLiteral("#popbtn { background: #fffdf2; border: 1px solid #c9b97a; border-radius: 4px; }"));
    auto* hintLayout = new QHBoxLayout(popbtn_);
    hintLayout->setContentsMargins(6, 2, 6, 2);
    hintLayout->addWidget(txtbtn_);
    popbtn_->hide();

    auto addAction = [](QMenu* menu, const char* name, const char* text) {
        QAction* action = menu->addAction(Q(text));
        action->setObjectName(Q(name));
        return action;
    };
    pmkey_ = new QMenu(this);
    pmkey_->setObjectName(QStringLiteral("pmkey"));
    N6_ = addAction(pmkey_, "N6", "开始搜索");
    connect(N6_, &QAction::triggered, this, [this] { ItemButtonClick(menuKeyword_, kTagStartStop); });
    poppause_ = addAction(pmkey_, "poppause", "暂停任务");
    connect(poppause_, &QAction::triggered, this, [this] { PauseKeyword(menuKeyword_); });
    popstop_ = addAction(pmkey_, "popstop", "停止任务");
    connect(popstop_, &QAction::triggered, this, [this] { StopKeyword(menuKeyword_, true); });
    QAction* N7 = addAction(pmkey_, "N7", "删除关键词");
    connect(N7, &QAction::triggered, this, [this] { ItemButtonClick(menuKeyword_, kTagDelete); });
    QAction* N10 = addAction(pmkey_, "N10", "将结果导出到文件");
    connect(N10, &QAction::triggered, this, [this] { ItemButtonClick(menuKeyword_, kTagExport); });
    pmtask_ = new QMenu(this);
    pmtask_->setObjectName(QStringLiteral("pmtask"));
    connect(addAction(pmtask_, "N3", "暂停任务"), &QAction::triggered, this, [this] { PauseKeyword(menuKeyword_); });
    connect(addAction(pmtask_, "N4", "停止任务"), &QAction::triggered, this,
            [this] { StopKeyword(menuKeyword_, true); });
    pmkeylist_ = new QMenu(this);
    pmkeylist_->setObjectName(QStringLiteral("pmkeylist"));
    connect(addAction(pmkeylist_, "N5", "删除"), &QAction::triggered, this, &Tfmzunta::N5Click);
    connect(dblist_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { pmkeylist_->popup(dblist_->viewport()->mapToGlobal(position)); });
    listkey_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(listkey_, &QWidget::customContextMenuRequested, this, &Tfmzunta::ShowKeyMenu);
    connect(listkey_, &TKeyListView::ButtonClicked, this,
            [this](const QString& keyword, int tag) { ItemButtonClick(keyword.toStdString(), tag); });
    connect(btnbaidustart_, &QPushButton::clicked, this, &Tfmzunta::btnbaidustartClick);
    BuildTray();

    tmrconfig_ = new QTimer(this);
    tmrconfig_->setObjectName(QStringLiteral("tmrconfig"));
    tmrconfig_->setInterval(kConfigRetryMs);
    connect(tmrconfig_, &QTimer::timeout, this, &Tfmzunta::tmrconfigTimer);
    tmrupdate_ = new QTimer(this);
    tmrupdate_->setObjectName(QStringLiteral("tmrupdate"));
    tmrupdate_->setInterval(kVersionCheckDelayMs);
    connect(tmrupdate_, &QTimer::timeout, this, &Tfmzunta::tmrupdateTimer);

    resize(kClientSize);
    setMinimumSize(kMinimumClientSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), kClientSize);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    collectionEvents_ = CollectionEvents();
    FormCreate();
}

Tfmzunta::~Tfmzunta() {
    alive_.reset();
    // Running tasks end with the window; their collectors report no more.
    tasks_.clear();
    if (comInfo_)
        delete comInfo_.data();
    // The store closes the database; a loader still running keeps it until it ends.
    store_.reset();
}

void Tfmzunta::BuildTopBand(QWidget* band) {
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(0, 0, 18, 0);
    auto* left = new QWidget(band);
    left->setFixedSize(470, kTopBandHeight);
    row->addWidget(left);
    row->addStretch(1);

    keyBox_ = new QFrame(left);
    keyBox_->setObjectName(QStringLiteral("keybox"));
    keyBox_->setGeometry(18, 17, 335, 40);
    keyBox_->setStyleSheet(
        QStringLiteral("#keybox { background: #ffffff; border: 1px solid #9fb7d6; border-radius: 3px; }"));
    txtinfo_ = MakeLabel(keyBox_, "txtinfo", Q(kPlaceholder), UiFont(16, true));
    txtinfo_->setGeometry(10, 1, 323, 38);
    txtinfo_->setStyleSheet(QStringLiteral("color: #9a9a9a;"));
    edtSearchKey_ = new QLineEdit(keyBox_);
    edtSearchKey_->setObjectName(QStringLiteral("edtSearchKey"));
    QFont inputFont = UiFont(19, true);
    inputFont.setFamilies(QStringList{QStringLiteral("宋体")} + inputFont.families());
    edtSearchKey_->setFont(inputFont);
    edtSearchKey_->setFrame(false);
    edtSearchKey_->setGeometry(8, 4, 319, 32);
    edtSearchKey_->hide();
    txtinfo_->setCursor(Qt::IBeamCursor);
    txtinfo_->installEventFilter(this);
    edtSearchKey_->installEventFilter(this);

    btnbaidustart_ = MakeButton(left, "btnbaidustart", "添加任务", QRect(362, 17, 87, 40));
    // Enter in the input adds the task as the button does.
    connect(edtSearchKey_, &QLineEdit::returnPressed, btnbaidustart_, &QPushButton::click);
    BitmapButton3_ = MakeButton(left, "BitmapButton3", "导出资料", QRect(362, 71, 79, 25));
    BitmapButton3_->setFont(UiFont(12));
    BitmapButton3_->setIcon(QIcon(Picture(QStringLiteral("export"), QSize(16, 16), devicePixelRatioF())));
    connect(BitmapButton3_, &QPushButton::clicked, this, &Tfmzunta::BitmapButton3Click);

    auto* source = MakeLabel(left, "lblsource", QStringLiteral("信息来源："), UiFont(12, true));
    source->setGeometry(18, 73, 72, 20);
    int x = 90;
    for (auto [member, name, text] : {std::tuple{&chkbd_, "chkbd", "百度"}, std::tuple{&chksg_, "chksg", "搜狗"},
                                      std::tuple{&chk360_, "chk360", "360"}}) {
        auto* box = new QCheckBox(Q(text), left);
        box->setObjectName(Q(name));
        box->setFont(UiFont(12));
        box->setChecked(true);
        box->setGeometry(x, 73, 60, 20);
        *member = box;
        x += 64;
    }

    auto* tip = new QFrame(band);
    tip->setObjectName(QStringLiteral("tippanel"));
    tip->setFixedSize(313, 81);
    tip->setStyleSheet(QStringLiteral("#tippanel { background: rgba(255, 255, 255, 179); border-radius: 8px; }"));
    auto* shadow = new QGraphicsDropShadowEffect(tip);
    shadow->setBlurRadius(10);
    shadow->setOffset(2, 2);
    shadow->setColor(QColor(0, 0, 0, 90));
    tip->setGraphicsEffect(shadow);
    txttiptitle_ = MakeLabel(tip, "txttiptitle", Q(kTipTitle), UiFont(16, true));
    txttiptitle_->setStyleSheet(QStringLiteral("color: #8b1a1a;"));
    txttiptitle_->setGeometry(12, 8, 289, 22);
    txttip_ = MakeLabel(tip, "txttip", Q(kTipText), UiFont(12, true));
    txttip_->setStyleSheet(QStringLiteral("color: #4a4a4a;"));
    txttip_->setWordWrap(true);
    txttip_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txttip_->setGeometry(12, 33, 289, 42);
    row->addWidget(tip, 0, Qt::AlignVCenter);
}

QWidget* Tfmzunta::BuildKeywordColumn() {
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("keywordcolumn"));
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(8, 0, 0, 0);
    layout->setSpacing(4);
    auto* header = new QHBoxLayout;
    header->addWidget(MakeLabel(column, "lblkeywords", QStringLiteral("已搜索关键词"), UiFont(14, true)));
    header->addStretch(1);
    btnclearhis_ = new QPushButton(QStringLiteral("清空历史关键词"), column);
    btnclearhis_->setObjectName(QStringLiteral("btnclearhis"));
    btnclearhis_->setFixedSize(108, 25);
    btnclearhis_->setFont(UiFont(12));
    connect(btnclearhis_, &QPushButton::clicked, this, &Tfmzunta::btnclearhisClick);
    header->addWidget(btnclearhis_);
    layout->addLayout(header);

    keyListModel_ = new TKeyListModel(this);
    listkey_ = new TKeyListView(column);
    listkey_->setObjectName(QStringLiteral("listkey"));
    listkey_->setModel(keyListModel_);
    connect(listkey_, &QListView::clicked, this, [this](const QModelIndex& index) {
        ShowKeyword(index.data(TKeyListModel::TextRole).toString().toStdString());
    });
    connect(listkey_, &TKeyListView::HintEntered, this, &Tfmzunta::ShowButtonHint);
    connect(listkey_, &TKeyListView::HintLeft, this, [this] { popbtn_->hide(); });
    layout->addWidget(listkey_, 1);
    return column;
}

QWidget* Tfmzunta::BuildResultArea() {
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("resultarea"));
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 8, 0);
    layout->setSpacing(0);
    txtkeylist_ = MakeLabel(area, "txtkeylist", QString(), UiFont(16, true));
    txtkeylist_->setFixedHeight(kResultHeaderHeight);
    txtkeylist_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(txtkeylist_);

    auto* gridArea = new QWidget(area);
    auto* stack = new QGridLayout(gridArea);
    stack->setContentsMargins(0, 0, 0, 0);
    gridModel_ = new TGridModel(this);
    dblist_ = new QTableView(gridArea);
    dblist_->setObjectName(QStringLiteral("dblist"));
    dblist_->setProperty("styleName", QStringLiteral("gridstyle"));
    dblist_->setModel(gridModel_);
    dblist_->setItemDelegate(new TGridDelegate(dblist_));
    dblist_->setAlternatingRowColors(true);
    dblist_->setShowGrid(false);
    dblist_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dblist_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dblist_->setSelectionMode(QAbstractItemView::SingleSelection);
    dblist_->setWordWrap(false);
    dblist_->setTextElideMode(Qt::ElideRight);
    dblist_->setContextMenuPolicy(Qt::CustomContextMenu);
    dblist_->verticalHeader()->hide();
    dblist_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    dblist_->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    dblist_->horizontalHeader()->setHighlightSections(false);
    dblist_->horizontalHeader()->setStretchLastSection(false);
    for (int column = 0; column < GridColumnCount; ++column)
        dblist_->setColumnWidth(column, kGridColumnWidths[column]);
    dblist_->setStyleSheet(QStringLiteral("QTableView { outline: 0; } QTableView::item:focus { border: none; }"));
    connect(dblist_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { dblistDblClick(index.row()); });
    stack->addWidget(dblist_, 0, 0);

    imgbg_ = new QLabel(gridArea);
    imgbg_->setObjectName(QStringLiteral("imgbg"));
    imgbg_->setAlignment(Qt::AlignCenter);
    imgbg_->setStyleSheet(QStringLiteral("#imgbg { background: #ffffff; border: 1px solid #d4dde9; }"));
    imgbg_->setPixmap(Picture(QStringLiteral("background"), QSize(480, 320), devicePixelRatioF()));
    stack->addWidget(imgbg_, 0, 0);

    rcloading_ = new QWidget(gridArea);
    rcloading_->setObjectName(QStringLiteral("rcloading"));
    rcloading_->setAttribute(Qt::WA_StyledBackground);
    rcloading_->setStyleSheet(QStringLiteral("#rcloading { background: rgba(255, 255, 255, 128); }"));
    auto* loading = new QVBoxLayout(rcloading_);
    loading->addStretch(1);
    anload_ = new TSpinner(rcloading_);
    anload_->setObjectName(QStringLiteral("anload"));
    loading->addWidget(anload_, 0, Qt::AlignHCenter);
    auto* loadingText = MakeLabel(rcloading_, "txtloading", Q(kLoadingText), UiFont(14, true));
    loadingText->setAlignment(Qt::AlignCenter);
    loading->addWidget(loadingText);
    loading->addStretch(1);
    stack->addWidget(rcloading_, 0, 0);
    rcloading_->hide();

    layout->addWidget(gridArea, 1);
    return area;
}

QWidget* Tfmzunta::BuildStatusBand() {
    auto* band = new QWidget(this);
    band->setObjectName(QStringLiteral("statusband"));
    band->setFixedHeight(kStatusBandHeight);
    auto* row = new QHBoxLayout(band);
    row->setContentsMargins(8, 0, 8, 0);
    txtrel_ = MakeLabel(band, "txtrel", QString(), UiFont(12));
    txtrel_->setFixedWidth(kStatusCountWidth);
    txtstat_ = MakeLabel(band, "txtstat", QString(), UiFont(12));
    txtstat_->setWordWrap(false);
    txtstat_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(txtrel_);
    row->addWidget(txtstat_, 1);
    return band;
}

void Tfmzunta::BuildTray() {
    poptray_ = new QMenu(this);
    poptray_->setObjectName(QStringLiteral("poptray"));
    QAction* show = poptray_->addAction(QStringLiteral("显示界面"));
    show->setObjectName(QStringLiteral("N1"));
    connect(show, &QAction::triggered, this, &Tfmzunta::ShowFromTray);
    poptray_->addSeparator();
    QAction* quit = poptray_->addAction(QStringLiteral("退出"));
    quit->setObjectName(QStringLiteral("N11"));
    connect(quit, &QAction::triggered, this, &Tfmzunta::N11Click);

    TrayIcon1_ = new QSystemTrayIcon(AppIcon(), this);
    TrayIcon1_->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1_->setContextMenu(poptray_);
    // A single click acts as the double click: some trays deliver only one of them.
    connect(TrayIcon1_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            ShowFromTray();
    });
}

void Tfmzunta::FormCreate() {
    canExit_ = false;
    exePath_ = options_.exePath.empty() ? QCoreApplication::applicationFilePath().toStdString() : options_.exePath;
    appName_ = TextBeforeLast(QFileInfo(Q(exePath_)).fileName().toStdString(), '.');
    config_ = std::make_unique<TIniFile>(ClientConfigPath());
    gridModel_->Clear();

    store_ = std::make_unique<TKeyListInfo>();
    store_->OnKeyAdded = [this](TKeyListInfo&, TKeyData& entry) { OnKeyAdded(entry); };
    store_->OnCompanyStored = [this](TKeyListInfo&, const std::string& keyword,
                                     const std::shared_ptr<TComPanyInfo>& record) { OnCompanyStored(keyword, record); };
    store_->OnKeyLoaded = [this](TKeyListInfo&, const std::string& keyword) { OnKeyLoaded(keyword); };
    store_->LoadKeys();

    tmrupdate_->start();
    // The collectors' request gates and site-thread lists are process-wide objects of the engine: nothing to make.
    if (options_.updateHooks) {
        updateHooks_ = options_.updateHooks;
    } else {
        TUpdateWindowHooks hooks;
        hooks.StopVersionCheck = [this] { tmrupdate_->stop(); };
        hooks.HideTray = [this] { TrayIcon1_->hide(); };
        if (options_.exitProgram) {
            // Whoever replaced the exit (the tests) also decides what ending the program means here.
            hooks.GiveUp = [this] { options_.exitProgram(1); };
            hooks.EndProgram = [this](const std::string&) { options_.exitProgram(0); };
        } else {
            // The hand-over ends the program's other instances at once and this one as "退出" does, so the
            // database is closed before the updater replaces the files.
            hooks.EndProgram = [this](const std::string& programPath) {
                KillProcessByName(programPath, false);
                EndSession();
            };
        }
        // The program's own folder, where the update is unpacked: the folder of the program file.
        const std::string programDir = QFileInfo(Q(exePath_)).absolutePath().toStdString() + "/";
        updateHooks_ = std::make_shared<TServiceUpdateHooks>(LoadHosts(*config_), NotifyWindow(), std::move(hooks),
                                                             programDir);
    }
    updateHooks_->StartRemoteConfig();
    tmrconfig_->stop();

    const QString caption = Q(appName_) + QStringLiteral(" V") + Q(std::string(kProgramVersion));
    setWindowTitle(caption);
    TrayIcon1_->setToolTip(caption);
    trayAvailable_ = options_.trayAvailable ? options_.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    TrayIcon1_->setVisible(trayAvailable_);

    if (!config_->ReadBool("config", "first", false)) {
        // Without a desktop folder the mark stays unset, so a later start tries again.
        if (CreateDesktopShortcut(Q(appName_), Q(exePath_)))
            config_->WriteString("config", "first", "1");
    }
    RecordInstallPath(Q(exePath_));
}

Tfmcominfo* Tfmzunta::ComInfo() const {
    return comInfo_.data();
}

void Tfmzunta::ShowFromTray() {
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

bool Tfmzunta::ExitConfirmed() const {
    return ShowMessageBox("确定要退出[" + appName_ + "]吗？", kMessageCaption, kBoxQuestion) != kAnswerCancel;
}

void Tfmzunta::N11Click() {
    if (!ExitConfirmed())
        return;
    canExit_ = true;
    close();
}

void Tfmzunta::closeEvent(QCloseEvent* event) {
    if (!canExit_) {
        event->ignore();
        if (trayAvailable_) {
            hide();
            return;
        }
        // Without a tray a hidden window could not be found again: ask the exit question instead.
        if (!ExitConfirmed()) {
            showMinimized();
            return;
        }
        canExit_ = true;
    }
    event->accept();
    ExitNow();
}

void Tfmzunta::showEvent(QShowEvent* event) {
    canExit_ = false;
    QWidget::showEvent(event);
}

void Tfmzunta::hideEvent(QHideEvent* event) {
    // Minimising hides nothing: only a window withdrawn to the tray may be closed without asking.
    if (!isMinimized())
        canExit_ = true;
    QWidget::hideEvent(event);
}

void Tfmzunta::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0.0, QColor(0xdc, 0xea, 0xf8));
    gradient.setColorAt(static_cast<qreal>(kTopBandHeight) / qMax(1, height()), QColor(0xf3, 0xf7, 0xfc));
    gradient.setColorAt(1.0, QColor(0xe9, 0xef, 0xf6));
    painter.fillRect(rect(), gradient);
}

bool Tfmzunta::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtinfo_ && event->type() == QEvent::MouseButtonPress) {
        txtinfoClick();
        return true;
    }
    if (watched == edtSearchKey_) {
        if (event->type() == QEvent::FocusIn)
            txtinfo_->hide();
        else if (event->type() == QEvent::FocusOut)
            edtSearchKeyExit();
    }
    return QWidget::eventFilter(watched, event);
}

void Tfmzunta::txtinfoClick() {
    txtinfo_->hide();
    edtSearchKey_->show();
    edtSearchKey_->setFocus(Qt::MouseFocusReason);
}

void Tfmzunta::edtSearchKeyExit() {
    // Only an input left truly empty gives way to the placeholder; spaces count as text here.
    if (edtSearchKey_->text().isEmpty()) {
        edtSearchKey_->hide();
        txtinfo_->show();
    }
}

void Tfmzunta::EndSession() {
    canExit_ = true;
    ExitNow();
}

void Tfmzunta::ExitNow() {
    if (exiting_)
        return;
    exiting_ = true;
    if (options_.exitProgram) {
        options_.exitProgram(0);
        return;
    }
    // Workers are told to end and nothing they send runs any more; the store closes the database; the process
    // then ends after at most ExitProgram's short wait, whatever collectors still run.
    TerminateAllWorkers();
    if (auto dispatcher = CurrentDispatcher())
        dispatcher->Close();
    store_.reset();
    ExitProgram(0);
}

void Tfmzunta::ShowKeyword(const std::string& keyword) {
    TKeyData* entry = store_->FindKey(keyword);
    if (entry == nullptr)
        return;
    gridModel_->Clear();
    gridKeyword_ = entry->KeyStr;
    edtSearchKey_->setText(Q(entry->KeyStr));
    edtSearchKey_->show();
    txtinfo_->hide();
    imgbg_->hide();
    SetLoading(true);
    currentKeyword_ = entry->KeyStr;
    const bool running = entry->TaskCtl != nullptr;
    const std::string statusText = entry->StatusText;
    txtstat_->setText(Q("当前已选择[" + currentKeyword_ + "]"));
    txttiptitle_->setText(Q(running ? kTipTitleRunning : kTipTitleIdle));
    txttip_->setText(Q(!running ? kTipText : statusText.empty() ? kTipRunning : statusText.c_str()));
    // Raises OnKeyLoaded at once when the companies are in memory, which may end this window's use of `entry`.
    store_->LoadCompanies(currentKeyword_);
}

void Tfmzunta::SetLoading(bool loading) {
    rcloading_->setVisible(loading);
    if (loading)
        rcloading_->raise();
}

void Tfmzunta::FillGrid(const TCompanyList& records) {
    imgbg_->hide();
    gridModel_->Fill(records);
    txtrel_->setText(Q(TotalCountText(store_->TotalCount())));
    UpdateKeyListCount();
}

void Tfmzunta::AddGridRow(std::shared_ptr<TComPanyInfo> record, bool bulk) {
    gridModel_->Append(std::move(record));
    if (!bulk)
        txtrel_->setText(Q(TotalCountText(store_->TotalCount())));
}

void Tfmzunta::UpdateKeyListCount() {
    txtkeylist_->setText(Q(RecordCountText(gridModel_->rowCount())));
}

void Tfmzunta::btnclearhisClick() {
    if (ShowMessageBox("清空会将所有搜索到的结果删除，确定要清空历史已搜索的历史记录吗？", kMessageCaption,
                       kBoxQuestion) == kAnswerCancel)
        return;
    // A failed statement leaves rows behind; the entries and items go all the same, as the store reports them.
    store_->ClearAll();
    exportsWaiting_.clear();
    keyListModel_->Clear();
    gridModel_->Clear();
}

void Tfmzunta::dblistDblClick(int row) {
    if (row < 0)
        return;
    const auto record = gridModel_->Record(row);
    if (!record)
        return;
    if (!comInfo_)
        comInfo_ = new Tfmcominfo(this);
    comInfo_->ShowCompany(*record);
    comInfo_->show();
    comInfo_->raise();
}

void Tfmzunta::OnKeyAdded(TKeyData& entry) {
    // A new keyword empties the grid; the current keyword stays.
    gridModel_->Clear();
    keyListModel_->AddKeywordItem(entry);
    txtrel_->setText(Q(TotalCountText(store_->TotalCount())));
}

void Tfmzunta::ShowButtonHint(const QRect& button, const QString& hint) {
    // As wide as the hint needs at 12 pixels a character, just below the button.
    txtbtn_->setText(hint);
    popbtn_->setFixedWidth(12 * static_cast<int>(hint.size()) + 15);
    popbtn_->move(button.left(), button.bottom() + 2);
    popbtn_->show();
}

void Tfmzunta::OnCompanyStored(const std::string& keyword, const std::shared_ptr<TComPanyInfo>& record) {
    if (const TKeyData* entry = store_->FindKey(keyword))
        keyListModel_->RefreshItem(*entry);
    if (gridKeyword_.empty() || !SameIgnoringCase(keyword, gridKeyword_))
        return;
    AddGridRow(record, false);
    UpdateKeyListCount();
}

void Tfmzunta::OnKeyLoaded(const std::string& keyword) {
    currentKeyword_ = keyword;
    const auto companies = store_->GetCompanies(keyword);
    if (!companies)
        return;
    SetLoading(false);
    switch (store_->TakePendingPurpose(keyword)) {
        case PurposeShow:
            gridKeyword_ = keyword;
            FillGrid(*companies);
            break;
        case PurposeStart:
            gridKeyword_ = keyword;
            FillGrid(*companies);
            StartKeyword(keyword);
            break;
        case PurposeExport:
            exportsWaiting_.erase(keyword);
            ExportKeyword(keyword);
            break;
        default:
            break;
    }
    // An export asked for while the keyword was loading for another purpose.
    if (exportsWaiting_.erase(keyword) > 0)
        ExportKeyword(keyword);
}

void Tfmzunta::BitmapButton3Click() {
    const std::string keyword = edtSearchKey_->text().toStdString();
    if (keyword.empty()) {
        ShowMessageBox(kSelectKeywordFirst, kMessageCaption, kBoxInformation);
        return;
    }
    ExportKeyword(keyword);
}

void Tfmzunta::ExportKeyword(const std::string& keyword) {
    if (!store_->FindKey(keyword))
        return;
    TKeyData* entry = store_->RequestKeyData(keyword, PurposeExport);
    if (!entry) {
        SetLoading(true);  // loading; OnKeyLoaded opens the chooser
        return;
    }
    if (entry->LoaderRunning) {
        // A load begun for another purpose is still appending: the export waits for the whole list.
        exportsWaiting_.insert(entry->KeyStr);  // OnKeyLoaded names the keyword as stored
        SetLoading(true);
        return;
    }
    auto* chooser = new Tfmselfiled(this, entry->KeyStr, [this](const std::string& chosen, const TExportChoice& choice) {
        RunExport(chosen, choice);
    });
    chooser->show();
}

QList<Tfmselfiled*> Tfmzunta::FieldChoosers() const {
    QList<Tfmselfiled*> open;
    for (Tfmselfiled* chooser : findChildren<Tfmselfiled*>(QString(), Qt::FindDirectChildrenOnly))
        if (chooser->isVisible())
            open.append(chooser);
    return open;
}

void Tfmzunta::RunExport(const std::string& keyword, const TExportChoice& choice) {
    const std::string proposed =
        SafeFileName(Q(keyword + (choice.TextFormat ? ".txt" : ".xls"))).toStdString();
    std::optional<std::string> chosen;
    if (options_.saveDialog) {
        chosen = options_.saveDialog(proposed, choice.TextFormat);
    } else if (auto picked = RunSaveDialog(this, Q(proposed), choice.TextFormat)) {
        chosen = picked->toStdString();
    }
    if (!chosen || chosen->empty())
        return;
    std::error_code error;
    if (std::filesystem::exists(*chosen, error) &&
        ShowMessageBox(kFileExists, kMessageCaption, kBoxQuestion) == kAnswerCancel)
        return;
    // The keyword's list may have been deleted meanwhile: the export then fails like one of no companies.
    if (!store_->ExportKey(keyword, *chosen, choice) || !std::filesystem::exists(*chosen, error)) {
        ShowMessageBox(kExportFailed, kMessageCaption, kBoxInformation);
        return;
    }
    if (ShowMessageBox(kExportDone, kMessageCaption, kBoxQuestion) == kAnswerCancel)
        return;
    if (options_.showFile)
        options_.showFile(*chosen);
    else
        ShowFileInFileManager(Q(*chosen));
}

void Tfmzunta::tmrupdateTimer() {
    tmrupdate_->stop();
    updateHooks_->StartVersionCheck(std::string(kProgramVersion));
}

void Tfmzunta::tmrconfigTimer() {
    updateHooks_->RemoteConfigRetry();
}

void Tfmzunta::btnbaidustartClick() {
    const std::string keyword(Trim(edtSearchKey_->text().toStdString()));
    if (keyword.empty()) {
        ShowMessageBox(kEmptyKeyword, kMessageCaption, kBoxInformation);
        if (edtSearchKey_->isVisible())
            edtSearchKey_->setFocus();
        return;
    }
    imgbg_->hide();
    // A known keyword keeps its entry and item.
    if (store_->AddKey(keyword, true) == nullptr)
        return;
    if (ShowMessageBox(kTaskAdded, kMessageCaption, kBoxQuestion) != kAnswerCancel)
        StartKeyword(keyword);
}

void Tfmzunta::StartKeyword(const std::string& keyword) {
    if (store_->FindKey(keyword) == nullptr)
        return;
    // Without an engine no collector would start and no end would ever return the item to Idle.
    if (!chkbd_->isChecked() && !chksg_->isChecked() && !chk360_->isChecked()) {
        ShowMessageBox(kNoEngine, kMessageCaption, kBoxInformation);
        return;
    }
    TKeyData* entry = store_->RequestKeyData(keyword, PurposeStart);
    if (entry == nullptr)
        return;  // loading; OnKeyLoaded starts it
    const std::string key = entry->KeyStr;
    TTaskCtl* controller = entry->TaskCtl;
    if (controller == nullptr || !controller->IsRunning()) {
        if (controller == nullptr) {
            auto created = std::make_unique<TTaskCtl>(chkbd_->isChecked(), key, NotifyWindow(), chk360_->isChecked(),
                                                      chksg_->isChecked());
            const THosts hosts = LoadHosts(*config_);
            created->BaiduSettings = {hosts.Baidu, hosts.Icp};
            created->SogouSettings = {hosts.Sogou, hosts.Icp};
            created->So360Settings = {hosts.So360, hosts.Icp};
            controller = created.get();
            tasks_[controller] = std::move(created);
            entry->TaskCtl = controller;
        }
        controller->Baidu = chkbd_->isChecked();
        controller->Sogou = chksg_->isChecked();
        controller->So360 = chk360_->isChecked();
        controller->BaiduStartPage = entry->LastPage;
        controller->SogouStartPage = entry->SgLastPage;
        controller->So360StartPage = entry->S360LastPage;
        controller->OnTaskEnd = [this, alive = std::weak_ptr<int>(alive_)](TTaskCtl& ended, int engine,
                                                                           std::int32_t page, const std::string& name) {
            if (!alive.expired())
                OnEngineFinished(ended, engine, page, name);
        };
        controller->Start();
    } else {
        controller->Resume();
    }
    SetItemLook(key, LastUpdateText(entry->AddDate), true, kStopStyle);
}

void Tfmzunta::PauseKeyword(const std::string& keyword) {
    if (keyword.empty())
        return;
    TKeyData* entry = store_->RequestKeyData(keyword, PurposeStart);
    if (entry == nullptr || entry->TaskCtl == nullptr)
        return;
    entry->TaskCtl->Pause();
    SetItemLook(entry->KeyStr, kPausedLine, true, kStartStyle);
}

void Tfmzunta::StopKeyword(const std::string& keyword, bool showStopping) {
    if (keyword.empty())
        return;
    TKeyData* entry = store_->RequestKeyData(keyword, PurposeQuery);
    if (entry == nullptr || entry->TaskCtl == nullptr)
        return;
    TTaskCtl* controller = std::exchange(entry->TaskCtl, nullptr);
    controller->Stop();
    const bool ending = controller->LiveCollectorCount() > 0;
    if (showStopping) {
        // Stopping until the first collector's end; with none left to end, Idle at once.
        if (ending)
            SetItemLook(entry->KeyStr, kStoppingLine, false, kStopStyle);
        else
            SetItemLook(entry->KeyStr, LastUpdateText(entry->AddDate), true, kStartStyle);
    }
    if (auto owned = tasks_.find(controller); owned != tasks_.end()) {
        std::unique_ptr<TTaskCtl> released = std::move(owned->second);
        tasks_.erase(owned);
        // Freed once its last collector has ended; their ends still reach OnEngineFinished.
        TTaskCtl::Release(std::move(released));
    }
}

bool Tfmzunta::DeleteKeyword(const std::string& keyword) {
    if (ShowMessageBox("确定要删除关键词 [" + keyword + "] 吗?", kMessageCaption, kBoxQuestion) == kAnswerCancel)
        return false;
    StopKeyword(keyword, true);
    if (const TKeyData* entry = store_->FindKey(keyword))
        exportsWaiting_.erase(entry->KeyStr);
    store_->DeleteKey(keyword);
    return true;
}

void Tfmzunta::ItemButtonClick(const std::string& keyword, int tag) {
    switch (tag) {
        case kTagStartStop:
            if (keyListModel_->ItemStyle(keyword) == kStartStyle) {
                StartKeyword(keyword);
            } else {
                menuKeyword_ = keyword;
                pmtask_->popup(QCursor::pos());
            }
            break;
        case kTagDelete:
            if (DeleteKeyword(keyword))
                keyListModel_->RemoveItem(keyword);
            break;
        case kTagExport:
            ExportKeyword(keyword);
            break;
        default:
            break;
    }
}

void Tfmzunta::ShowKeyMenu(const QPoint& position) {
    const QModelIndex index = listkey_->indexAt(position);
    if (!index.isValid())
        return;
    menuKeyword_ = index.data(TKeyListModel::TextRole).toString().toStdString();
    const bool startOffered = keyListModel_->ItemStyle(menuKeyword_) == kStartStyle;
    N6_->setVisible(startOffered);
    poppause_->setVisible(!startOffered);
    popstop_->setVisible(!startOffered);
    pmkey_->popup(listkey_->viewport()->mapToGlobal(position));
}

void Tfmzunta::N5Click() {
    const QModelIndexList selected = dblist_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    // Held while the question is open: the grid may change under it.
    const std::shared_ptr<TComPanyInfo> record = gridModel_->Record(selected.first().row());
    if (!record)
        return;
    const std::string keyword = gridKeyword_;
    if (ShowMessageBox("确定要删除 [" + record->GetComName() + "]？", kMessageCaption, kBoxQuestion) == kAnswerCancel)
        return;
    if (record->ListID.empty())
        return;
    store_->DeleteCompany(keyword, record->ListID);
    if (const TKeyData* entry = store_->FindKey(keyword))
        keyListModel_->RefreshItem(*entry);
    store_->LoadCompanies(keyword);
}

void Tfmzunta::SetItemLook(const std::string& keyword, const std::string& dateLine, bool enabled, const char* style) {
    keyListModel_->SetItemLook(keyword, dateLine, enabled, style);
    txtstat_->clear();
}

void Tfmzunta::ShowTaskText(const std::string& keyword, const std::string& text) {
    if (!currentKeyword_.empty() && SameIgnoringCase(keyword, currentKeyword_))
        txttip_->setText(Q(text));
    else
        store_->SetKeyStatus(keyword, text);
}

const TWindowHandle& Tfmzunta::NotifyWindow() {
    if (!notifyWindow_) {
        notifyWindow_ = std::make_shared<TNotifyWindow>(
            CurrentDispatcher(), [this, alive = std::weak_ptr<int>(alive_)](const TNotification& notification) {
                if (!alive.expired())
                    OnNotification(notification);
            });
    }
    return notifyWindow_;
}

Tfmupwin* Tfmzunta::UpWin() const {
    return upWin_.data();
}

void Tfmzunta::OnUpdateNotification(const TNotification& notification) {
    switch (notification.WParam) {
        case kUpdateShowWindow:
            if (!upWin_)
                upWin_ = new Tfmupwin(this);
            upWin_->show();
            break;
        case kUpdateProgress:
            if (const auto* percent = std::get_if<std::intptr_t>(&notification.LParam); percent && upWin_)
                upWin_->SetProgress(static_cast<int>(*percent));
            break;
        case kUpdateHandOver:
            // On success the program ends inside; otherwise it keeps running as after a failed download.
            if (!updateHooks_->HandOver() && upWin_)
                upWin_->DownloadFailed();
            break;
        case 0:
        case -1:
            // The program package failed: nothing more happens until the next start.
            if (upWin_)
                upWin_->DownloadFailed();
            break;
        default:
            break;
    }
}

TCollectionEvents Tfmzunta::CollectionEvents() {
    TCollectionEvents events;
    events.CompanyTaken = [this](const TComPanyInfo& record) {
        ShowTaskText(record.Keyword, "获取[" + record.GetComName() + "]获取成功！");
    };
    events.CompanyLost = [this](const TComPanyInfo& record, const std::string& error) {
        // Stopping keeps the cursor where the store held it back, so the next start collects the company again.
        const std::string text =
            "[" + record.GetComName() + "]保存失败（" + error + "），任务已停止，下次开始时将重新采集";
        const std::string keyword = record.Keyword;
        StopKeyword(keyword, true);
        txtstat_->setText(Q(text));
        if (const TKeyData* entry = store_->FindKey(keyword))
            storeFailures_[entry->KeyStr] = text;
    };
    events.Status = [this](const TCaiJiInfo& info) { ShowTaskText(info.keyword, info.message); };
    events.IdlePages = [this](const std::string& keyword) { StopKeyword(keyword, true); };
    events.StatusLine = [this](const std::string& text) { txtstat_->setText(Q(text)); };
    return events;
}

void Tfmzunta::OnNotification(const TNotification& notification) {
    if (notification.Message == kMsgUpdate) {
        OnUpdateNotification(notification);
        return;
    }
    HandleCollectionNotification(*store_, notification, collectionEvents_);
}

void Tfmzunta::OnEngineFinished(TTaskCtl&, int engine, std::int32_t page, const std::string& keyword) {
    // Idle only once the keyword has no task with collectors still listed: one engine ending early leaves the
    // others' Running look; a stopped task (no controller any more) becomes Idle at its first collector's end.
    if (const TKeyData* entry = store_->FindKey(keyword)) {
        if (entry->TaskCtl == nullptr || !entry->TaskCtl->IsRunning()) {
            SetItemLook(entry->KeyStr, LastUpdateText(entry->AddDate), true, kStartStyle);
            if (auto failure = storeFailures_.find(entry->KeyStr); failure != storeFailures_.end()) {
                txtstat_->setText(Q(failure->second));
                storeFailures_.erase(failure);
            }
        }
    }
    store_->SaveEngineCursor(keyword, page, engine);
}

}  // namespace vexo
