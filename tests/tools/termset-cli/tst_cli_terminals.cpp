// termset-cli against simulated terminals on pseudo-terminals: keys and
// clock (what each command sends, prints and logs, key files refused whole,
// a terminal that refuses one key, several terminals at once) and local
// serial devices (a device given by path, the local port list, why a port
// cannot be had, a device that goes away).

#include "platform/serial/PortLocks.h"
#include "CliSupport.h"
#include "RunProgram.h"

#include "rk40sim/Terminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <thread>

using testsupport::readAll;
using testsupport::Run;
using testsupport::writeFile;

namespace {

// Keys given as "ID:ACCESS" in container order.
void setKeys(rk40sim::Terminal& t, const QStringList& keys)
{
    t.clearIdTable();
    for (const QString& k : keys)
        t.addIdElement(rk40sim::Terminal::reverseIdBytes(k.section(':', 0, 0).toStdString()),
                       static_cast<std::uint8_t>(k.section(':', 1).toInt()));
}

QStringList keysOf(const rk40sim::Terminal& t)
{
    QStringList out;
    for (const rk40sim::IdElement& e : t.idTable())
        out << QString::fromStdString(rk40sim::Terminal::reverseIdBytes(e.wireId)) + ':' + QString::number(e.access);
    out.sort();
    return out;
}

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

const QStringList kThree{"0123456789ABCD:5", "11111111111111:200", "22222222222222:7"};

} // namespace

class CliTerminalsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<rk40sim::Terminal> m_sim;
    QString m_pty;

    QString path(const QString& name) const { return m_env->path(name); }
    Run cli(QStringList args, const rk40sim::Terminal* on = nullptr)
    {
        args << "--port" << QString::fromStdString((on ? *on : *m_sim).slavePath()) << "--log" << path("log");
        if (args.first() == "keys" && QStringList{"add", "remove", "clear", "sync"}.contains(args.at(1)))
            args << "--password-file" << path("pw");
        return testsupport::runProgram("termset-cli", args);
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QString error;
        QVERIFY2(m_env->registerControl(&error), qPrintable(error));
        testsupport::setPassword(*m_env);
        m_sim = std::make_unique<rk40sim::Terminal>();
        m_pty = QString::fromStdString(m_sim->slavePath());
        setKeys(*m_sim, kThree);
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

    // Each command on a terminal holding kThree: its exit status, output,
    // the table afterwards and the key frames sent ('i' adds, 'e' removes).
    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("file");    // keys.csv, when given
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("adds");
        QTest::addColumn<int>("removes");
        const QByteArray wanted = "id,access,name\r\n0123456789abcd,6,Ana\r\n22222222222222,7,\"Bob, jr\"\r\n"
                                  "33333333333333,9,\r\n";
        const QStringList synced{"0123456789ABCD:6", "22222222222222:7", "33333333333333:9"};
        QTest::newRow("list") << QStringList{"keys", "list"} << QByteArray() << 0
                              << "0123456789ABCD       5\n11111111111111     200\n" << kThree << 0 << 0;
        QTest::newRow("add") << QStringList{"keys", "add", "aabbccddeeff00", "1"} << QByteArray() << 0 << ""
                             << (QStringList(kThree) << "AABBCCDDEEFF00:1") << 1 << 0;
        QTest::newRow("remove") << QStringList{"keys", "remove", "11111111111111"} << QByteArray() << 0 << ""
                                << QStringList{kThree.at(0), kThree.at(2)} << 0 << 1;
        QTest::newRow("clear") << QStringList{"keys", "clear", "--yes"} << QByteArray() << 0 << "" << QStringList()
                               << 0 << 0;
        QTest::newRow("diff, same") << QStringList{"keys", "diff", "@keys.csv"}
                                    << ("id,access,name\n" + QStringList(kThree).join(",\n").replace(':', ',') + ",\n").toUtf8()
                                    << 0 << "" << kThree << 0 << 0;
        QTest::newRow("diff, differs") << QStringList{"keys", "diff", "@keys.csv"} << wanted << 1
                                       << "~ 0123456789ABCD 5 -> 6\n- 11111111111111\n+ 33333333333333 9\n" << kThree
                                       << 0 << 0;
        QTest::newRow("sync sends the difference") << QStringList{"keys", "sync", "@keys.csv"} << wanted << 0
                                                   << "~ 0123456789ABCD 5 -> 6" << synced << 2 << 2;
        QTest::newRow("sync, dry run") << QStringList{"keys", "sync", "@keys.csv", "--dry-run"} << wanted << 1
                                       << "+ 33333333333333 9" << kThree << 0 << 0;
        QTest::newRow("clear needs --yes in a script") << QStringList{"keys", "clear"} << QByteArray() << 2 << ""
                                                       << kThree << 0 << 0;
    }
    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QStringList, after);
        QFETCH(int, adds);
        QFETCH(int, removes);
        writeFile(path("keys.csv"), file);
        args.replaceInStrings("@keys.csv", path("keys.csv"));
        const Run run = cli(args);
        QVERIFY2(run.status == status, qPrintable(run.err));
        QVERIFY2(run.out.contains(out), qPrintable(run.out));
        QCOMPARE(keysOf(*m_sim), after);
        QCOMPARE(m_sim->commandCount('i'), adds);
        QCOMPARE(m_sim->commandCount('e'), removes);
        // Every change taken is in the audit file, one whole line each.
        const QList<QByteArray> lines = readAll(path("keys.log")).split('\n');
        QCOMPARE(lines.size() - 1, adds + removes);
    }

    // A key file with a fault anywhere is refused whole: nothing is sent.
    void refusedKeyFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no header") << QByteArray("0123456789ABCD,5,\n") << "line 1: the first line must be the header";
        QTest::newRow("short id") << QByteArray("id,access,name\n0123456789ABC,5,\n") << "line 2: the id";
        QTest::newRow("access 256") << QByteArray("id,access,name\n0123456789ABCD,5,\n11111111111111,256,\n")
                                    << "line 3: the access \"256\"";
        QTest::newRow("duplicate, other case") << QByteArray("id,access,name\nabcdefabcdefab,5,\nABCDEFABCDEFAB,6,\n")
                                               << "line 3: the id ABCDEFABCDEFAB is given twice";
        QTest::newRow("after a name of two lines")
            << QByteArray("id,access,name\nABCDEFABCDEFAB,5,\"two\nlines\"\n11111111111111,300,\n")
            << "line 4: the access \"300\"";
        QTest::newRow("open quote") << QByteArray("id,access,name\nABCDEFABCDEFAB,5,\"name\n") << "line 2: a quoted field";
    }
    void refusedKeyFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, reason);
        writeFile(path("keys.csv"), file);
        const Run run = cli({"keys", "sync", path("keys.csv")});
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains(reason), qPrintable(run.err));
        QCOMPARE(m_sim->openingCount(), 0);
    }

    // The terminal refuses one key: the others are still sent, the program
    // names the key and ends non-zero.
    void partlyRefusedSync()
    {
        writeFile(path("keys.csv"), "id,access,name\n44444444444444,1,\n55555555555555,2,\n");
        m_sim->clearIdTable();
        m_sim->injectFault({rk40sim::Fault::ResultOne, -1, 'i'});
        const Run run = cli({"keys", "sync", path("keys.csv")});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains("key 44444444444444 was not added: AddIDElement: the terminal could not carry the "
                                  "command out (result code -3)"),
                 qPrintable(run.err));
        QCOMPARE(m_sim->commandCount('i'), 2);
    }

    // A listing in CSV is a backup that sync restores.
    void csvRoundTrip()
    {
        QStringList fifty;
        for (int i = 0; i < 50; ++i)
            fifty << QString::asprintf("%014llX:%d", 0x1000000000001ull * unsigned(i + 1), (i * 37) % 256);
        setKeys(*m_sim, fifty);
        const Run list = cli({"keys", "list", "--format", "csv"});
        QCOMPARE(list.status, 0);
        writeFile(path("backup.csv"), list.out.toUtf8());
        QCOMPARE(cli({"keys", "clear", "--yes"}).status, 0);
        QVERIFY(m_sim->idTable().empty());
        const Run sync = cli({"keys", "sync", path("backup.csv")});
        QVERIFY2(sync.status == 0, qPrintable(sync.err));
        fifty.sort();
        QCOMPARE(keysOf(*m_sim), fifty);
        QCOMPARE(cli({"keys", "list", "--format", "csv"}).out, list.out);
    }

    void clockSet()
    {
        const Run run = cli({"clock", "--set"});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QRegularExpressionMatch after =
            QRegularExpression("after: terminal .*, difference (-?\\d+) minute").match(run.out);
        QVERIFY2(after.hasMatch(), qPrintable(run.out));
        QVERIFY2(qAbs(after.captured(1).toInt()) <= 1, qPrintable(run.out));
    }

    // A write to two terminals of which one is silent: the other is written
    // and logged, the silent one named, and the exit status is the failure's.
    void worstStatusOfSeveral()
    {
        writeFile(path("door.act"), testsupport::actFile(testsupport::addressWords()));
        rk40sim::Terminal silent;
        silent.injectFault({rk40sim::Fault::SilenceOnOpen}, rk40sim::kPersistent);
        const QString silentPath = QString::fromStdString(silent.slavePath());
        const Run write = cli({"write", path("door.act"), "--port", silentPath, "--password-file", path("pw")});
        QCOMPARE(write.status, 3);
        QVERIFY2(write.err.startsWith(silentPath + ": "), qPrintable(write.err));
        QCOMPARE(m_sim->word(39), quint16(0x8000 + 39));
        QCOMPARE(readAll(path("log")).count('\n'), 1);
    }

    // Eight terminals at once: each result line starts with its target, and
    // the audit file has eight whole lines.
    void eightTerminalsAtOnce()
    {
        std::vector<std::unique_ptr<rk40sim::Terminal>> sims;
        QStringList args{"keys", "add", "66666666666666", "42", "--password-file", path("pw"), "--log", path("log")};
        for (int i = 0; i < 8; ++i) {
            sims.push_back(std::make_unique<rk40sim::Terminal>());
            args << "--port" << QString::fromStdString(sims.back()->slavePath());
        }
        const Run add = testsupport::runProgram("termset-cli", args);
        QVERIFY2(add.status == 0, qPrintable(add.err));
        const QList<QByteArray> lines = readAll(path("keys.log")).split('\n');
        QCOMPARE(lines.size(), 9);
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(keysOf(*sims[std::size_t(i)]), QStringList{"66666666666666:42"});
            QVERIFY2(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d{4}\\. \\d\\d:\\d\\d:\\d\\d \\S+ /dev/pts/\\d+ added "
                                        "66666666666666 42$")
                         .match(QString::fromUtf8(lines.at(i)))
                         .hasMatch(),
                     lines.at(i).constData());
        }
        // Eight programs at once, one terminal each: eight more whole lines.
        std::vector<std::unique_ptr<QProcess>> programs;
        for (const auto& sim : sims) {
            programs.push_back(std::make_unique<QProcess>());
            programs.back()->start(testsupport::TestEnvironment::programFolder() + "/termset-cli",
                                   {"keys", "remove", "66666666666666", "--port", QString::fromStdString(sim->slavePath()),
                                    "--password-file", path("pw"), "--log", path("log")});
        }
        for (const auto& program : programs)
            QVERIFY(program->waitForFinished(180000) && program->exitCode() == 0);
        const QStringList all = QString::fromUtf8(readAll(path("keys.log"))).split('\n');
        QCOMPARE(all.size(), 17);
        QCOMPARE(all.filter(QRegularExpression(" /dev/pts/\\d+ removed 66666666666666 -$")).size(), 8);
        args.replaceInStrings("add", "list");
        args.removeAll("66666666666666");
        args.removeAll("42");
        args.removeAll("--password-file");
        args.removeAll(path("pw"));
        const Run list = testsupport::runProgram("termset-cli", args);
        QCOMPARE(list.status, 0);
        for (const QString& line : list.out.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(QRegularExpression("^/dev/pts/\\d+: ").match(line).hasMatch(), qPrintable(line));
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
        for (int a = 10; a <= 39; ++a)
            m_sim->setWord(a, quint16(0x8000 + a));
        if (mapped)
            qputenv("RK40_COM4", m_pty.toLocal8Bit());
        const Run read = runCli({"read", "--port", m_pty});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QCOMPARE(read.out.toLatin1(), actFile());
        writeFile(m_env->path("in.act"), actFile());
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

QTEST_GUILESS_MAIN(CliTerminalsTest)
#include "tst_cli_terminals.moc"
