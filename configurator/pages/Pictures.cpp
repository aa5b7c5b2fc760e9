#include "pages/Pictures.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>

namespace pictures {

namespace {

// Every picture is drawn in a logical box of its own proportions; the
// painter maps that box onto the middle of the pixmap.
struct Canvas {
    QImage image;
    QPainter painter;
    Canvas(const QSize& size, const QSizeF& logical) : image(size, QImage::Format_ARGB32_Premultiplied)
    {
        image.fill(Qt::transparent);
        painter.begin(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const double scale = std::min(size.width() / logical.width(), size.height() / logical.height());
        painter.translate((size.width() - logical.width() * scale) / 2.0,
                          (size.height() - logical.height() * scale) / 2.0);
        painter.scale(scale, scale);
    }
    QPixmap finish()
    {
        painter.end();
        return QPixmap::fromImage(image);
    }
};

void drawDigit(QPainter& p, int digit)
{
    // Logical box 60 x 80.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(76);
    p.setFont(font);
    const QRectF box(0, 0, 60, 80);
    const QString text = QString::number(digit);
    p.setPen(QColor(0, 0, 110, 90));
    p.drawText(box.translated(2.5, 2.5), Qt::AlignCenter, text);
    p.setPen(QColor(0, 0, 255));
    p.drawText(box, Qt::AlignCenter, text);
}

void drawReader(QPainter& p)
{
    // Logical box 60 x 80: a dark housing with the touch probe and an LED.
    const QRectF body(6, 2, 48, 76);
    QLinearGradient shell(body.topLeft(), body.topRight());
    shell.setColorAt(0, QColor(78, 78, 84));
    shell.setColorAt(0.5, QColor(46, 46, 52));
    shell.setColorAt(1, QColor(28, 28, 32));
    p.setPen(QPen(QColor(15, 15, 18), 1.5));
    p.setBrush(shell);
    p.drawRoundedRect(body, 9, 9);
    p.setPen(QPen(QColor(110, 110, 118), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body.adjusted(3, 3, -3, -3), 7, 7);

    // Screws.
    for (double y : {9.0, 71.0}) {
        QRadialGradient g(QPointF(30, y), 2.4);
        g.setColorAt(0, QColor(200, 200, 205));
        g.setColorAt(1, QColor(90, 90, 95));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QPointF(30, y), 2.2, 2.2);
    }

    // Status LED.
    QRadialGradient led(QPointF(29, 19), 4);
    led.setColorAt(0, QColor(190, 255, 190));
    led.setColorAt(0.5, QColor(40, 210, 60));
    led.setColorAt(1, QColor(0, 100, 20));
    p.setBrush(led);
    p.setPen(QPen(QColor(10, 40, 10), 0.8));
    p.drawEllipse(QPointF(30, 20), 3.4, 3.4);

    // Touch probe: a steel bezel round a darker contact face.
    const QPointF c(30, 46);
    QRadialGradient bezel(c + QPointF(-5, -5), 20);
    bezel.setColorAt(0, QColor(250, 250, 252));
    bezel.setColorAt(0.6, QColor(170, 172, 178));
    bezel.setColorAt(1, QColor(95, 97, 104));
    p.setBrush(bezel);
    p.setPen(QPen(QColor(20, 20, 24), 1.2));
    p.drawEllipse(c, 15, 15);
    QRadialGradient face(c + QPointF(3, 3), 13);
    face.setColorAt(0, QColor(205, 207, 212));
    face.setColorAt(1, QColor(120, 122, 130));
    p.setBrush(face);
    p.setPen(QPen(QColor(60, 60, 66), 1));
    p.drawEllipse(c, 10, 10);
    p.setBrush(QColor(70, 70, 76));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 3.5, 3.5);
}

void drawDoorContact(QPainter& p)
{
    // Logical box 84 x 60: a door in its frame, the magnet on the door's
    // top edge facing the switch on the frame, and the switch's cable.
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(200, 200, 196));
    p.drawRect(QRectF(2, 6, 58, 54));  // frame
    QLinearGradient wood(QPointF(8, 0), QPointF(54, 0));
    wood.setColorAt(0, QColor(176, 112, 52));
    wood.setColorAt(1, QColor(134, 80, 34));
    p.setBrush(wood);
    p.setPen(QPen(QColor(90, 52, 20), 1));
    p.drawRect(QRectF(8, 13, 46, 47));  // door leaf
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(110, 66, 28), 1));
    p.drawRect(QRectF(14, 20, 34, 14));
    p.drawRect(QRectF(14, 39, 34, 16));
    p.setPen(QPen(QColor(80, 80, 80), 0.8));
    p.setBrush(QColor(220, 190, 60));
    p.drawEllipse(QPointF(47, 44), 2.6, 2.6);  // knob

    // Magnet on the door, switch on the frame right above it.
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(34, 14, 18, 6), 1.5, 1.5);  // magnet
    p.drawRoundedRect(QRectF(34, 5, 18, 6), 1.5, 1.5);   // switch
    p.setPen(QPen(QColor(200, 30, 30), 1.4));
    p.drawLine(QPointF(38, 17), QPointF(48, 17));
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.drawLine(QPointF(38, 8), QPointF(48, 8));
    // Cable from the switch to a terminal.
    QPainterPath cable(QPointF(52, 8));
    cable.cubicTo(QPointF(62, 9), QPointF(60, 24), QPointF(72, 24));
    p.setPen(QPen(QColor(30, 30, 30), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(cable);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(235, 235, 235));
    p.drawRoundedRect(QRectF(72, 18, 10, 12), 2, 2);
}

void drawExitButton(QPainter& p)
{
    // Logical box 66 x 80: a wall plate with a round green button and a
    // hand whose forefinger presses it from below right.
    const QRectF plate(2, 2, 48, 48);
    QLinearGradient pg(plate.topLeft(), plate.bottomRight());
    pg.setColorAt(0, QColor(245, 245, 242));
    pg.setColorAt(1, QColor(190, 190, 185));
    p.setPen(QPen(QColor(100, 100, 100), 1.2));
    p.setBrush(pg);
    p.drawRoundedRect(plate, 5, 5);
    const QPointF c = plate.center();
    QRadialGradient bg(c + QPointF(-5, -5), 20);
    bg.setColorAt(0, QColor(140, 240, 140));
    bg.setColorAt(0.7, QColor(20, 160, 40));
    bg.setColorAt(1, QColor(0, 90, 20));
    p.setBrush(bg);
    p.setPen(QPen(QColor(0, 60, 10), 1.2));
    p.drawEllipse(c, 16, 16);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(8);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(c.x() - 16, c.y() - 12, 32, 10), Qt::AlignCenter, QStringLiteral("EXIT"));

    // The hand, drawn along an axis from the fingertip down to the wrist.
    p.save();
    p.translate(c.x() + 2, c.y() + 3);
    p.rotate(-35);
    p.scale(0.78, 0.78);
    const QColor skin(244, 198, 160);
    const QPen outline(QColor(150, 90, 55), 1.2);
    p.setPen(outline);
    p.setBrush(skin);
    p.drawRoundedRect(QRectF(-4, -2, 8, 30), 4, 4);  // forefinger
    QPainterPath palm;
    palm.addRoundedRect(QRectF(-6, 22, 26, 26), 8, 8);
    p.drawPath(palm);
    for (int i = 0; i < 3; ++i)  // folded fingers
        p.drawRoundedRect(QRectF(4 + i * 5.5, 18 + i * 1.5, 7, 12), 3.5, 3.5);
    p.drawRoundedRect(QRectF(-13, 24, 12, 7), 3.5, 3.5);  // thumb
    p.setBrush(QColor(70, 110, 200));
    p.drawRect(QRectF(-5, 47, 24, 14));  // sleeve
    p.setPen(QPen(QColor(255, 255, 255, 160), 1));
    p.drawLine(QPointF(-1, 2), QPointF(-1, 10));  // nail highlight
    p.restore();
}

void drawDot(QPainter& p, const QColor& light, const QColor& mid, const QColor& dark)
{
    // Logical box 40 x 40.
    const QPointF c(20, 20);
    QRadialGradient g(c + QPointF(-6, -6), 22);
    g.setColorAt(0, light);
    g.setColorAt(0.45, mid);
    g.setColorAt(1, dark);
    p.setPen(QPen(dark.darker(160), 1.5));
    p.setBrush(g);
    p.drawEllipse(c, 17, 17);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawEllipse(QPointF(14, 13), 5, 3.5);
}

} // namespace

QPixmap picture(int bitmapId, const QSize& size)
{
    if (size.isEmpty())
        return {};
    if (bitmapId >= kDigit1 && bitmapId <= kDigit4) {
        Canvas c(size, {60, 80});
        drawDigit(c.painter, bitmapId - kDigit1 + 1);
        return c.finish();
    }
    switch (bitmapId) {
    case kTouchKeyReader: {
        Canvas c(size, {60, 80});
        drawReader(c.painter);
        return c.finish();
    }
    case kDoorContact: {
        Canvas c(size, {84, 60});
        drawDoorContact(c.painter);
        return c.finish();
    }
    case kExitButton: {
        Canvas c(size, {66, 80});
        drawExitButton(c.painter);
        return c.finish();
    }
    case kRedDot: {
        Canvas c(size, {40, 40});
        drawDot(c.painter, QColor(255, 200, 200), QColor(235, 20, 20), QColor(120, 0, 0));
        return c.finish();
    }
    case kGreenDot: {
        Canvas c(size, {40, 40});
        drawDot(c.painter, QColor(200, 255, 200), QColor(20, 200, 40), QColor(0, 90, 10));
        return c.finish();
    }
    default:
        return {};
    }
}

} // namespace pictures
