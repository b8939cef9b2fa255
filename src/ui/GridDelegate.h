// TGridDelegate: paints the grid's promotion icons (column 0); text cells are drawn on one line as usual.
#pragma once

#include <QStyledItemDelegate>

namespace vexo {

class TGridDelegate final : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace vexo
