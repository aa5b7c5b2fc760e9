#pragma once

// The control's face: the status picture, drawn over the whole widget on a
// white background. Computer and terminal joined by a red cable, and a
// yellow folder; the cable is crossed out while the port is closed, the
// folder while the register file is closed.

#include <QWidget>

#include <functional>

namespace rk40 {

class StatusFace : public QWidget {
    Q_OBJECT
public:
    // `status` gives the status bits (bit 0 register file, bit 1 port).
    StatusFace(std::function<int()> status, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(StatusFace)

    // The picture shown for a status: 202 (both open), 203 (file only),
    // 204 (port only), 205 (neither), 0 (none: only the white background).
    static int pictureFor(int statusBits);
    int picture() const { return pictureFor(m_status ? m_status() : 0); }

    std::function<void()> onClick;
    std::function<void()> onDoubleClick;

    QSize sizeHint() const override { return {48, 48}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::function<int()> m_status;
};

} // namespace rk40
