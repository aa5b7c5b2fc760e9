#include "StatusFace.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace rk40 {

StatusFace::StatusFace(std::function<int()> status, QWidget* parent) : QWidget(parent), m_status(std::move(status))
{
    setObjectName(QStringLiteral("RK40CommFace"));
}

int StatusFace::pictureFor(int statusBits)
{
    switch (statusBits) {
    case 3: return 202;
    case 1: return 203;
    case 2: return 204;
    case 0: return 205;
    default: return 0;
    }
}

namespace {

void drawCross(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(220, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

} // namespace

void StatusFace::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const int pictureId = picture();
    if (pictureId == 0)
        return;
    const bool portOpen = pictureId == 202 || pictureId == 204;
    const bool fileOpen = pictureId == 202 || pictureId == 203;

    // Drawn on a 48 x 48 grid, stretched over the bounds.
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(width() / 48.0, height() / 48.0);

    // Computer: monitor and base.
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(2, 4, 16, 12));
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(QRectF(4, 6, 12, 8));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(6, 17, 8, 3));

    // Terminal: a box with a key reader.
    p.setBrush(QColor(128, 128, 128));
    p.drawRect(QRectF(34, 3, 12, 17));
    p.setBrush(QColor(0, 128, 0));
    p.drawEllipse(QPointF(40, 9), 2.5, 2.5);
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(QRectF(37, 14, 6, 3));

    // Cable.
    QPainterPath cable(QPointF(14, 19));
    cable.cubicTo(QPointF(20, 28), QPointF(28, 2), QPointF(34, 12));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawPath(cable);
    if (!portOpen)
        drawCross(p, QRectF(17, 6, 14, 14));

    // Folder.
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 220, 0));
    QPainterPath folder(QPointF(14, 30));
    folder.lineTo(20, 30);
    folder.lineTo(22, 32);
    folder.lineTo(34, 32);
    folder.lineTo(34, 45);
    folder.lineTo(14, 45);
    folder.closeSubpath();
    p.drawPath(folder);
    if (!fileOpen)
        drawCross(p, QRectF(15, 30, 18, 15));
}

void StatusFace::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && onClick)
        onClick();
    QWidget::mousePressEvent(event);
}

void StatusFace::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && onDoubleClick)
        onDoubleClick();
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace rk40
