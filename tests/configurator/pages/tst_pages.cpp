// The pages over a stand-in control: the row pages (four readers, Sensors,
// Egress) loading rows from the image and storing one row word at every
// change (the LED page's word 38 too), the Reader 1 page as host of the
// control, and the Random page (word 39) with its frequency checks.

#include "PageFixture.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

using namespace testpages;

class TestPages : public QObject {
    Q_OBJECT
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
        QCOMPARE(prompter.messageTexts(), QStringList{"Enter a whole number from 0 to 255."});
        QCOMPARE(prompter.messages[0].look, ui::Look::Stop);
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
};

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
