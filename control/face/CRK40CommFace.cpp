#include "control/face/CRK40CommFace.h"

#include "control/face/StatusPictures.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace rk40::face {

CRK40CommFace::CRK40CommFace(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RK40CommFace"));
    // The painter covers every pixel, so Qt need not clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CRK40CommFace::~CRK40CommFace() = default;

void CRK40CommFace::setStatus(int statusBits)
{
    if (statusBits == m_status)
        return;
    m_status = statusBits;
    update();
}

QSize CRK40CommFace::sizeHint() const
{
    return {kPictureGrid, kPictureGrid};
}

void CRK40CommFace::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    // Nothing but the white ground for a value without a picture.
    drawStatusPicture(p, QRectF(rect()), pictureForStatus(m_status));
}

void CRK40CommFace::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CRK40CommFace::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    const bool wasPressed = std::exchange(m_pressed, false);
    const bool endsDouble = std::exchange(m_afterDouble, false);
    // A click counts only when the button comes up over the face.
    if (wasPressed && !endsDouble && rect().contains(event->position().toPoint()) && m_onClick) {
        // A copy: the handler may end up destroying this face.
        const auto handler = m_onClick;
        handler();
    }
}

void CRK40CommFace::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    m_pressed = true;
    m_afterDouble = true;
    if (m_onDoubleClick) {
        const auto handler = m_onDoubleClick;
        handler();
    }
}

} // namespace rk40::face
