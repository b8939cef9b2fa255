// TSpinner: the turning indicator of the loading overlay; turns only while visible.
#pragma once

#include <QTimer>
#include <QWidget>

namespace vexo {

class TSpinner final : public QWidget {
    Q_OBJECT
  public:
    explicit TSpinner(QWidget* parent = nullptr);
    bool Running() const { return timer_.isActive(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QTimer timer_;
    int step_ = 0;
};

}  // namespace vexo
