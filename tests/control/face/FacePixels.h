#pragma once

// Reading the face's pictures in tests: a few characteristic places of the
// 48 x 48 design, scaled to the rendered size, and colour classes with room
// for antialiasing.

#include "control/face/StatusPictures.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QTest>
#include <QWidget>

namespace facetest {

using rk40::face::kPictureGrid;

// Places on the 48 x 48 design grid that tell the pictures apart.
inline constexpr QPointF kOnCable(26.0, 21.0);          // the cable's lowest point
inline constexpr QPointF kCableCrossLeft(22.5, 22.5);   // lower arms of the cable's
inline constexpr QPointF kCableCrossRight(29.5, 22.5);  // cross, clear of the cable
inline constexpr QPointF kOnFolder(14.5, 43.5);         // folder front, clear of its cross
inline constexpr QPointF kFolderCrossLeft(20.0, 42.5);  // lower arms of the folder's
inline constexpr QPointF kFolderCrossRight(28.0, 42.5); // cross, on the folder front

inline QColor sample(const QImage& image, QPointF gridPoint)
{
    const int x = static_cast<int>(gridPoint.x() * image.width() / kPictureGrid);
    const int y = static_cast<int>(gridPoint.y() * image.height() / kPictureGrid);
    return image.pixelColor(x, y);
}

inline bool isRed(const QColor& c)
{
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}

inline bool isYellow(const QColor& c)
{
    return c.red() > 200 && c.green() > 150 && c.blue() < 110;
}

inline bool isWhite(const QColor& c)
{
    return c.red() > 245 && c.green() > 245 && c.blue() > 245;
}

inline QImage render(QWidget& w, QSize size)
{
    w.resize(size);
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Checks the characteristic places of the picture for `status` in `image`.
inline void checkPicture(const QImage& image, int status)
{
    const bool portOpen = status & 2;
    const bool fileOpen = status & 1;
    if (portOpen) {
        const QColor cable = sample(image, kOnCable);
        QVERIFY2(isRed(cable), qPrintable("cable expected, found " + cable.name()));
    }
    for (QPointF p : {kCableCrossLeft, kCableCrossRight}) {
        const QColor c = sample(image, p);
        if (portOpen)
            QVERIFY2(isWhite(c), qPrintable("no cable cross expected, found " + c.name()));
        else
            QVERIFY2(isRed(c), qPrintable("cable cross expected, found " + c.name()));
    }
    const QColor folder = sample(image, kOnFolder);
    QVERIFY2(isYellow(folder), qPrintable("folder " + folder.name()));
    for (QPointF p : {kFolderCrossLeft, kFolderCrossRight}) {
        const QColor c = sample(image, p);
        if (fileOpen)
            QVERIFY2(isYellow(c), qPrintable("no folder cross expected, found " + c.name()));
        else
            QVERIFY2(isRed(c), qPrintable("folder cross expected, found " + c.name()));
    }
}

} // namespace facetest

// Checks a picture and leaves the test function at the first failure.
#define CHECK_PICTURE(image, status)                                                                                   \
    do {                                                                                                               \
        facetest::checkPicture(image, status);                                                                         \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)
