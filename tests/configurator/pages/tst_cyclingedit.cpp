// The cycling fields: stepping with Up and Down, the popup menus, and the
// click that neither moves the caret nor takes the focus.

#include "pages/CyclingEdit.h"
#include "PopupDriver.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using testpages::answerNextPopup;

namespace {

enum Kind { Action, Relay1, Relay2, Led };

CCyclingEdit* make(Kind kind, QWidget* parent)
{
    switch (kind) {
    case Action: return new CActionEdit(1054, parent);
    case Relay1: return new CConditionEdit(1040, 1, parent);
    case Relay2: return new CConditionEdit(1042, 2, parent);
    case Led: return new CLEDEdit(1196, parent);
    }
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestCyclingEdit : public QObject {
    Q_OBJECT
    QWidget* m_window = nullptr;
    QLineEdit* m_other = nullptr;

private slots:
    void init()
    {
        m_window = new QWidget;
        auto* layout = new QVBoxLayout(m_window);
        m_other = new QLineEdit(m_window);
        layout->addWidget(m_other);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }
    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        QVERIFY(!QApplication::activePopupWidget());
    }

    void stepping_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("action down wraps") << Action << "On - MAX" << int(Qt::Key_Down) << "No effect";
        QTest::newRow("relay 2 down wraps") << Relay2 << "S2 = E2" << int(Qt::Key_Down) << "Always";
        QTest::newRow("relay 1 up wraps") << Relay1 << "Always" << int(Qt::Key_Up) << "S1 = E1";
        QTest::newRow("relay 1 field with relay 2 text") << Relay1 << "S2 = 0" << int(Qt::Key_Down) << "S2 = 0";
        QTest::newRow("action field with condition text") << Action << "Always" << int(Qt::Key_Down) << "Always";
        QTest::newRow("LED down") << Led << "---___------" << int(Qt::Key_Down) << "---___------";
        QTest::newRow("action other key") << Action << "Off" << int(Qt::Key_Right) << "Off";
    }
    void stepping()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, start);
        QFETCH(int, key);
        QFETCH(QString, expected);

        CCyclingEdit* edit = make(kind, m_window);
        edit->setText(start);
        edit->show();
        QSignalSpy changes(edit, &QLineEdit::textChanged);
        QTest::keyClick(edit, Qt::Key(key));
        QCOMPARE(edit->text(), expected);
        QCOMPARE(changes.size(), expected == start ? 0 : 1);
        QVERIFY(!QApplication::activePopupWidget());
    }

    // What each popup offers, and what a choice (0: none) leaves in the
    // field; every choice signals a change, also one that keeps the text.
    void menus_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QList<int>>("commands");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("expected");

        const QList<int> actionCmds{32782, 32783, 32784, 32785};
        const QStringList actionTexts{"&No effect", "&Off", "On - &5 sec.", "On - &Max"};
        QTest::newRow("action left, closed") << Action << int(Qt::LeftButton) << "133" << "Relay Action" << actionCmds
                                             << actionTexts << 0 << "No effect";
        QTest::newRow("action, On - 5 sec") << Action << int(Qt::LeftButton) << "133" << "Relay Action" << actionCmds
                                            << actionTexts << 32784 << "On - 5 sec";
        QTest::newRow("relay 2 right") << Relay2 << int(Qt::RightButton) << "132" << "Relay2 Condition"
                                       << QList<int>{32778, 32779, 32780, 32781}
                                       << QStringList{"&Always", "S2 = &0", "S2 = &1", "S2 = &E2"} << 32781 << "S2 = E2";
        QTest::newRow("LED right") << Led << int(Qt::RightButton) << "140" << "LED States"
                                   << QList<int>{32786, 32787, 32790, 32788}
                                   << QStringList{"---___------", "---_---------", "__------__", "__--____"} << 32790
                                   << "__------__";
    }
    void menus()
    {
        QFETCH(Kind, kind);
        QFETCH(int, button);
        QFETCH(QString, menu);
        QFETCH(QString, title);
        QFETCH(QList<int>, commands);
        QFETCH(QStringList, texts);
        QFETCH(int, command);
        QFETCH(QString, expected);

        CCyclingEdit* edit = make(kind, m_window);
        edit->show();
        QSignalSpy changes(edit, &QLineEdit::textChanged);
        auto seen = answerNextPopup(command);
        QTest::mouseClick(edit, Qt::MouseButton(button), {}, edit->rect().center());
        QVERIFY(seen->shown);
        QCOMPARE(seen->menuName, menu);
        QCOMPARE(seen->title, title);
        QCOMPARE(seen->commands, commands);
        QCOMPARE(seen->texts, texts);
        QCOMPARE(edit->text(), expected);
        QCOMPARE(changes.size(), command ? 1 : 0);
    }

    void foreignCommandIgnored()
    {
        auto* edit = new CConditionEdit(1040, 1, m_window);
        QVERIFY(!edit->OnCommand(32781));  // relay 2's command
        QVERIFY(!edit->OnCommand(32784));  // an action command
        QCOMPARE(edit->text(), QStringLiteral("Always"));
        QVERIFY(edit->OnCommand(32777));
        QCOMPARE(edit->text(), QStringLiteral("S1 = E1"));
    }

    void clickTakesNoFocusAndNoCaret()
    {
        auto* edit = new CActionEdit(1041, m_window);
        m_window->layout()->addWidget(edit);
        edit->setText("On - 5 sec");
        edit->setCursorPosition(0);
        m_other->setFocus();
        QApplication::setActiveWindow(m_window);
        QTRY_VERIFY(m_other->hasFocus());
        for (auto button : {Qt::LeftButton, Qt::RightButton}) {
            auto seen = answerNextPopup(0);
            QTest::mouseClick(edit, button, {}, QPoint(edit->width() - 4, edit->height() / 2));
            QVERIFY(seen->shown);
            // The window's focus child is still the other box (the popup
            // itself holds the keyboard while it runs).
            QVERIFY(!edit->hasFocus());
            QCOMPARE(m_window->focusWidget(), static_cast<QWidget*>(m_other));
            QCOMPARE(edit->cursorPosition(), 0);
            QVERIFY(!edit->hasSelectedText());
        }
        QCOMPARE(edit->focusPolicy(), Qt::TabFocus);  // still a tab stop
        QVERIFY(edit->isReadOnly());
    }
};

QTEST_MAIN(TestCyclingEdit)
#include "tst_cyclingedit.moc"
