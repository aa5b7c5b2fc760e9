// termset-cli and local serial devices: a device given by path, the local
// port list, why a port cannot be had, and a device that goes away.

#include "platform/serial/PortLocks.h"
#include "CliSupport.h"
#include "RunProgram.h"

#include "rk40sim/Terminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <thread>

using testsupport::writeFile;

namespace {

using testsupport::Run;

QString cliPath() { return testsupport::TestEnvironment::programFolder() + "/termset-cli"; }

// The program as it is, or as another user (through setpriv) from `folder`.
Run runCli(const QStringList& args, const QStringList& asUser = {}, const QString& folder = {})
{
    if (asUser.isEmpty())
        return testsupport::runProgram(cliPath(), args);
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start("setpriv", asUser + QStringList{cliPath()} + args);
    p.waitForFinished(180000);
    return {p.exitCode(), {}, QString::fromUtf8(p.readAllStandardError())};
}

QByteArray actFile() { return testsupport::actFile(testsupport::addressWords()); }

} // namespace

class CliPortsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<rk40sim::Terminal> m_sim;
    QString m_pty;

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QString error;
        QVERIFY2(m_env->registerControl(&error), qPrintable(error));
        m_sim = std::make_unique<rk40sim::Terminal>();
        m_pty = QString::fromStdString(m_sim->slavePath());
        for (int a = 10; a <= 39; ++a)
            m_sim->setWord(a, quint16(0x8000 + a));
        for (int n = 1; n <= 10; ++n)
            qputenv(qPrintable(QString("RK40_COM%1").arg(n)), m_env->path("none").toLocal8Bit());
    }
    void cleanup()
    {
        for (int n = 1; n <= 10; ++n)
            qunsetenv(qPrintable(QString("RK40_COM%1").arg(n)));
        m_sim.reset();
        m_env.reset();
    }

    // The device by its path, inside the mapping (COM4) and outside it:
    // the transfer log names COM 04 and 00.
    void devicePathTarget_data()
    {
        QTest::addColumn<bool>("mapped");
        QTest::addColumn<QString>("logPort");
        QTest::newRow("mapped to COM4") << true << "04";
        QTest::newRow("outside the mapping") << false << "00";
    }
    void devicePathTarget()
    {
        QFETCH(bool, mapped);
        QFETCH(QString, logPort);
        if (mapped)
            qputenv("RK40_COM4", m_pty.toLocal8Bit());
        const Run read = runCli({"read", "--port", m_pty});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QCOMPARE(read.out.toLatin1(), actFile());
        writeFile(m_env->path("in.act"), actFile());
        testsupport::setPassword(*m_env);
        const Run write = runCli({"write", m_env->path("in.act"), "--port", m_pty, "--password-file", m_env->path("pw"),
                                  "--log", m_env->path("log")});
        QVERIFY2(write.status == 0, qPrintable(write.err));
        QFile log(m_env->path("log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray line = log.readLine();
        QVERIFY2(line.contains("COM_PORT: " + logPort.toLatin1() + "   REMOTE: None"), line.constData());
    }

    // A device outside the mapping is named by its path in every message,
    // never by the COM name the control happens to be given.
    void failuresNameThePathGiven_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("fault");
        QTest::addColumn<char>("letter");
        QTest::addColumn<QString>("expected");   // %1: the device
        QTest::newRow("silent terminal") << "status" << int(rk40sim::Fault::SilenceOnOpen) << char(0)
                                         << "Terminal busy! (%1, result code 1)";
        QTest::newRow("failed word") << "read" << int(rk40sim::Fault::Nak) << 'a' << "(%1, word 10, result code";
    }
    void failuresNameThePathGiven()
    {
        QFETCH(QString, command);
        QFETCH(int, fault);
        QFETCH(char, letter);
        QFETCH(QString, expected);
        m_sim->injectFault({rk40sim::Fault::Kind(fault), -1, letter}, rk40sim::kPersistent);
        const Run run = runCli({command, "--port", m_pty});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(expected.arg(m_pty)), qPrintable(run.err));
        QVERIFY2(!run.err.contains("COM1"), qPrintable(run.err));
    }

    // Another program's live lock file: exit 3 and its name, also in the
    // port list; a free device is listed as free.
    void busyPortNamesItsHolder()
    {
        qputenv("RK40_COM2", m_pty.toLocal8Bit());
        const Run free = runCli({"ports"});
        QCOMPARE(free.status, 0);
        QVERIFY2(free.out.contains(QString("COM2\t%1\tfree\n").arg(m_pty)), qPrintable(free.out));

        QProcess holder;
        holder.start("sleep", {"60"});
        QVERIFY(holder.waitForStarted());
        writeFile(QDir(qEnvironmentVariable("RK40_LOCK_DIR")).filePath(serial::lockFileName(m_pty)),
                  QByteArray::number(holder.processId()).rightJustified(10, ' ') + " minicom root\n");
        const QString busy = QString("%1 is in use by minicom (process %2)").arg(m_pty).arg(holder.processId());
        const Run read = runCli({"read", "--port", "COM2"});
        QCOMPARE(read.status, 3);
        QVERIFY2(read.err.contains(QString("ERROR: COM2 (%1) cannot be opened: %2").arg(m_pty, busy)), qPrintable(read.err));
        const Run list = runCli({"ports"});
        QVERIFY2(list.out.contains(QString("COM2\t%1\t%2\n").arg(m_pty, busy)), qPrintable(list.out));
        holder.kill();
        holder.waitForFinished();
    }

    // Run as nobody, who may not open the terminal's device (made like a
    // USB adapter: root:dialout, 0660): the message names the group and the
    // fix.
    void noPermissionNamesTheGroup()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run a program as nobody");
        // nobody reads the test's world; only the lock folder is open to all,
        // as /run/lock is (an open registry folder would be refused).
        QProcess::execute("chmod", {"-R", "o+rX", m_env->root()});
        QProcess::execute("chmod", {"o+w", m_env->path("lock")});
        QCOMPARE(QProcess::execute("chown", {"root:dialout", m_pty}), 0);
        QCOMPARE(QProcess::execute("chmod", {"0660", m_pty}), 0);
        // Started in a folder nobody may write to.
        const Run read = runCli({"read", "--port", m_pty}, {"--reuid=nobody", "--regid=nogroup", "--clear-groups"},
                                m_env->root());
        QCOMPARE(read.status, 3);
        QVERIFY2(read.err.contains(QString("no permission to open %1, which belongs to the group dialout: add yourself "
                                           "to the group dialout and log in again")
                                       .arg(m_pty)),
                 qPrintable(read.err));
    }

    // The terminal's side closes in the middle of a read: exit 3 and the
    // removal in the message (bench_removal times it).
    void removalMidRead()
    {
        m_sim->setWireTiming(2400);   // the read is not over before the removal
        std::thread vanish([this] {
            if (m_sim->waitForCommand('a', 12, std::chrono::seconds(120)))
                m_sim->disconnectNow();
        });
        const Run read = runCli({"read", "--port", m_pty});
        vanish.join();
        QCOMPARE(read.status, 3);
        QVERIFY2(read.err.contains(QString("the device was removed (%1)").arg(m_pty)), qPrintable(read.err));
        QVERIFY(read.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CliPortsTest)
#include "tst_cli_ports.moc"
