#include "ui/frmComInfo.h"

#include <QDesktopServices>
#include <QGraphicsDropShadowEffect>
#include <QMouseEvent>
#include <QScrollBar>
#include <cmath>

#include "ui/GridCells.h"
#include "ui/Pictures.h"

namespace vexo {

namespace {

constexpr int kMargin = 10;
constexpr int kLabelX = 28;
constexpr int kMemoX = 84;
constexpr int kMemoWidth = 319;
constexpr QSize kSectionLabelSize(47, 21);

QString JoinLines(const std::vector<std::string>& values) {
    QStringList lines;
    for (const auto& value : values)
        lines << QString::fromStdString(value);
    return lines.join(QLatin1Char('\n'));
}

// Places a section's label and memo, or hides both.
void PlaceSection(QLabel* label, QPlainTextEdit* memo, const TSectionLayout& layout, const QString& text) {
    label->setVisible(layout.visible);
    memo->setVisible(layout.visible);
    if (!layout.visible) {
        memo->clear();
        return;
    }
    label->move(kLabelX, layout.top);
    memo->setGeometry(kMemoX, layout.top, kMemoWidth, layout.height);
    memo->setPlainText(text);
    const auto policy = layout.scrollBars ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded;
    memo->setVerticalScrollBarPolicy(policy);
    memo->setHorizontalScrollBarPolicy(policy);
}

}  // namespace

Tfmcominfo::Tfmcominfo(QWidget* mainWindow) : QWidget(mainWindow, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("fmcominfo"));
    setWindowTitle(QStringLiteral("公司详情"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(kComInfoWidth, kComInfoHeight);
    OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    Label1_ = new QLabel(this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->setProperty("styleName", QStringLiteral("popmain"));
    Label1_->setGeometry(kMargin, kMargin, kComInfoWidth - 2 * kMargin, kComInfoHeight - 2 * kMargin);
    Label1_->setStyleSheet(
        QStringLiteral("#Label1 { background: #ffffff; border: 1px solid #c9d6e6; border-radius: 6px; }"));
    auto* shadow = new QGraphicsDropShadowEffect(Label1_);
    const double distance = 3.0;
    const double angle = 45.0 * M_PI / 180.0;
    shadow->setOffset(distance * std::cos(angle), distance * std::sin(angle));
    shadow->setBlurRadius(0.3 * 2 * kMargin);
    shadow->setColor(QColor(0, 0, 0, static_cast<int>(0.6 * 255)));
    Label1_->setGraphicsEffect(shadow);

    Button1_ = new QPushButton(Label1_);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setProperty("styleName", QStringLiteral("closebtn2"));
    Button1_->setGeometry(395, 5, 24, 24);
    Button1_->setIcon(QIcon(Picture(QStringLiteral("close"), QSize(24, 24), devicePixelRatioF())));
    Button1_->setIconSize(QSize(20, 20));
    Button1_->setFlat(true);
    Button1_->setCursor(Qt::PointingHandCursor);
    connect(Button1_, &QPushButton::clicked, this, &QWidget::close);

    Image1_ = new QLabel(Label1_);
    Image1_->setObjectName(QStringLiteral("Image1"));
    Image1_->setGeometry(13, 40, 64, 64);
    Image1_->setPixmap(Picture(QStringLiteral("company"), QSize(64, 64), devicePixelRatioF()));

    txtwin_ = AddLabel("txtwin", QString(), QRect(84, 50, 335, 22));
    txtwin_->setFont(UiFont(14, true));
    txturl_ = AddLabel("txturl", QString(), QRect(84, 80, 335, 22));
    txturl_->setStyleSheet(QStringLiteral("color: #1a5fd0;"));
    txturl_->setCursor(Qt::PointingHandCursor);
    Text1_ = AddLabel("Text1", QStringLiteral("联系方式："), QRect(3, 119, 74, 20));
    Text1_->setFont(UiFont(12, true));
    Text1_->setStyleSheet(QStringLiteral("color: #1f8a3b;"));

    txtmob_ = AddLabel("txtmob", QStringLiteral("手机："), QRect(QPoint(kLabelX, 0), kSectionLabelSize));
    mmmob_ = AddMemo("mmmob");
    txttel_ = AddLabel("txttel", QStringLiteral("QQ："), QRect(QPoint(kLabelX, 0), kSectionLabelSize));
    txttel_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    mmtel_ = AddMemo("mmtel");
    txtemail_ = AddLabel("txtemail", QStringLiteral("邮箱："), QRect(QPoint(kLabelX, 0), kSectionLabelSize));
    mmemail_ = AddMemo("mmemail");
    txtaddr_ = AddLabel("txtaddr", QStringLiteral("地址："), QRect(QPoint(28, 377), kSectionLabelSize));
    txtaddrc_ = AddLabel("txtaddrc", QString(), QRect(84, 379, kMemoWidth, 21));
    txtaddr_->hide();
    txtaddrc_->hide();

    if (mainWindow != nullptr) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(mainWindow->frameGeometry().center());
        move(frame.topLeft());
    }
}

QLabel* Tfmcominfo::AddLabel(const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, Label1_);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(UiFont(12));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(false);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPlainTextEdit* Tfmcominfo::AddMemo(const char* name) {
    auto* memo = new QPlainTextEdit(Label1_);
    memo->setObjectName(QString::fromLatin1(name));
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setFont(UiFont(12));
    memo->document()->setDocumentMargin(1);
    memo->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: transparent; }"
                       "QScrollBar:vertical { width: 8px; } QScrollBar:horizontal { height: 8px; }"));
    memo->hide();
    return memo;
}

void Tfmcominfo::ShowCompany(const TComPanyInfo& record) {
    txtwin_->setText(QString::fromStdString(record.GetComName()));
    txturl_->setText(QString::fromStdString(record.weburl));
    const TComInfoLayout layout = LayoutComInfo(record);
    PlaceSection(txtmob_, mmmob_, layout.mobile, JoinLines(record.Mob));
    PlaceSection(txttel_, mmtel_, layout.qq, JoinLines(record.qq));
    PlaceSection(txtemail_, mmemail_, layout.email, JoinLines(record.EMail));
    txtaddr_->hide();
    txtaddrc_->hide();
}

std::optional<QUrl> Tfmcominfo::WebAddress(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    return url;
}

void Tfmcominfo::txturlClick() {
    if (auto url = WebAddress(txturl_->text()); url && OpenUrl)
        OpenUrl(*url);
}

void Tfmcominfo::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QWidget* target = childAt(event->position().toPoint());
        if (target == txturl_) {
            txturlClick();
            return;
        }
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QWidget::mousePressEvent(event);
}

void Tfmcominfo::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - *dragOffset_);
    QWidget::mouseMoveEvent(event);
}

}  // namespace vexo
