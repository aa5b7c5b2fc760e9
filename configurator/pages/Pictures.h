#pragma once

// The pictures of the pages, drawn in code so they scale with the layout:
// the blue reader digits, the touch-key reader, the door contact, the hand
// on an exit button and the red and green LED dots. Each is known by its
// bitmap identifier.

#include <QPixmap>
#include <QSize>

namespace pictures {

enum BitmapId : int {
    kDigit1 = 134,  // 134..137: the digits 1..4
    kDigit4 = 137,
    kTouchKeyReader = 138,
    kRedDot = 139,
    kDoorContact = 203,
    kExitButton = 205,
    kGreenDot = 206,
};

// The picture drawn to fill `size` (keeping its proportions, centred, on a
// transparent background); a null pixmap for an unknown identifier or an
// empty size.
QPixmap picture(int bitmapId, const QSize& size);

} // namespace pictures
