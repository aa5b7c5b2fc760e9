#pragma once

// Read-only boxes whose text is always one of four field texts: relay
// actions, relay conditions and LED patterns. The user changes them with the
// Up and Down keys, which step through the texts, or with the popup menu
// that either mouse button opens at the cursor. A click neither moves the
// caret nor takes the focus; the box is reached by Tab.
//
// Every step and every menu choice ends in exactly one textChanged() signal
// (also when a menu choice repeats the current text): that is how the page
// hears of a change and stores its word.

#include <QColor>
#include <QLineEdit>
#include <QStringList>
#include <vector>

class QMenu;

class CCyclingEdit : public QLineEdit {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CCyclingEdit)
public:
    // The popup menu resource of this field.
    int menuId() const { return m_menuId; }
    int controlId() const { return m_controlId; }
    QColor backgroundColour() const { return m_background; }

    // The texts Up and Down step through, loaded now; empty when the field
    // changes by menu only.
    virtual QStringList stepList() const = 0;

    // The menu's commands and the string each one sets, in menu order.
    struct MenuItem {
        int command;
        int stringId;
    };
    virtual std::vector<MenuItem> menuItems() const = 0;

    // Carries out a menu command: sets the text of the command's string.
    // Returns false, changing nothing, for a command this field lacks.
    bool OnCommand(int commandId);

    // Builds the popup with the texts now in effect (object name = menu id,
    // each action's object name and data = its command identifier) and
    // runs it at `globalPos`. Returns the command chosen, or 0.
    int trackPopup(const QPoint& globalPos);

protected:
    CCyclingEdit(int controlId, int menuId, const QColor& background, QWidget* parent);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Sets a text chosen by the user and signals the change once.
    void setFieldText(const QString& text);
    static bool opensMenu(Qt::MouseButton button);

    int m_controlId;
    int m_menuId;
    QColor m_background;
};

// Relay actions: "No effect", "Off", "On - 5 sec", "On - MAX".
class CActionEdit : public CCyclingEdit {
    Q_OBJECT
public:
    static constexpr int kMenu = 133;
    explicit CActionEdit(int controlId, QWidget* parent = nullptr);
    QStringList stepList() const override;
    std::vector<MenuItem> menuItems() const override;
};

// The condition under which relay 1 or relay 2 acts. The page says which
// relay the field conditions when it makes it; list and menu follow.
class CConditionEdit : public CCyclingEdit {
    Q_OBJECT
public:
    static constexpr int kRelay1Menu = 131;
    static constexpr int kRelay2Menu = 132;
    // relay: 1 or 2.
    CConditionEdit(int controlId, int relay, QWidget* parent = nullptr);
    int relay() const { return m_relay; }
    QStringList stepList() const override;
    std::vector<MenuItem> menuItems() const override;

private:
    int m_relay;
};

// An LED light's blink pattern; menu only, Up and Down change nothing.
class CLEDEdit : public CCyclingEdit {
    Q_OBJECT
public:
    static constexpr int kMenu = 140;
    explicit CLEDEdit(int controlId, QWidget* parent = nullptr);
    QStringList stepList() const override { return {}; }
    std::vector<MenuItem> menuItems() const override;
};
