// The LED page (word 38) and the Random page (word 39) with its frequency
// checks.

#include "PageFixture.h"
#include "RecordingPrompter.h"

#include <QLineEdit>
#include <QTest>

using namespace testpages;

class TestLedRandom : public QObject {
    Q_OBJECT
    static QLineEdit* frequency(PageSet& set) { return control<QLineEdit>(set.random.get(), 1219); }
    static QCheckBox* touch(PageSet& set, int k) { return control<QCheckBox>(set.random.get(), 1220 + k); }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }

private slots:
    void cleanup() { QVERIFY(!QApplication::activePopupWidget()); }

    void ledChoice_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("value");
        QTest::newRow("LED 1 green __--____") << 1196 << 32788 << "C000";
        QTest::newRow("LED 4 red ---_---------") << 1200 << 32787 << "0001";
        QTest::newRow("LED 2 red ---_---------") << 1198 << 32787 << "0100";
        QTest::newRow("LED 3 green __------__") << 1091 << 32790 << "0080";
        QTest::newRow("LED 3 red __--____") << 1199 << 32788 << "0030";
        QTest::newRow("unchanged choice stores too") << 1095 << 32786 << "0000";
    }
    void ledChoice()
    {
        QFETCH(int, id);
        QFETCH(int, command);
        QFETCH(QString, value);
        PageSet set;
        set.setWord(38, "0000");
        set.led->show();
        set.led->OnSetActive();
        set.state->puts.clear();
        QVERIFY(chooseFromMenu(control<QWidget>(set.led.get(), id), command));
        QCOMPARE(set.state->puts.size(), std::size_t(1));
        QCOMPARE(set.state->puts[0].first, 38);
        QCOMPARE(set.state->puts[0].second, value);
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
        set.setWord(39, "1E05");
        set.state->puts.clear();
        set.random->show();
        set.random->OnSetActive();
        QLineEdit* f = frequency(set);
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
        set.setWord(39, "0000");
        set.random->show();
        set.random->OnSetActive();
        QLineEdit* f = frequency(set);
        f->setFocus();
        f->selectAll();
        set.state->puts.clear();
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
        set.setWord(39, "1E00");
        set.random->OnSetActive();
        QLineEdit* f = frequency(set);
        f->setFocus();
        f->end(false);
        set.state->puts.clear();
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

QTEST_MAIN(TestLedRandom)
#include "tst_ledrandom.moc"
