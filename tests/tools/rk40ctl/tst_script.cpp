// The rk40ctl line language: what a line means (how values print is in the
// end-to-end test).

#include "Script.h"

#include <QTest>

using rk40ctl::ScriptLine;

class ScriptTest : public QObject {
    Q_OBJECT
private slots:
    void parsesLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariantList>("args");
        QTest::newRow("method with integer") << "ReadEEPR 10" << int(ScriptLine::Kind::Call) << "ReadEEPR" << QVariantList{10LL};
        QTest::newRow("hex and decimal") << "WriteEEPR 0x0A 32768" << int(ScriptLine::Kind::Call) << "WriteEEPR" << QVariantList{10LL, 32768LL};
        QTest::newRow("negative") << "InitTerminal -1" << int(ScriptLine::Kind::Call) << "InitTerminal" << QVariantList{-1LL};
        QTest::newRow("indexed get") << "get EepromLoc 10" << int(ScriptLine::Kind::Get) << "EepromLoc" << QVariantList{10LL};
        QTest::newRow("quoted text") << "put TermMessage \"Good \\\"day\\\"\"" << int(ScriptLine::Kind::Put) << "TermMessage" << QVariantList{QString("Good \"day\"")};
        QTest::newRow("quoted digits stay text") << "put EepromLoc 10 \"8000\"" << int(ScriptLine::Kind::Put) << "EepromLoc" << QVariantList{10LL, QString("8000")};
        QTest::newRow("bare text") << "TxDayType 1abcdefgh" << int(ScriptLine::Kind::Call) << "TxDayType" << QVariantList{QString("1abcdefgh")};
        QTest::newRow("BOOL words") << "put WorkOnLine FALSE" << int(ScriptLine::Kind::Put) << "WorkOnLine" << QVariantList{false};
        QTest::newRow("comment") << "  # ReadEEPR 10" << int(ScriptLine::Kind::Empty) << "" << QVariantList{};
        QTest::newRow("blank") << "   " << int(ScriptLine::Kind::Empty) << "" << QVariantList{};
        QTest::newRow("wait") << "wait 250" << int(ScriptLine::Kind::Wait) << "" << QVariantList{250LL};
    }
    void parsesLines()
    {
        QFETCH(QString, line);
        QFETCH(int, kind);
        QFETCH(QString, name);
        QFETCH(QVariantList, args);
        ScriptLine s;
        QString error;
        QVERIFY2(rk40ctl::parseLine(line, s, &error), qPrintable(error));
        QCOMPARE(int(s.kind), kind);
        QCOMPARE(s.name, name);
        QCOMPARE(s.args, args);
    }

    void refusesMalformedLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("unterminated quote") << "put TermMessage \"abc";
        QTest::newRow("get without name") << "get";
        QTest::newRow("put without value") << "put BaudRate";
        QTest::newRow("wait without number") << "wait soon";
        QTest::newRow("negative wait") << "wait -5";
        QTest::newRow("number first") << "10 ReadEEPR";
    }
    void refusesMalformedLines()
    {
        QFETCH(QString, line);
        ScriptLine s;
        QString error;
        QVERIFY(!rk40ctl::parseLine(line, s, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_APPLESS_MAIN(ScriptTest)
#include "tst_script.moc"
