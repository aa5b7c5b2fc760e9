#pragma once

// The control's face: white, with the status picture of the current status
// bits stretched over the whole widget. Clicks and double-clicks are passed
// to callbacks (the control fires its Click and DblClick events from them).

#include <QWidget>

#include <functional>

namespace rk40::face {

class CRK40CommFace final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CRK40CommFace)

public:
    explicit CRK40CommFace(QWidget* parent = nullptr);
    ~CRK40CommFace() override;

    int status() const { return m_status; }
    // Shows the picture of `statusBits` (0..3); any other value leaves the
    // face white. Repaints when the value changes.
    void setStatus(int statusBits);

    // Called when the user clicks the face with the left button (on release,
    // over the face) and when the user double-clicks it. A double-click
    // gives one click and then one double-click, never a second click.
    void setClickHandler(std::function<void()> handler) { m_onClick = std::move(handler); }
    void setDoubleClickHandler(std::function<void()> handler) { m_onDoubleClick = std::move(handler); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int m_status = 0;
    bool m_pressed = false;       // the left button went down over the face
    bool m_afterDouble = false;   // the coming release ends a double-click
    std::function<void()> m_onClick;
    std::function<void()> m_onDoubleClick;
};

} // namespace rk40::face
