#include "ui/KeyListView.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <utility>

#include "ui/KeyListModel.h"
#include "ui/Pictures.h"

namespace vexo {

namespace {

constexpr int kIconColumn = 37;
constexpr int kTopRowHeight = 20;
constexpr int kDateRowHeight = 24;
constexpr int kCountWidth = 61;
constexpr int kItemRightMargin = 6;

QString ButtonPicture(int tag, const QString& style) {
    switch (tag) {
        case kTagStartStop:
            return style == QLatin1String(kStartStyle) ? QStringLiteral("start") : QStringLiteral("stop");
        case kTagDelete:
            return QStringLiteral("delete");
        default:
            return QStringLiteral("export");
    }
}

}  // namespace

QRect KeyItemButtonRect(int tag, const QRect& item) {
    switch (tag) {
        case kTagStartStop:
            return QRect(item.left() + 5, item.top() + 20, 24, 24);
        case kTagDelete:
            return QRect(item.left() + 43, item.top() + kKeyItemHeight - 22, 18, 18);
        case kTagExport:
            return QRect(item.left() + 70, item.top() + kKeyItemHeight - 22, 18, 18);
        default:
            return {};
    }
}

QString KeyItemButtonHint(int tag, const QString& style) {
    switch (tag) {
        case kTagStartStop:
            return style == QLatin1String(kStartStyle) ? QStringLiteral("开始搜索") : QStringLiteral("停止搜索");
        case kTagDelete:
            return QStringLiteral("删除此关键词");
        case kTagExport:
            return QStringLiteral("将搜索结果导出为文件");
        default:
            return {};
    }
}

QSize TKeyItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(option.rect.width(), kKeyItemHeight);
}

void TKeyItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    // Background, alternation and selection as for any item.
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    base.icon = QIcon();
    base.state &= ~QStyle::State_HasFocus;
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &base, painter, widget);

    const QRect item = option.rect;
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    const QString styleName = index.data(TKeyListModel::StyleRole).toString();
    const bool enabled = index.data(TKeyListModel::EnabledRole).toBool();

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // Top row: the keyword in bold, the count in green at the right.
    const int textLeft = item.left() + kIconColumn;
    const int right = item.right() - kItemRightMargin;
    QRect countRect(right - kCountWidth, item.top() + 4, kCountWidth, kTopRowHeight);
    QRect textRect(textLeft, item.top() + 4, countRect.left() - textLeft - 4, kTopRowHeight);
    painter->setFont(UiFont(14, true));
    painter->setPen(QColor(0x22, 0x2b, 0x36));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(index.data(TKeyListModel::TextRole).toString(), Qt::ElideRight,
                                                        textRect.width()));
    painter->setFont(UiFont(12, true));
    painter->setPen(QColor(0x1f, 0x8a, 0x3b));
    painter->drawText(countRect, Qt::AlignRight | Qt::AlignVCenter, index.data(TKeyListModel::CountRole).toString());
    // The date line (last update or the task's state), grey.
    QRect dateRect(textLeft, item.top() + 4 + kTopRowHeight, right - textLeft, kDateRowHeight - 6);
    painter->setFont(UiFont(11, true));
    painter->setPen(QColor(0x8a, 0x8f, 0x99));
    painter->drawText(dateRect, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(index.data(TKeyListModel::DateRole).toString(), Qt::ElideRight,
                                                        dateRect.width()));
    // The item's icon above its start/stop button.
    painter->drawPixmap(QRect(item.left() + 9, item.top() + 3, 16, 16),
                        Picture(QStringLiteral("keyitem"), QSize(16, 16), ratio));
    // The three buttons; a disabled start/stop button is drawn faded.
    for (int tag : {kTagStartStop, kTagDelete, kTagExport}) {
        const QRect button = KeyItemButtonRect(tag, item);
        painter->setOpacity(tag == kTagStartStop && !enabled ? 0.4 : 1.0);
        painter->drawPixmap(button, Picture(ButtonPicture(tag, styleName), button.size(), ratio));
    }
    painter->restore();
}

TKeyListView::TKeyListView(QWidget* parent) : QListView(parent) {
    setItemDelegate(new TKeyItemDelegate(this));
    setMouseTracking(true);
    setUniformItemSizes(true);
    setAlternatingRowColors(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

int TKeyListView::ButtonAt(const QPoint& point, QModelIndex* index, QRect* rect) const {
    const QModelIndex at = indexAt(point);
    if (!at.isValid())
        return -1;
    const QRect item = visualRect(at);
    for (int tag : {kTagStartStop, kTagDelete, kTagExport}) {
        const QRect button = KeyItemButtonRect(tag, item);
        if (button.contains(point)) {
            if (index != nullptr)
                *index = at;
            if (rect != nullptr)
                *rect = button;
            return tag;
        }
    }
    return -1;
}

void TKeyListView::mousePressEvent(QMouseEvent* event) {
    QModelIndex index;
    pressedTag_ = event->button() == Qt::LeftButton ? ButtonAt(event->position().toPoint(), &index) : -1;
    pressedIndex_ = index;
    if (pressedTag_ >= 0)
        return;  // a button press does not select the item
    QListView::mousePressEvent(event);
}

void TKeyListView::mouseReleaseEvent(QMouseEvent* event) {
    const int pressed = std::exchange(pressedTag_, -1);
    if (pressed >= 0 && event->button() == Qt::LeftButton) {
        QModelIndex index;
        const int tag = ButtonAt(event->position().toPoint(), &index);
        const bool enabled = index.data(TKeyListModel::EnabledRole).toBool() || tag != kTagStartStop;
        if (tag == pressed && index == pressedIndex_ && enabled)
            emit ButtonClicked(index.data(TKeyListModel::TextRole).toString(), tag);
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void TKeyListView::mouseMoveEvent(QMouseEvent* event) {
    QModelIndex index;
    QRect rect;
    int tag = ButtonAt(event->position().toPoint(), &index, &rect);
    if (tag == kTagStartStop)
        tag = -1;  // its hint is the standard tooltip
    if (tag != hoverTag_ || index != hoverIndex_) {
        if (hoverTag_ >= 0)
            emit HintLeft();
        hoverTag_ = tag;
        hoverIndex_ = index;
        if (tag >= 0) {
            const QString hint = KeyItemButtonHint(tag, QString());
            if (!hint.isEmpty())
                emit HintEntered(QRect(viewport()->mapToGlobal(rect.topLeft()), rect.size()), hint);
        }
    }
    QListView::mouseMoveEvent(event);
}

void TKeyListView::leaveEvent(QEvent* event) {
    if (hoverTag_ >= 0) {
        hoverTag_ = -1;
        hoverIndex_ = QPersistentModelIndex();
        emit HintLeft();
    }
    QListView::leaveEvent(event);
}

bool TKeyListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QModelIndex index;
        if (ButtonAt(help->pos(), &index) == kTagStartStop) {
            QToolTip::showText(help->globalPos(),
                               KeyItemButtonHint(kTagStartStop, index.data(TKeyListModel::StyleRole).toString()),
                               viewport());
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    if (event->type() == QEvent::Leave && hoverTag_ >= 0) {
        hoverTag_ = -1;
        hoverIndex_ = QPersistentModelIndex();
        emit HintLeft();
    }
    return QListView::viewportEvent(event);
}

}  // namespace vexo
