// The pages over a stand-in control: the row pages (four readers, Sensors,
// Egress) loading rows from the image and storing one row word at every
// change (the LED page's word 38 too), the Reader 1 page as host of the
// control, and the Random page (word 39) with its frequency checks. The
// cycling fields on their own: stepping with Up and Down, the popup menus,
// and the click that neither moves the caret nor takes the focus.

#include "PageFixture.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace testpages;

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

class TestPages : public QObject {
    Q_OBJECT
    QWidget* m_window = nullptr;   // the cycling fields' window, made on first use
    QLineEdit* m_other = nullptr;

    QWidget* window()
    {
        if (!m_window) {
            m_window = new QWidget;
            auto* layout = new QVBoxLayout(m_window);
            m_other = new QLineEdit(m_window);
            layout->addWidget(m_other);
            m_window->show();
            [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_window);
        }
        return m_window;
    }
    static QLineEdit* frequency(PageSet& set) { return control<QLineEdit>(set.random.get(), 1219); }
    static QCheckBox* touch(PageSet& set, int k) { return control<QCheckBox>(set.random.get(), 1220 + k); }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    // The Random page shown over word 39, its frequency box focused.
    static QLineEdit* shownRandom(PageSet& set, const QString& word39)
    {
        set.setWord(39, word39);
        set.state->puts.clear();
        set.random->show();
        set.random->OnSetActive();
        frequency(set)->setFocus();
        return frequency(set);
    }

private slots:
    void cleanup()
    {
        CRK40TKPropPage::setControlFactory({});
        delete m_window;
        m_window = nullptr;
        QVERIFY(!QApplication::activePopupWidget());
    }

    // Reader 1 holds the control: off line, rows cleared, LED and Random kept.
    void reader1Initialisation()
    {
        auto state = std::make_shared<FakeState>();
        state->eeprom[38] = "ABCD";
        state->eeprom[39] = "1E05";
        state->eeprom[10] = "1234";
        CRK40TKPropPage page(std::make_unique<FakeControl>(state));
        QVERIFY(!state->workOnLine);
        QCOMPARE(state->puts.size(), std::size_t(28));
        for (int a = 10; a <= 37; ++a)
            QCOMPARE(state->eeprom[static_cast<std::size_t>(a)], QStringLiteral("0000"));
        QCOMPARE(state->eeprom[38], QStringLiteral("ABCD"));
        QCOMPARE(state->eeprom[39], QStringLiteral("1E05"));
        QCOMPARE(page.portText(), QStringLiteral("Not selected."));
        QCOMPARE(page.remoteSelection().address, 0u);
        page.setRemoteText("gate (10.0.0.1), COM2");
        QCOMPARE(page.remoteText(), QStringLiteral("gate (10.0.0.1), COM2"));
    }

    void singleChange_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("how");  // "down", "up", "click", or a menu command
        QTest::addColumn<int>("word");
        QTest::addColumn<QString>("value");

        QTest::newRow("TB1 relay 2 action Down") << 206 << 1054 << "down" << 11 << "0004";
        QTest::newRow("T1 relay 1 action Up") << 206 << 1039 << "up" << 10 << "0003";
        QTest::newRow("TA1 relay 4 action menu") << 206 << 1051 << "32785" << 30 << "00C0";
        QTest::newRow("TC2 registration") << 209 << 1094 << "click" << 35 << "0100";
        QTest::newRow("T2 relay 3 On - 5 sec") << 209 << 1069 << "32784" << 12 << "0020";
        QTest::newRow("TB3 relay 1 If S1 = 1") << 210 << 1115 << "32776" << 15 << "0400";
        QTest::newRow("TA4 relay 1 If S1 = E1") << 211 << 1304 << "32777" << 33 << "0600";
        QTest::newRow("repeat of the current text") << 211 << 1248 << "32782" << 37 << "0000";
        QTest::newRow("sensor 2 Closed relay 4 On - 5 sec") << 208 << 1286 << "32784" << 21 << "0080";
        QTest::newRow("sensor 4 Opened relay 2 If S2 = E2") << 208 << 1359 << "32781" << 24 << "3000";
        QTest::newRow("sensor 4 Closed registration") << 208 << 1323 << "click" << 25 << "0100";
        QTest::newRow("egress 1 relay 2 Off") << 207 << 1312 << "32783" << 26 << "0004";
        QTest::newRow("egress 3 relay 2 If S2 = 1") << 207 << 1366 << "32780" << 28 << "2000";
        QTest::newRow("LED 1 green __--____") << 212 << 1196 << "32788" << 38 << "C000";
        QTest::newRow("LED 4 red ---_---------") << 212 << 1200 << "32787" << 38 << "0001";
        QTest::newRow("LED 2 red ---_---------") << 212 << 1198 << "32787" << 38 << "0100";
        QTest::newRow("LED 3 green __------__") << 212 << 1091 << "32790" << 38 << "0080";
        QTest::newRow("LED 3 red __--____") << 212 << 1199 << "32788" << 38 << "0030";
        QTest::newRow("unchanged LED choice stores too") << 212 << 1095 << "32786" << 38 << "0000";
    }
    void singleChange()
    {
        QFETCH(int, dialog);
        QFETCH(int, id);
        QFETCH(QString, how);
        QFETCH(int, word);
        QFETCH(QString, value);

        PageSet set;
        set.setWord(38, "0000");
        QWidget* w = shownField(set, dialog, id);
        QVERIFY(w);
        CPropertyPage* page = set.page(dialog);
        if (how == "down")
            QTest::keyClick(w, Qt::Key_Down);
        else if (how == "up")
            QTest::keyClick(w, Qt::Key_Up);
        else if (how == "click")
            QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
        else
            QVERIFY(chooseFromMenu(w, how.toInt()));

        // Exactly one store, of this row's word only.
        QCOMPARE(set.state->puts.size(), std::size_t(1));
        QCOMPARE(set.state->puts[0].first, word);
        QCOMPARE(set.state->puts[0].second, value);
        QVERIFY(static_cast<CConfigPage*>(page)->isModified());
    }

    // A second change of a row builds on the first: TA4's relay 2 condition
    // joins its relay 1 condition, and egress 4's registration goes away.
    void secondChangeOfARow()
    {
        PageSet set;
        QVERIFY(chooseFromMenu(shownField(set, 211, 1304), 32777));
        QVERIFY(chooseFromMenu(control<QWidget>(set.page(211), 1332), 32779));
        QWidget* box = control<QWidget>(set.page(207), 1355);
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QCOMPARE(set.state->puts,
                 (std::vector<std::pair<int, QString>>{{33, "0600"}, {33, "1600"}, {29, "0100"}, {29, "0000"}}));
    }

    void loadingStoresNothing()
    {
        PageSet set;
        set.setWord(12, "3FFF");
        set.setWord(31, "1234");
        set.setWord(35, "8100");
        set.state->puts.clear();
        set.reader2->OnSetActive();
        set.reader2->LoadFields();
        QCOMPARE(set.state->puts.size(), std::size_t(0));
        QCOMPARE(control<CActionEdit>(set.reader2.get(), 1067)->text(), QStringLiteral("On - MAX"));
        QCOMPARE(control<CConditionEdit>(set.reader2.get(), 1083)->text(), QStringLiteral("S1 = E1"));
        QCOMPARE(control<CConditionEdit>(set.reader2.get(), 1084)->text(), QStringLiteral("S2 = E2"));
        QVERIFY(control<QCheckBox>(set.reader2.get(), 1094)->isChecked());
        QVERIFY(!control<QCheckBox>(set.reader2.get(), 1092)->isChecked());
    }

    // Each If field conditions the relay whose header it stands under.
    void conditionFieldsKnowTheirRelay()
    {
        static const QRegularExpression header(QStringLiteral("RELAY ?([12]) If$"));
        PageSet set;
        for (CPropertyPage* p : set.pages()) {
            for (auto* e : p->findChildren<CConditionEdit*>()) {
                const auto m = header.match(e->accessibleName());
                QVERIFY2(m.hasMatch(), qPrintable(e->accessibleName()));
                QCOMPARE(e->relay(), m.captured(1).toInt());
                QCOMPARE(e->menuId(), 130 + e->relay());
            }
        }
    }

    void missingControlLeavesAUsablePage()
    {
        testsupport::RecordingPrompter prompter;
        CRK40TKPropPage::setControlFactory([] { return std::unique_ptr<component::IDispatchControl>(); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("without the communication control"));
        CRK40TKPropPage page;
        QVERIFY(!page.comm().isCreated());
        QVERIFY(!page.controlError().isEmpty());
        page.OnSetActive();
        // The sheet reports it, not the page.
        QVERIFY(prompter.messages.empty());
        QTest::keyClick(control<QWidget>(&page, 1039), Qt::Key_Down);
        QCOMPARE(control<CActionEdit>(&page, 1039)->text(), QStringLiteral("Off"));
    }

    void realControlFromRegistry()
    {
        testsupport::TestEnvironment env;
        if (!QFile::exists(testsupport::TestEnvironment::controlModulePath()))
            QSKIP("the control module is not built");
        QString error;
        QVERIFY2(env.registerControl(&error), qPrintable(error));
        CRK40TKPropPage page;
        QVERIFY2(page.comm().isCreated(), qPrintable(page.controlError()));
        const auto online = page.comm().control()->invoke(CRK40Comm::kWorkOnLine, component::InvokeKind::PropertyGet);
        QVERIFY(online.ok());
        QCOMPARE(online.value.toBool(), false);
        // No register file: InitTerminal opens or creates nothing in the
        // current folder.
        const auto file = page.comm().control()->invoke(CRK40Comm::kAsciiFileName, component::InvokeKind::PropertyGet);
        QCOMPARE(file.value.toString(), QString());
        QCOMPARE(page.comm().GetEepromLoc(10), QStringLiteral("0000"));
        QTest::keyClick(control<QWidget>(&page, 1054), Qt::Key_Down);
        QCOMPARE(page.comm().GetEepromLoc(11), QStringLiteral("0004"));
    }

    void changingOneRowLeavesTheOthers()
    {
        PageSet set;
        for (int a = 18; a <= 29; ++a)
            set.setWord(a, "8A5F");
        set.sensors->OnSetActive();
        set.state->puts.clear();
        QTest::keyClick(control<QWidget>(set.sensors.get(), 1300), Qt::Key_Up);  // sensor 4 Closed relay 2
        QCOMPARE(set.state->puts.size(), std::size_t(1));
        QCOMPARE(set.state->puts[0].first, 25);
        for (int a = 18; a <= 29; ++a)
            if (a != 25)
                QCOMPARE(set.word(a), QStringLiteral("8A5F"));
        // 8A5F: relay 2 action 3 → 2; bits 11 and 15 drop.
        QCOMPARE(set.word(25), QStringLiteral("025B"));
    }

    void refusedWordIsReportedAndNotShown()
    {
        testsupport::RecordingPrompter prompter;
        PageSet set;
        set.setWord(38, "0000");
        set.led->show();
        set.led->OnSetActive();
        CLEDEdit* led1 = control<CLEDEdit>(set.led.get(), 1196);
        const QString before = led1->text();
        set.state->refuseEeprom = true;
        QVERIFY(chooseFromMenu(led1, 32788));
        QCOMPARE(prompter.messages.size(), std::size_t(1));
        QCOMPARE(prompter.messages[0].look, ui::Look::Stop);
        QVERIFY2(prompter.messages[0].text.contains("configuration word 38"), qPrintable(prompter.messages[0].text));
        // Reading fails as well: the failure is shown once, and the page
        // goes back to what the image gives, not the edit.
        QTRY_COMPARE(led1->text(), before);
        QCOMPARE(prompter.messages.size(), std::size_t(1));
        QCOMPARE(set.word(38), QString("0000"));
        QVERIFY(set.reader1->comm().imageFailed());

        // Once the control answers again, the next failure is shown again.
        set.state->refuseEeprom = false;
        QCOMPARE(set.reader1->comm().word(38), QString("0000"));
        set.state->refuseEeprom = true;
        QCOMPARE(set.reader1->comm().word(38), QString());
        QCOMPARE(prompter.messages.size(), std::size_t(2));
    }

    void randomLoadsAndStores()
    {
        testsupport::RecordingPrompter prompter;
        PageSet set;
        QLineEdit* f = shownRandom(set, "1E05");
        QCOMPARE(f->text(), QStringLiteral("30"));
        QCOMPARE(QList<bool>({touch(set, 1)->isChecked(), touch(set, 2)->isChecked(), touch(set, 3)->isChecked(),
                              touch(set, 4)->isChecked()}),
                 QList<bool>({true, false, true, false}));
        QCOMPARE(set.state->puts.size(), std::size_t(0));
        // Bits 4..7 are no field: they load as nothing and store as 0.
        set.setWord(39, "00F0");
        set.random->OnSetActive();
        click(touch(set, 3));
        QCOMPARE(set.word(39), QStringLiteral("0004"));  // frequency 0, only TK3
        f->setFocus();
        f->selectAll();
        QTest::keyClicks(f, "255");
        for (int k : {1, 2, 4})
            click(touch(set, k));
        QCOMPARE(set.word(39), QStringLiteral("FF0F"));
        QVERIFY(prompter.messages.empty());
    }

    void typing300KeepsThirty()
    {
        testsupport::RecordingPrompter prompter;
        PageSet set;
        QLineEdit* f = shownRandom(set, "0000");
        f->selectAll();
        QTest::keyClicks(f, "300");
        // Stored after "3" and after "30"; "300" is refused at once.
        QCOMPARE(set.state->puts.size(), std::size_t(2));
        QCOMPARE(set.word(39), QStringLiteral("1E00"));
        QCOMPARE(prompter.lookTexts(), QStringList{"stop:Enter a whole number from 0 to 255."});
        // The box keeps its text, selected so the next keys replace it.
        QCOMPARE(f->text(), QStringLiteral("300"));
        QVERIFY(f->hasSelectedText());
        QTest::keyClicks(f, "7");
        QCOMPARE(set.word(39), QStringLiteral("0700"));
    }

    void clearingTheBox()
    {
        testsupport::RecordingPrompter prompter;
        PageSet set;
        QLineEdit* f = shownRandom(set, "1E00");
        f->end(false);
        QTest::keyClick(f, Qt::Key_Backspace);  // "3": stored
        QCOMPARE(set.word(39), QStringLiteral("0300"));
        QTest::keyClick(f, Qt::Key_Backspace);  // "": an integer is required
        QCOMPARE(set.state->puts.size(), std::size_t(1));
        QCOMPARE(prompter.messageTexts(), QStringList{"Enter a whole number."});
        // A tick while the box is empty is refused the same way.
        click(touch(set, 1));
        QCOMPARE(set.state->puts.size(), std::size_t(1));
        QCOMPARE(prompter.messages.size(), std::size_t(2));
        // Leaving the page is refused until the box is valid again.
        QVERIFY(!set.random->OnKillActive());
        QCOMPARE(prompter.messages.size(), std::size_t(3));
        f->setText("12");
        QCOMPARE(set.word(39), QStringLiteral("0C01"));
        QVERIFY(set.random->OnKillActive());
        QCOMPARE(prompter.messages.size(), std::size_t(3));
    }

    void checkFrequency_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("check");
        QTest::addColumn<int>("value");
        using C = CRandomPP::FrequencyCheck;
        QTest::newRow("0") << "0" << int(C::Valid) << 0;
        QTest::newRow("255") << "255" << int(C::Valid) << 255;
        QTest::newRow("blanks around") << " 12 " << int(C::Valid) << 12;
        QTest::newRow("plus sign") << "+7" << int(C::Valid) << 7;
        QTest::newRow("256") << "256" << int(C::OutOfRange) << -1;
        QTest::newRow("-1") << "-1" << int(C::OutOfRange) << -1;
        QTest::newRow("empty") << "" << int(C::NotAnInteger) << -1;
        QTest::newRow("1.5") << "1.5" << int(C::NotAnInteger) << -1;
        QTest::newRow("hex") << "0x10" << int(C::NotAnInteger) << -1;
        QTest::newRow("inner blank") << "1 2" << int(C::NotAnInteger) << -1;
    }
    void checkFrequency()
    {
        QFETCH(QString, text);
        QFETCH(int, check);
        QFETCH(int, value);
        int got = -1;
        QCOMPARE(int(CRandomPP::checkFrequency(text, &got)), check);
        QCOMPARE(got, value);
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

        CCyclingEdit* edit = make(kind, window());
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

        CCyclingEdit* edit = make(kind, window());
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
        auto* edit = new CConditionEdit(1040, 1, window());
        QVERIFY(!edit->OnCommand(32781));  // relay 2's command
        QVERIFY(!edit->OnCommand(32784));  // an action command
        QCOMPARE(edit->text(), QStringLiteral("Always"));
        QVERIFY(edit->OnCommand(32777));
        QCOMPARE(edit->text(), QStringLiteral("S1 = E1"));
    }

    void clickTakesNoFocusAndNoCaret()
    {
        auto* edit = new CActionEdit(1041, window());
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

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
