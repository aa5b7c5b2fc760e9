#include "pages/CyclingEdit.h"

#include "core/FieldCodes.h"
#include "platform/resources/Resources.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QPointer>

CCyclingEdit::CCyclingEdit(int controlId, int menuId, const QColor& background, QWidget* parent)
    : QLineEdit(parent), m_controlId(controlId), m_menuId(menuId), m_background(background)
{
    setObjectName(QString::number(controlId));
    setReadOnly(true);
    // Reached by Tab, never by a click: the click opens the menu instead.
    setFocusPolicy(Qt::TabFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, m_background);
        pal.setColor(group, QPalette::Text, Qt::black);
    }
    setPalette(pal);
}

bool CCyclingEdit::opensMenu(Qt::MouseButton button)
{
    return button == Qt::LeftButton || button == Qt::RightButton;
}

void CCyclingEdit::setFieldText(const QString& text)
{
    // The page stores its word on textChanged; a choice that repeats the
    // current text still counts as a change.
    if (text == this->text())
        emit textChanged(text);
    else
        setText(text);
}

bool CCyclingEdit::OnCommand(int commandId)
{
    for (const MenuItem& item : menuItems()) {
        if (item.command == commandId) {
            setFieldText(resources::loadString(item.stringId));
            return true;
        }
    }
    return false;
}

int CCyclingEdit::trackPopup(const QPoint& globalPos)
{
    // No parent: the menu must not die with this box while it runs.
    QMenu menu;
    menu.setObjectName(QString::number(m_menuId));
    menu.setTitle(resources::menuText(m_menuId, 0));
    for (const MenuItem& item : menuItems()) {
        QAction* action = menu.addAction(resources::menuText(m_menuId, item.command));
        action->setObjectName(QString::number(item.command));
        action->setData(item.command);
    }
    int chosen = 0;
    connect(&menu, &QMenu::triggered, &menu, [&chosen](QAction* a) { chosen = a->data().toInt(); });
    QPointer<CCyclingEdit> self(this);
    menu.exec(globalPos);
    if (!self || chosen == 0)
        return 0;
    OnCommand(chosen);
    return chosen;
}

void CCyclingEdit::mousePressEvent(QMouseEvent* event)
{
    if (!opensMenu(event->button())) {
        QLineEdit::mousePressEvent(event);
        return;
    }
    // The click itself is not passed on: no caret move, no focus.
    event->accept();
    trackPopup(QCursor::pos());
}

void CCyclingEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A second click that reaches the box (the menu did not take it) opens
    // the menu again rather than selecting a word.
    mousePressEvent(event);
}

void CCyclingEdit::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & (Qt::LeftButton | Qt::RightButton))
        event->accept();  // no drag selection from a click we did not pass on
    else
        QLineEdit::mouseMoveEvent(event);
}

void CCyclingEdit::mouseReleaseEvent(QMouseEvent* event)
{
    if (opensMenu(event->button()))
        event->accept();
    else
        QLineEdit::mouseReleaseEvent(event);
}

void CCyclingEdit::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // The right button already opened the field's menu; the Menu key opens
    // it under the box. The editing menu of a line edit has nothing to offer
    // in a read-only field.
    if (event->reason() == QContextMenuEvent::Keyboard)
        trackPopup(mapToGlobal(rect().bottomLeft()));
}

void CCyclingEdit::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    // Shift+F10 is the other keyboard way to a context menu (the Menu key
    // arrives as a context menu event): the only way to an LED field's texts
    // without a mouse.
    if (key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        event->accept();
        trackPopup(mapToGlobal(rect().bottomLeft()));
        return;
    }
    const QStringList list = stepList();
    if (list.isEmpty() || (key != Qt::Key_Up && key != Qt::Key_Down)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    const qsizetype i = list.indexOf(text());
    if (i < 0)
        return;  // a text foreign to this list: leave it alone
    const qsizetype n = list.size();
    const qsizetype next = key == Qt::Key_Down ? (i + 1) % n : (i + n - 1) % n;
    setFieldText(list[next]);
}

CActionEdit::CActionEdit(int controlId, QWidget* parent)
    : CCyclingEdit(controlId, kMenu, QColor(255, 255, 255), parent)
{
    setText(fields::actionTexts().value(0));
}

QStringList CActionEdit::stepList() const { return fields::actionTexts(); }

std::vector<CCyclingEdit::MenuItem> CActionEdit::menuItems() const
{
    return {{32782, 114}, {32783, 115}, {32784, 116}, {32785, 117}};
}

CConditionEdit::CConditionEdit(int controlId, int relay, QWidget* parent)
    : CCyclingEdit(controlId, relay == 1 ? kRelay1Menu : kRelay2Menu, QColor(255, 255, 210), parent),
      m_relay(relay == 1 ? 1 : 2)
{
    setText(fields::conditionTexts(m_relay).value(0));
}

QStringList CConditionEdit::stepList() const { return fields::conditionTexts(m_relay); }

std::vector<CCyclingEdit::MenuItem> CConditionEdit::menuItems() const
{
    if (m_relay == 1)
        return {{32774, 118}, {32775, 122}, {32776, 123}, {32777, 124}};
    return {{32778, 118}, {32779, 119}, {32780, 120}, {32781, 121}};
}

CLEDEdit::CLEDEdit(int controlId, QWidget* parent)
    : CCyclingEdit(controlId, kMenu, QColor(255, 255, 255), parent)
{
    setText(fields::ledTexts().value(0));
}

std::vector<CCyclingEdit::MenuItem> CLEDEdit::menuItems() const
{
    // Code order 0..3; the command identifiers are not in that order.
    return {{32786, 136}, {32787, 133}, {32790, 135}, {32788, 134}};
}
