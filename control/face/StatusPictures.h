#pragma once

// The control's pictures, drawn in code: the four status pictures (a
// computer joined to the terminal by a red cable, and a yellow folder for
// the register file, with the cable or the folder crossed out when that
// resource is closed), the toolbox picture and the icon.
//
// The status pictures are designed on a 48 x 48 grid and drawn as vector
// shapes, so they stay sharp at any size and may be stretched unevenly.

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QSize>

class QPainter;

namespace rk40::face {

// Picture identifiers.
namespace bitmap {
enum : int {
    Toolbox = 1,       // 16 x 15 picture for a container's toolbox
    BothOpen = 202,    // port and register file open
    PortClosed = 203,  // register file open, port closed
    FileClosed = 204,  // port open, register file closed
    NothingOpen = 205, // neither open
};
} // namespace bitmap

inline constexpr int kIconId = 1;

// The grid the status pictures are designed on.
inline constexpr int kPictureGrid = 48;
// The size of the toolbox picture.
inline constexpr QSize kToolboxSize{16, 15};

// The status picture for status bits 0..3 (bit 0: register file open, bit 1:
// port open): 205, 203, 204 or 202. Returns 0 for any other value.
int pictureForStatus(int statusBits);

// Draws status picture `id` stretched over `target` (no background).
// Returns false, drawing nothing, when `id` is not one of 202..205.
bool drawStatusPicture(QPainter& painter, const QRectF& target, int id);

// Status picture `id` on a white ground at `size`; a null image when `id`
// is not one of 202..205 or the size is empty.
QImage statusPicture(int id, QSize size = QSize(kPictureGrid, kPictureGrid));

// The 16 x 15 toolbox picture (bitmap 1) on a transparent ground.
QPixmap toolboxBitmap();

// The control's icon (icon 1), with pictures from 16 to 64 pixels.
QIcon controlIcon();

} // namespace rk40::face
