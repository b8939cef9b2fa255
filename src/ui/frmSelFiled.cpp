#include "ui/frmSelFiled.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include "ui/Pictures.h"

namespace vexo {

namespace {

constexpr QSize kButtonSize(75, 25);
constexpr const char* kLinkStyle = "color: #0000ff; text-decoration: underline;";

}  // namespace

Tfmselfiled::Tfmselfiled(QWidget* mainWindow, std::string keyword, TRunExport runExport)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      keyword_(std::move(keyword)),
      runExport_(std::move(runExport)) {
    setObjectName(QStringLiteral("fmselfiled"));
    setWindowTitle(QStringLiteral("导出字段选择"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFont(UiFont(12));
    setFixedSize(kSelFiledWidth, kSelFiledHeight);

    Label1_ = AddLabel("Label1", QStringLiteral("请选择需要导出的字段："), 8, 14);
    Label2_ = AddLabel("Label2", QStringLiteral("快速选择："), 10, 39);
    Label2_->setStyleSheet(QStringLiteral("color: #0000ff;"));
    Label4_ = AddLabel("Label4", QStringLiteral("手机"), 82, 39);
    Label3_ = AddLabel("Label3", QStringLiteral("QQ"), 121, 39);
    Label5_ = AddLabel("Label5", QStringLiteral("邮箱"), 152, 39);
    Label6_ = AddLabel("Label6", QStringLiteral("全选"), 191, 39);
    for (QLabel* link : {Label4_, Label3_, Label5_, Label6_}) {
        link->setStyleSheet(QString::fromLatin1(kLinkStyle));
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }

    chkcompany_ = AddBox("chkcompany", QStringLiteral("公司名"), 27, 82);
    chkmob_ = AddBox("chkmob", QStringLiteral("手机"), 116, 82);
    chktel_ = AddBox("chktel", QStringLiteral("QQ"), 191, 82);
    chkemail_ = AddBox("chkemail", QStringLiteral("EMail邮箱"), 27, 118);
    chkurl_ = AddBox("chkurl", QStringLiteral("网址"), 116, 118);
    chkaddr_ = AddBox("chkaddr", QStringLiteral("地址"), 196, 52);
    chkaddr_->hide();
    chktxt_ = AddBox("chktxt", QStringLiteral("txt格式"), 27, 161, true);
    chktxt_->setChecked(false);
    chkexecl_ = AddBox("chkexecl", QStringLiteral("Excel格式"), 116, 161, true);
    connect(chktxt_, &QCheckBox::clicked, this, &Tfmselfiled::chktxtClick);
    connect(chkexecl_, &QCheckBox::clicked, this, &Tfmselfiled::chkexeclClick);

    Button2_ = new QPushButton(QStringLiteral("确 定"), this);
    Button2_->setObjectName(QStringLiteral("Button2"));
    Button2_->setGeometry(QRect(QPoint(25, 200), kButtonSize));
    Button2_->setDefault(true);
    connect(Button2_, &QPushButton::clicked, this, &Tfmselfiled::qClick);
    Button1_ = new QPushButton(QStringLiteral("取 消"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setGeometry(QRect(QPoint(116, 200), kButtonSize));
    connect(Button1_, &QPushButton::clicked, this, &Tfmselfiled::Button1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QLabel* Tfmselfiled::AddLabel(const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QCheckBox* Tfmselfiled::AddBox(const char* name, const QString& text, int x, int y, bool bold) {
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(true);
    if (bold)
        box->setFont(UiFont(12, true));
    box->move(x, y);
    box->adjustSize();
    return box;
}

TExportChoice Tfmselfiled::Choice() const {
    TExportChoice choice;
    choice.Name = chkcompany_->isChecked();
    choice.QQ = chktel_->isChecked();
    choice.Mob = chkmob_->isChecked();
    choice.EMail = chkemail_->isChecked();
    choice.Addr = chkaddr_->isChecked();
    choice.WebUrl = chkurl_->isChecked();
    choice.TextFormat = chktxt_->isChecked();
    return choice;
}

void Tfmselfiled::chktxtClick() {
    if (chktxt_->isChecked())
        chkexecl_->setChecked(false);
}

void Tfmselfiled::chkexeclClick() {
    if (chkexecl_->isChecked())
        chktxt_->setChecked(false);
}

void Tfmselfiled::QuickSelect(bool mob, bool qq, bool email, bool all, bool textFormat) {
    chkcompany_->setChecked(all);
    chkmob_->setChecked(mob || all);
    chktel_->setChecked(qq || all);
    chkemail_->setChecked(email || all);
    chkurl_->setChecked(all);
    chkaddr_->setChecked(all);
    chktxt_->setChecked(textFormat);
    chkexecl_->setChecked(!textFormat);
}

void Tfmselfiled::Label4Click() { QuickSelect(true, false, false, false, true); }
void Tfmselfiled::Label3Click() { QuickSelect(false, true, false, false, true); }
void Tfmselfiled::Label5Click() { QuickSelect(false, false, true, false, true); }
void Tfmselfiled::Label6Click() { QuickSelect(false, false, false, true, false); }

void Tfmselfiled::qClick() {
    chkaddr_->setChecked(false);
    const TExportChoice choice = Choice();
    // The export may ask questions and show the save dialog; the chooser stays until it has run.
    if (runExport_)
        runExport_(keyword_, choice);
    close();
}

void Tfmselfiled::Button1Click() { close(); }

bool Tfmselfiled::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label4_)
            Label4Click();
        else if (watched == Label3_)
            Label3Click();
        else if (watched == Label5_)
            Label5Click();
        else if (watched == Label6_)
            Label6Click();
        else
            return QDialog::eventFilter(watched, event);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace vexo
