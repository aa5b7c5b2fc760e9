#include "control/face/StatusPictures.h"

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRadialGradient>

#include <array>
#include <cstddef>
#include <string_view>

namespace rk40::face {

namespace {

// A small fixed palette, in the spirit of the 16-colour originals.
const QColor kOutline(0x26, 0x2a, 0x30);
const QColor kCase(0xdc, 0xda, 0xd2);
const QColor kCaseShade(0xb4, 0xb2, 0xaa);
const QColor kScreenTop(0x1a, 0x3a, 0x86);
const QColor kScreenBottom(0x3a, 0x76, 0xd6);
const QColor kScreenText(0xcf, 0xe6, 0xff);
const QColor kTerminal(0x4c, 0x58, 0x64);
const QColor kTerminalLight(0x6a, 0x78, 0x86);
const QColor kDisplay(0xa4, 0xe0, 0x6c);
const QColor kDisplayText(0x2c, 0x44, 0x1c);
const QColor kKey(0xe4, 0xe8, 0xec);
const QColor kLedGreen(0x3c, 0xe0, 0x4c);
const QColor kProbe(0xc4, 0xcc, 0xd4);
const QColor kCable(0xd8, 0x14, 0x14);
const QColor kPlug(0x50, 0x50, 0x50);
const QColor kFolderBack(0xe8, 0xae, 0x1c);
const QColor kFolderFront(0xff, 0xd4, 0x3a);
const QColor kFolderEdge(0x8a, 0x62, 0x00);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kPaperLine(0x9a, 0xa4, 0xb0);
const QColor kCross(0xff, 0x1e, 0x1e);
const QColor kCrossEdge(0x8c, 0x00, 0x00);

// Where the two resources sit on the 48 x 48 grid; the crosses are centred
// on them.
constexpr QPointF kCableCross(26.0, 19.0);
constexpr qreal kCableCrossHalf = 4.5;
constexpr QPointF kFolderCross(24.0, 38.5);
constexpr qreal kFolderCrossHalf = 6.0;

QPen outlinePen(qreal width = 0.8)
{
    QPen pen(kOutline, width);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void drawComputer(QPainter& p)
{
    // Monitor case and screen.
    p.setPen(outlinePen());
    p.setBrush(kCase);
    p.drawRoundedRect(QRectF(2.0, 3.0, 18.0, 15.0), 1.6, 1.6);
    QLinearGradient screen(QPointF(0, 5.0), QPointF(0, 15.5));
    screen.setColorAt(0, kScreenTop);
    screen.setColorAt(1, kScreenBottom);
    p.setPen(QPen(kOutline, 0.5));
    p.setBrush(screen);
    p.drawRect(QRectF(4.0, 5.0, 14.0, 10.5));
    // A few lines of text on the screen.
    QPen text(kScreenText, 0.9);
    text.setCapStyle(Qt::RoundCap);
    p.setPen(text);
    p.drawLine(QPointF(6.0, 7.8), QPointF(14.5, 7.8));
    p.drawLine(QPointF(6.0, 10.3), QPointF(12.0, 10.3));
    p.drawLine(QPointF(6.0, 12.8), QPointF(15.5, 12.8));
    // Neck and foot.
    p.setPen(outlinePen(0.6));
    p.setBrush(kCaseShade);
    p.drawRect(QRectF(9.0, 18.0, 4.0, 2.5));
    p.setPen(outlinePen());
    p.setBrush(kCase);
    p.drawRoundedRect(QRectF(5.0, 20.5, 12.0, 2.8), 1.0, 1.0);
}

void drawTerminal(QPainter& p)
{
    QLinearGradient body(QPointF(32.0, 0), QPointF(46.0, 0));
    body.setColorAt(0, kTerminalLight);
    body.setColorAt(1, kTerminal);
    p.setPen(outlinePen());
    p.setBrush(body);
    p.drawRoundedRect(QRectF(32.0, 3.0, 14.0, 27.0), 2.0, 2.0);
    // Display with a line of text.
    p.setPen(QPen(kOutline, 0.5));
    p.setBrush(kDisplay);
    p.drawRect(QRectF(34.0, 5.5, 10.0, 4.5));
    p.setPen(QPen(kDisplayText, 0.8));
    p.drawLine(QPointF(35.5, 7.75), QPointF(41.0, 7.75));
    // Four LEDs.
    p.setPen(Qt::NoPen);
    p.setBrush(kLedGreen);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(35.5 + 2.33 * i, 12.3), 0.8, 0.8);
    // Keypad, three by three.
    p.setPen(QPen(kOutline, 0.35));
    p.setBrush(kKey);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            p.drawRoundedRect(QRectF(34.5 + 3.2 * col, 14.5 + 2.8 * row, 2.6, 2.0), 0.4, 0.4);
    }
    // The touch-key probe.
    QRadialGradient probe(QPointF(38.4, 25.8), 2.2);
    probe.setColorAt(0, Qt::white);
    probe.setColorAt(1, kProbe);
    p.setPen(outlinePen(0.6));
    p.setBrush(probe);
    p.drawEllipse(QPointF(39.0, 26.5), 2.0, 2.0);
}

void drawCable(QPainter& p)
{
    // A cable that sags a little between the two boxes.
    QPainterPath cable(QPointF(20.6, 15.0));
    cable.cubicTo(QPointF(24.0, 23.0), QPointF(28.0, 23.0), QPointF(31.4, 15.0));
    QPen pen(kCable, 2.6);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(cable);
    // Plugs where it enters the boxes.
    p.setPen(Qt::NoPen);
    p.setBrush(kPlug);
    p.drawRect(QRectF(20.0, 13.6, 1.4, 2.8));
    p.drawRect(QRectF(30.6, 13.6, 1.4, 2.8));
}

void drawFolder(QPainter& p)
{
    // Back with its tab.
    QPainterPath back;
    back.moveTo(13.0, 45.0);
    back.lineTo(13.0, 31.5);
    back.lineTo(19.0, 31.5);
    back.lineTo(21.0, 33.5);
    back.lineTo(35.0, 33.5);
    back.lineTo(35.0, 45.0);
    back.closeSubpath();
    p.setPen(QPen(kFolderEdge, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kFolderBack);
    p.drawPath(back);
    // A sheet of paper sticking out.
    p.setPen(QPen(kPaperLine, 0.5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(15.5, 34.8, 17.0, 6.0));
    p.setPen(QPen(kPaperLine, 0.6));
    p.drawLine(QPointF(17.5, 36.6), QPointF(30.5, 36.6));
    // Front, tilted open a little.
    QPolygonF front;
    front << QPointF(11.5, 37.5) << QPointF(36.5, 37.5) << QPointF(35.0, 45.0) << QPointF(13.0, 45.0);
    QLinearGradient shade(QPointF(0, 37.5), QPointF(0, 45.0));
    shade.setColorAt(0, kFolderFront);
    shade.setColorAt(1, kFolderBack);
    p.setPen(QPen(kFolderEdge, 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(shade);
    p.drawPolygon(front);
}

// A red cross with a dark edge, so it stands out on the red cable too.
void drawCross(QPainter& p, QPointF centre, qreal half)
{
    const QLineF a(centre + QPointF(-half, -half), centre + QPointF(half, half));
    const QLineF b(centre + QPointF(half, -half), centre + QPointF(-half, half));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kCrossEdge, 3.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a);
    p.drawLine(b);
    p.setPen(QPen(kCross, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a);
    p.drawLine(b);
}

// The toolbox picture, pixel by pixel: the computer, the cable, the
// terminal and the folder of the big pictures, small enough for a toolbox.
constexpr std::array<std::string_view, 15> kToolboxArt{
    ".........kkkkkkk",
    "kkkkkkk..kgggggk",
    "kbwwwbk..kgdddgk",
    "kbbbbbk..kgggggk",
    "kbwwbbk..ktltltk",
    "kbbbbbkr.ktttttk",
    "kbwwwbkr.ketetek",
    "kkkkkkk.rktttttk",
    "...k....rketetek",
    ".kkkkk...ktttttk",
    ".ooo.....ketetek",
    "oyyyoooo.ktttttk",
    "oyyyyyyo.kttpttk",
    "oyyyyyyo.ktttttk",
    "oooooooo.kkkkkkk",
};

consteval bool toolboxArtFits()
{
    for (std::string_view row : kToolboxArt) {
        if (row.size() != 16)
            return false;
    }
    return true;
}
static_assert(toolboxArtFits(), "every row of the toolbox picture is 16 pixels wide");

// An invalid colour for a transparent pixel.
QColor toolboxColour(char code)
{
    switch (code) {
    case 'k': return kOutline;
    case 'b': return kScreenBottom;
    case 'w': return kScreenText;
    case 't': return kTerminal;
    case 'g': return kDisplay;
    case 'd': return kDisplayText;
    case 'l': return kLedGreen;
    case 'e': return kKey;
    case 'p': return kProbe;
    case 'r': return kCable;
    case 'y': return kFolderFront;
    case 'o': return kFolderEdge;
    default: return {};
    }
}

bool isStatusPicture(int id)
{
    return id >= bitmap::BothOpen && id <= bitmap::NothingOpen;
}

} // namespace

int pictureForStatus(int statusBits)
{
    switch (statusBits) {
    case 3:
        return bitmap::BothOpen;
    case 1:
        return bitmap::PortClosed;
    case 2:
        return bitmap::FileClosed;
    case 0:
        return bitmap::NothingOpen;
    default:
        return 0;
    }
}

bool drawStatusPicture(QPainter& painter, const QRectF& target, int id)
{
    if (!isStatusPicture(id) || target.isEmpty())
        return false;
    const bool cableCrossed = id == bitmap::PortClosed || id == bitmap::NothingOpen;
    const bool folderCrossed = id == bitmap::FileClosed || id == bitmap::NothingOpen;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(target.topLeft());
    painter.scale(target.width() / kPictureGrid, target.height() / kPictureGrid);
    drawCable(painter);
    drawComputer(painter);
    drawTerminal(painter);
    drawFolder(painter);
    if (cableCrossed)
        drawCross(painter, kCableCross, kCableCrossHalf);
    if (folderCrossed)
        drawCross(painter, kFolderCross, kFolderCrossHalf);
    painter.restore();
    return true;
}

QImage statusPicture(int id, QSize size)
{
    if (!isStatusPicture(id) || size.isEmpty())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    drawStatusPicture(p, QRectF(QPointF(0, 0), QSizeF(size)), id);
    return image;
}

QPixmap toolboxBitmap()
{
    QImage image(kToolboxSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int y = 0; y < kToolboxSize.height(); ++y) {
        const std::string_view row = kToolboxArt[static_cast<std::size_t>(y)];
        for (int x = 0; x < kToolboxSize.width(); ++x) {
            const QColor c = toolboxColour(row[static_cast<std::size_t>(x)]);
            if (c.isValid())
                image.setPixelColor(x, y, c);
        }
    }
    return QPixmap::fromImage(image);
}

QIcon controlIcon()
{
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        drawStatusPicture(p, QRectF(0, 0, side, side), bitmap::BothOpen);
        p.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace rk40::face
