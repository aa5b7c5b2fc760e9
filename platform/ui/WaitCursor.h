#pragma once

// The wait cursor for the life of a scope, however the scope is left. Without
// a screen (a command-line program on QCoreApplication) it does nothing.

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

namespace ui {

class WaitCursor {
public:
    WaitCursor()
        : m_active(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
    {
        if (m_active)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~WaitCursor() { end(); }
    // Restores the cursor early, before a message box appears.
    void end()
    {
        if (m_active)
            QGuiApplication::restoreOverrideCursor();
        m_active = false;
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_active;
};

} // namespace ui
