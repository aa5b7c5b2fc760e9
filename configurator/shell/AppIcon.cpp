#include "shell/AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap drawIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A terminal: a dark case with a key pad and a green LED.
    p.setPen(QPen(QColor(30, 30, 30), s / 32));
    p.setBrush(QColor(60, 70, 90));
    p.drawRoundedRect(QRectF(s * 0.18, s * 0.06, s * 0.64, s * 0.88), s * 0.08, s * 0.08);
    p.setBrush(QColor(170, 200, 230));
    p.drawRect(QRectF(s * 0.28, s * 0.14, s * 0.44, s * 0.22));
    p.setBrush(QColor(220, 220, 220));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(s * (0.29 + col * 0.15), s * (0.44 + row * 0.13), s * 0.11, s * 0.09));
    p.setBrush(QColor(40, 200, 60));
    p.drawEllipse(QPointF(s * 0.5, s * 0.86), s * 0.04, s * 0.04);
    return pm;
}

} // namespace

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(drawIcon(size));
    return icon;
}
