// The row pages (four readers, Sensors, Egress): loading rows from the
// image, storing one row word at every change, and the Reader 1 page as
// host of the control.

#include "PageFixture.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QLineEdit>
#include <QTest>

using namespace testpages;

class TestReaderPages : public QObject {
    Q_OBJECT
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
        QVERIFY(!page.reusePort());
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
    }
    void singleChange()
    {
        QFETCH(int, dialog);
        QFETCH(int, id);
        QFETCH(QString, how);
        QFETCH(int, word);
        QFETCH(QString, value);

        PageSet set;
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

    void twoConditionsInOneRow()
    {
        PageSet set;
        set.reader4->show();
        QVERIFY(chooseFromMenu(control<QWidget>(set.reader4.get(), 1304), 32777));
        QCOMPARE(set.word(33), QStringLiteral("0600"));
        QVERIFY(chooseFromMenu(control<QWidget>(set.reader4.get(), 1332), 32779));
        QCOMPARE(set.word(33), QStringLiteral("1600"));
    }

    void changeKeepsOtherRows()
    {
        PageSet set;
        set.setWord(10, "0155");
        set.setWord(30, "8AAA");  // foreign bits in the other rows stay
        set.setWord(11, "7FFF");
        set.setWord(34, "0800");
        set.reader1->OnSetActive();
        set.state->puts.clear();
        QTest::keyClick(control<QWidget>(set.reader1.get(), 1041), Qt::Key_Down);  // T1 relay 2
        QCOMPARE(set.state->puts.size(), std::size_t(1));
        QCOMPARE(set.word(10), QStringLiteral("0159"));
        QCOMPARE(set.word(30), QStringLiteral("8AAA"));
        QCOMPARE(set.word(11), QStringLiteral("7FFF"));
        QCOMPARE(set.word(34), QStringLiteral("0800"));
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

    void activationReloads()
    {
        PageSet set;
        auto* field = control<CActionEdit>(set.reader3.get(), 1103);  // TB3 relay 1
        QCOMPARE(field->text(), QStringLiteral("No effect"));
        set.setWord(15, "0002");  // changed behind the page's back (a file load)
        QCOMPARE(field->text(), QStringLiteral("No effect"));
        set.reader3->OnSetActive();
        QCOMPARE(field->text(), QStringLiteral("On - 5 sec"));
        // Registration follows the image both ways.
        set.setWord(15, "0100");
        set.reader3->OnSetActive();
        QVERIFY(control<QCheckBox>(set.reader3.get(), 1121)->isChecked());
        set.setWord(15, "0000");
        set.reader3->OnSetActive();
        QVERIFY(!control<QCheckBox>(set.reader3.get(), 1121)->isChecked());
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

    void destroyClosesThePort()
    {
        auto state = std::make_shared<FakeState>();
        {
            CRK40TKPropPage page(std::make_unique<FakeControl>(state));
            QCOMPARE(state->destroyCalls, 0);
        }
        QCOMPARE(state->destroyCalls, 1);
        QVERIFY(!state->alive);
    }

    void defaultConstructorUsesFactory()
    {
        auto state = std::make_shared<FakeState>();
        CRK40TKPropPage::setControlFactory([state] { return std::make_unique<FakeControl>(state); });
        CRK40TKPropPage page;
        QVERIFY(page.comm().isCreated());
        QCOMPARE(state->eeprom[37], QStringLiteral("0000"));
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

    // The Sensors and Egress pages: their rows behave as reader rows do.
    void eventPageRows()
    {
        PageSet set;
        QCOMPARE(set.sensors->rowWords(), (std::vector<int>{18, 19, 20, 21, 22, 23, 24, 25}));
        QCOMPARE(set.egress->rowWords(), (std::vector<int>{26, 27, 28, 29}));
    }

    void registrationBothWays()
    {
        PageSet set;
        set.egress->show();
        auto* box = control<QCheckBox>(set.egress.get(), 1355);
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QCOMPARE(set.word(29), QStringLiteral("0100"));
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        QCOMPARE(set.word(29), QStringLiteral("0000"));
        // The space bar works as well.
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        QCOMPARE(set.word(29), QStringLiteral("0100"));
    }

    void terminalWordsLoadWithoutBit15()
    {
        // Each word of 18..29 with bit 15 shows what the word without it shows.
        PageSet plain, marked;
        const QStringList values{"0155", "3AFF", "1203", "0640", "2DB1", "0001", "30C0", "0100", "0E1B", "1555", "27FF", "0000"};
        for (int a = 18; a <= 29; ++a) {
            const QString v = values[a - 18];
            plain.setWord(a, v);
            marked.setWord(a, fields::formatWord(static_cast<std::uint16_t>(fields::scanWord(v) | 0x8000)));
        }
        for (auto* sets : {&plain, &marked}) {
            sets->sensors->OnSetActive();
            sets->egress->OnSetActive();
        }
        for (auto pages : {std::pair<QWidget*, QWidget*>{plain.sensors.get(), marked.sensors.get()},
                           std::pair<QWidget*, QWidget*>{plain.egress.get(), marked.egress.get()}}) {
            const auto a = pages.first->findChildren<QLineEdit*>();
            for (QLineEdit* e : a)
                QCOMPARE(control<QLineEdit>(pages.second, e->objectName().toInt())->text(), e->text());
            for (QCheckBox* b : pages.first->findChildren<QCheckBox*>())
                QCOMPARE(control<QCheckBox>(pages.second, b->objectName().toInt())->isChecked(), b->isChecked());
        }
        // Spot checks of what was shown.
        QCOMPARE(control<CActionEdit>(marked.sensors.get(), 1268)->text(), QStringLiteral("Off"));
        QCOMPARE(control<CConditionEdit>(marked.sensors.get(), 1336)->text(), QStringLiteral("S2 = E2"));
        QVERIFY(control<QCheckBox>(marked.egress.get(), 1353)->isChecked());
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
};

QTEST_MAIN(TestReaderPages)
#include "tst_readerpages.moc"
