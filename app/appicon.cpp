#include "appicon.h"

#include <QPainter>
#include <QPixmap>

namespace varnel {

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xf4, 0xf4, 0xf0));
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size / 8.0, size / 8.0);
        const qreal bar = size / 8.0;
        const qreal widths[] = {0.45, 0.6, 0.35, 0.75};
        for (int i = 0; i < 4; ++i) {
            painter.setBrush(i == 2 ? QColor(0xd0, 0x3b, 0x2f) : QColor(0x33, 0x4a, 0x66));
            painter.drawRect(
                QRectF(size * 0.15, size * 0.18 + i * bar * 1.7, size * widths[i], bar));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace varnel
