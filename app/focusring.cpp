#include "focusring.h"

#include <QPainter>

namespace varnel {

void drawFocusRing(QPainter& painter, const QRect& area, const QPalette& palette) {
    // In logical pixels, so the ring grows with the scale; the pen's middle lies a pixel in,
    // so the whole ring stays inside the area at fractional scales too.
    constexpr qreal Width = 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(palette.color(QPalette::Active, QPalette::Highlight), Width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(area).adjusted(Width / 2, Width / 2, -Width / 2, -Width / 2));
    painter.restore();
}

void FocusRingButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    drawFocusRing(painter, rect(), palette());
}

} // namespace varnel
