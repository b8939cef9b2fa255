#include "ui/Spinner.h"

#include <QPainter>

namespace vexo {

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMs = 80;
}  // namespace

TSpinner::TSpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(40, 40);
    timer_.setInterval(kStepMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kSpokes;
        update();
    });
}

void TSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal radius = qMin(width(), height()) / 2.0;
    for (int i = 0; i < kSpokes; ++i) {
        QColor color(0x2f, 0x7b, 0xd8);
        color.setAlphaF(0.15 + 0.85 * ((i + kSpokes - step_) % kSpokes) / (kSpokes - 1.0));
        painter.setPen(QPen(color, radius / 5.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
        painter.rotate(360.0 / kSpokes);
    }
}

void TSpinner::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void TSpinner::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

}  // namespace vexo
