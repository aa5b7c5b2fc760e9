// rk40ctl end to end: registered through regctl, driving the control
// against the simulated terminal on a pseudo-terminal.

#include "RunProgram.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include "rk40sim/Terminal.h"

#include <QProcess>
#include <QTest>

using testsupport::bytes;
using testsupport::Run;
using testsupport::runProgram;

class Rk40ctlTest : public QObject {
    Q_OBJECT
private slots:
    void registrationIsRepeatable()
    {
        testsupport::TestEnvironment env;
        const QString module = testsupport::TestEnvironment::controlModulePath();
        const QString registry = env.path("config/Veltrona/components.ini");
        QCOMPARE(runProgram("regctl", {"-s", module}).status, 0);
        QFile f(registry);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray once = f.readAll();
        f.close();
        QVERIFY(once.contains("RK40COMM.RK40CommCtrl.1"));
        QCOMPARE(runProgram("regctl", {"-s", "-u", module}).status, 0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(!f.readAll().contains("RK40COMM"));
        f.close();
        QCOMPARE(runProgram("regctl", {"-s", module}).status, 0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), once);
    }

    void readsAndWritesWordsThroughScripts()
    {
        testsupport::TestEnvironment env;
        QCOMPARE(runProgram("regctl", {"-s", testsupport::TestEnvironment::controlModulePath()}).status, 0);
        rk40sim::Terminal terminal;
        terminal.setWord(10, 0x1234);
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));

        const QByteArray script =
            "# read word 10, then write 8000 to it\n"
            "put AsciiFileName \"" + env.path("reg.txt").toUtf8() + "\"\n"
            "put WorkOnLine FALSE\n"
            "InitTerminal 0\n"
            "ReadEEPR 10\n"
            "get EepromLoc 10\n"
            "WriteEEPR 10 32768\n"
            "DestroyTerminal\n"
            "ReadEEPR 10\n";
        const Run run = runProgram("rk40ctl", {}, script);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out, QString("InitTerminal = TRUE\nReadEEPR = 0\nEepromLoc[10] = 1234\nWriteEEPR = 0\nReadEEPR = 1\n"));
        QCOMPARE(terminal.word(10), std::uint16_t(0x8000));
        // The write as it went on the line: SOH, the letter twice, address,
        // value and checksum.
        QVERIFY(bytes(terminal.received()).contains(QByteArray("\x01" "bb0A8000\x79")));
        qunsetenv("RK40_COM1");
    }

    void refusesUnknownMembersAndBadArguments_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("unknown member") << QByteArray("Frobnicate 1\n") << "Frobnicate";
        QTest::newRow("text for an integer") << QByteArray("ReadEEPR ten\n") << "ReadEEPR";
        QTest::newRow("missing argument") << QByteArray("WriteEEPR 10\n") << "WriteEEPR";
        QTest::newRow("index outside the table") << QByteArray("get EepromLoc 256\n") << "EepromLoc";
    }
    void refusesUnknownMembersAndBadArguments()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, complaint);
        testsupport::TestEnvironment env;
        QCOMPARE(runProgram("regctl", {"-s", testsupport::TestEnvironment::controlModulePath()}).status, 0);
        const Run run = runProgram("rk40ctl", {}, script);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void callsBeforeInitTerminalFailAtTheLock()
    {
        testsupport::TestEnvironment env;
        QCOMPARE(runProgram("regctl", {"-s", testsupport::TestEnvironment::controlModulePath()}).status, 0);
        const Run run = runProgram("rk40ctl", {}, "ReadEEPR 10\nWriteEEPR 10 32768\nget BaudRate\nget WorkOnLine\n");
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out, QString("ReadEEPR = -1\nWriteEEPR = -1\nBaudRate = 9600\nWorkOnLine = TRUE\n"));
    }
};

QTEST_GUILESS_MAIN(Rk40ctlTest)
#include "tst_rk40ctl.moc"
