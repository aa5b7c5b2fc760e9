// rk40ctl end to end: registered through regctl, driving the control
// against the simulated terminal on a pseudo-terminal.

#include "RunProgram.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include "rk40sim/Terminal.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using testsupport::bytes;
using testsupport::readAll;
using testsupport::Run;
using testsupport::runProgram;

class Rk40ctlTest : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TestEnvironment> m_env;
    QByteArray path(const QString& name) const { return m_env->path(name).toUtf8(); }

private slots:
    // Each test in a world of its own, with the control registered by regctl.
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QCOMPARE(runProgram("regctl", {"-s", testsupport::TestEnvironment::controlModulePath()}).status, 0);
    }
    void cleanup()
    {
        qunsetenv("RK40_COM1");
        qunsetenv("RK40_COM2");
        m_env.reset();
    }

    void registrationIsRepeatable()
    {
        const QString module = testsupport::TestEnvironment::controlModulePath();
        const QString registry = m_env->path("config/Veltrona/components.ini");
        const QByteArray once = readAll(registry);   // registered by init()
        QVERIFY(once.contains("RK40COMM.RK40CommCtrl.1"));
        QCOMPARE(runProgram("regctl", {"-s", "-u", module}).status, 0);
        QVERIFY(!readAll(registry).contains("RK40COMM"));
        QCOMPARE(runProgram("regctl", {"-s", module}).status, 0);
        QCOMPARE(readAll(registry), once);
    }

    void readsAndWritesWordsThroughScripts()
    {
        rk40sim::Terminal terminal;
        terminal.setWord(10, 0x1234);
        // A status text that would set the window title and clear the screen.
        terminal.setStatus("\x1b]0;owned\x07\x1b[2J", "08.01.03307:09", "0005");
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));

        const QByteArray script =
            "# read word 10, write 8000 to it, read the status\n"
            "put AsciiFileName \"" + path("reg.txt") + "\"\n"
            "put WorkOnLine FALSE\n"
            "InitTerminal 0\n"
            "ReadEEPR 10\n"
            "get EepromLoc 10\n"
            "WriteEEPR 10 32768\n"
            "GetStatus\n"
            "get Firmware\n"
            "DestroyTerminal\n"
            "ReadEEPR 10\n";
        const Run run = runProgram("rk40ctl", {}, script);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out, QString("InitTerminal = TRUE\nReadEEPR = 0\nEepromLoc[10] = 1234\nWriteEEPR = 0\nGetStatus = 0\n"
                                  "Firmware = \\x1b]0;owned\\x07\\x1b[2J\nReadEEPR = 1\n"));
        QCOMPARE(terminal.word(10), std::uint16_t(0x8000));
        // The write as it went on the line: SOH, the letter twice, address,
        // value and checksum; the status text printed with escapes.
        QVERIFY(bytes(terminal.received()).contains(QByteArray("\x01" "bb0A8000\x79")));
    }

    // Why the port failed, in words on standard error: an InitTerminal on a
    // missing device, and an on-line device that goes away (ErrMessage).
    void tellsWhyThePortFailed()
    {
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        qputenv("RK40_COM2", path("gone"));
        QProcess ctl;
        ctl.start(testsupport::TestEnvironment::programFolder() + "/rk40ctl", QStringList{});
        QVERIFY(ctl.waitForStarted(30000));
        ctl.write("put AsciiFileName \"" + path("reg.txt")
                  + "\"\nInitTerminal 1\nInitTerminal 0\nwait 5000\nget ErrCode\n");
        ctl.closeWriteChannel();
        // Once the control holds the port (its lock file is there), the
        // terminal's side goes away.
        const QString lock = QDir(qEnvironmentVariable("RK40_LOCK_DIR"))
                                 .filePath("LCK.." + QFileInfo(QString::fromStdString(terminal.slavePath())).fileName());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 30000);
        terminal.disconnectNow();
        QVERIFY(ctl.waitForFinished(120000));
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        QVERIFY2(err.contains(QString("line 2: %1 does not exist (is the device plugged in?)").arg(QString(path("gone")))),
                 qPrintable(err));
        QVERIFY2(err.contains(QString("line 4: the device was removed (%1)").arg(QString::fromStdString(terminal.slavePath()))),
                 qPrintable(err));
        QVERIFY(QString::fromUtf8(ctl.readAllStandardOutput()).contains("event ErrMessage()\nErrCode = 110\n"));
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
        const Run run = runProgram("rk40ctl", {}, script);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void callsBeforeInitTerminalFailAtTheLock()
    {
        const Run run = runProgram("rk40ctl", {}, "ReadEEPR 10\nWriteEEPR 10 32768\nget BaudRate\nget WorkOnLine\n");
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out, QString("ReadEEPR = -1\nWriteEEPR = -1\nBaudRate = 9600\nWorkOnLine = TRUE\n"));
    }
};

QTEST_GUILESS_MAIN(Rk40ctlTest)
#include "tst_rk40ctl.moc"
