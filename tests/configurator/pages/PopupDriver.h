#pragma once

// Answers the next popup menu a test opens: when the menu shows, records
// what it offers and where, then picks a command (0: closes it unchosen).

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>

namespace testpages {

struct PopupSeen {
    bool shown = false;
    QString menuName;
    QString title;
    QList<int> commands;
    QStringList texts;
};

inline std::shared_ptr<PopupSeen> answerNextPopup(int command)
{
    auto seen = std::make_shared<PopupSeen>();
    QTimer::singleShot(0, [seen, command] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        seen->shown = true;
        seen->menuName = menu->objectName();
        seen->title = menu->title();
        QAction* pick = nullptr;
        for (QAction* a : menu->actions()) {
            seen->commands << a->data().toInt();
            seen->texts << a->text();
            if (a->data().toInt() == command)
                pick = a;
        }
        if (pick) {
            // As a user does it: the pointer onto the item, then a click.
            const QPoint at = menu->actionGeometry(pick).center();
            QTest::mouseMove(menu, at);
            QTest::mouseClick(menu, Qt::LeftButton, {}, at);
        }
        if (menu->isVisible())
            menu->close();
    });
    return seen;
}

} // namespace testpages
