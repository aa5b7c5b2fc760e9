// The Sensors and Egress pages: their rows behave as reader rows do.

#include "PageFixture.h"

#include <QTest>

using namespace testpages;

class TestEventPages : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QVERIFY(!QApplication::activePopupWidget()); }

    void shape()
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

QTEST_MAIN(TestEventPages)
#include "tst_eventpages.moc"
