// TKeyListView: the keyword list `listkey`. Items are painted by TKeyItemDelegate (icon, keyword, count, date line
// and three buttons); the view turns clicks on the painted buttons into ButtonClicked(keyword, tag), shows the
// start/stop button's hint as a tooltip and reports the delete and export buttons' hints for the window's popup.
#pragma once

#include <QListView>
#include <QRect>
#include <QStyledItemDelegate>
#include <string>

namespace vexo {

// Tags of the item buttons, as the click handler reads them.
inline constexpr int kTagStartStop = 0;
inline constexpr int kTagDelete = 1;
inline constexpr int kTagExport = 4;
inline constexpr int kKeyItemHeight = 65;

// The button of that tag inside an item's rectangle.
QRect KeyItemButtonRect(int tag, const QRect& item);
// The hint of a button; the start/stop hint follows the style name.
QString KeyItemButtonHint(int tag, const QString& style);

class TKeyItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class TKeyListView final : public QListView {
    Q_OBJECT
  public:
    explicit TKeyListView(QWidget* parent = nullptr);

  signals:
    // A painted button of an enabled look was clicked.
    void ButtonClicked(const QString& keyword, int tag);
    // The mouse entered the delete or export button (rectangle in global coordinates), or left it.
    void HintEntered(const QRect& button, const QString& hint);
    void HintLeft();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

  private:
    // Tag of the button under the viewport point and its item; -1 when none.
    int ButtonAt(const QPoint& point, QModelIndex* index = nullptr, QRect* rect = nullptr) const;

    int pressedTag_ = -1;
    QPersistentModelIndex pressedIndex_;
    int hoverTag_ = -1;
    QPersistentModelIndex hoverIndex_;
};

}  // namespace vexo
