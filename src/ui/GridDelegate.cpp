#include "ui/GridDelegate.h"

#include <QApplication>
#include <QPainter>

#include "ui/GridCells.h"
#include "ui/GridModel.h"
#include "ui/Pictures.h"

namespace vexo {

namespace {
// Picture and size of each promotion icon; the blank icon draws nothing.
bool IconPicture(TPromoIcon icon, QString& name, QSize& size) {
    switch (icon) {
        case TPromoIcon::Promoted:
            name = QStringLiteral("promoted");
            size = QSize(24, 16);
            return true;
        case TPromoIcon::Certified:
            name = QStringLiteral("certified");
            size = QSize(14, 13);
            return true;
        case TPromoIcon::Blank:
            break;
    }
    return false;
}
}  // namespace

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (index.column() != ColIcon) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // Background and selection as for any cell, then the picture centred.
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &base, painter, widget);

    const QVariant value = index.data(TGridModel::PromoIconRole);
    QString name;
    QSize size;
    if (!value.isValid() || !IconPicture(static_cast<TPromoIcon>(value.toInt()), name, size))
        return;
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap pixmap = Picture(name, size, ratio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(option.rect.center());
    painter->drawPixmap(target, pixmap);
}

}  // namespace vexo
