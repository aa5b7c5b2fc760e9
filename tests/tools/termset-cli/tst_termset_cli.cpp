// termset-cli end to end: the built program, with the control registered in
// a private registry, against the simulated terminal on a pseudo-terminal
// and the simulated gateway on loopback.

#include "Registry.h"
#include "RunProgram.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include "GatewaySimulator.h"
#include "rk40sim/Terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <optional>

using testsupport::readAll;
using testsupport::Run;

using testsupport::writeFile;

namespace {

Run runCli(const QStringList& args, const QByteArray& input = {}, const QString& program = "termset-cli")
{
    return testsupport::runProgram(program, args, input);
}

// The lines of an .act file for the given words 10..39.
QByteArray actFile(const std::array<quint16, 30>& words)
{
    QByteArray out;
    for (int i = 0; i < 30; ++i)
        out += QString::asprintf("%02d %04X\r\n", i + 10, unsigned(words[static_cast<std::size_t>(i)])).toLatin1();
    return out;
}

// A configuration as a terminal gives it back: row words with bit 15 set
// and bit 14 clear, the LED and random words with every bit in use.
std::array<quint16, 30> sampleWords()
{
    std::array<quint16, 30> w{};
    for (int i = 0; i < 28; ++i)
        w[static_cast<std::size_t>(i)] = static_cast<quint16>(0x8000 | ((0x0155 + 0x0123 * i) & 0x37FF));
    w[28] = 0xC3A5;  // LED
    w[29] = 0xFF0F;  // random: frequency 255, all touch contacts
    return w;
}

constexpr quint16 kChecksumOfSecret = 0x23D2;  // CRC-16/ARC of "secret", checked below

// Sets the password checksum in the private profile, as Termset's Change
// Password does.
void setPassword(const testsupport::TestEnvironment& env, std::optional<int> checksum)
{
    QDir().mkpath(env.path("config/Veltrona"));
    QByteArray ini = "[Settings]\n";
    if (checksum)
        ini += "Param1=" + QByteArray::number(*checksum) + "\n";
    writeFile(env.path("config/Veltrona/Termset.conf"), ini);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<quint16>)

class TermsetCliTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestEnvironment> m_env;

    QString path(const QString& name) const { return m_env->path(name); }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QString error;
        QVERIFY2(m_env->registerControl(&error), qPrintable(error));
        writeFile(path("pw"), "secret\n");
        writeFile(path("wrong"), "Secret\n");
        setPassword(*m_env, kChecksumOfSecret);
    }
    void cleanup()
    {
        qunsetenv("RK40_COM1");
        qunsetenv("RK40_COM2");
        m_env.reset();
    }

    void helpVersionAndUsage()
    {
        const Run help = runCli({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains("usage: termset-cli"));
        QVERIFY(help.out.contains("Exit status"));
        const Run version = runCli({"--version"});
        QCOMPARE(version.status, 0);
        QVERIFY(version.out.startsWith("termset-cli "));
        const Run wrong = runCli({"erase", "--port", "COM1"});
        QCOMPARE(wrong.status, 2);
        QVERIFY(wrong.err.contains("unknown command"));
        QVERIFY(wrong.out.isEmpty());
        const Run language = runCli({"show", "x.act", "--language", "Klingon"});
        QCOMPARE(language.status, 2);
        QVERIFY(language.err.contains("Klingon"));
    }

    void serialWriteThenReadGivesTheSameFile()
    {
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        const QByteArray original = actFile(sampleWords());
        writeFile(path("in.act"), original);

        const Run write = runCli({"write", path("in.act"), "--port", "COM1", "--password-file", path("pw"), "--log",
                                  path("log")});
        QVERIFY2(write.status == 0, qPrintable(write.err));
        QVERIFY(write.out.isEmpty());
        for (int a = 10; a <= 39; ++a)
            QCOMPARE(terminal.word(a), sampleWords()[static_cast<std::size_t>(a - 10)]);
        const QList<QByteArray> log = readAll(path("log")).split('\n');
        QCOMPARE(log.size(), 2);  // one line and the empty rest
        QVERIFY2(log[0].endsWith("   COM_PORT: 01   REMOTE: None:00000\r"), log[0].constData());

        const Run read = runCli({"read", "--port", "COM1", "--baud", "9600", "-o", path("out.act")});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QCOMPARE(readAll(path("out.act")), original);
        // Reads log nothing.
        QCOMPARE(readAll(path("log")).count('\n'), 1);

        // Without -o the file goes to standard output.
        const Run toStdout = runCli({"read", "--port", "COM1"});
        QCOMPARE(toStdout.status, 0);
        QCOMPARE(toStdout.out.toLatin1(), original);
    }

    void writeSendsRowWordsWithBit15()
    {
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        std::array<quint16, 30> words{};
        words[0] = 0x4001;   // row word with bit 14
        words[1] = 0xFFFF;   // row word with every bit
        words[28] = 0xC000;  // LED word goes out as it is
        words[29] = 0x0100;
        writeFile(path("in.act"), actFile(words));
        const Run write = runCli({"write", path("in.act"), "--port", "COM1", "--password-file", path("pw"), "--log",
                                  path("log")});
        QVERIFY2(write.status == 0, qPrintable(write.err));
        QCOMPARE(terminal.word(10), quint16(0x8001));
        QCOMPARE(terminal.word(11), quint16(0xBFFF));
        QCOMPARE(terminal.word(12), quint16(0x8000));
        QCOMPARE(terminal.word(38), quint16(0xC000));
        QCOMPARE(terminal.word(39), quint16(0x0100));
        // Read back, the file differs in words but not in fields.
        const Run read = runCli({"read", "--port", "COM1", "-o", path("back.act")});
        QCOMPARE(read.status, 0);
        QVERIFY(readAll(path("back.act")).startsWith("10 8001\r\n11 BFFF\r\n"));
        const Run diff = runCli({"diff", path("in.act"), path("back.act")});
        QCOMPARE(diff.status, 0);
        QVERIFY(diff.out.isEmpty());
    }

    void everyReaderOfAFileSeesTheSameWords()
    {
        // Values of one to four hexadecimal digits in either case, as a
        // person may write them: the serial write, the remote write and
        // show all take each as the word it means.
        const quint32 seed = 20261207;
        QRandomGenerator random(seed);
        std::array<quint16, 30> words{};
        QByteArray file;
        for (int i = 0; i < 30; ++i) {
            const int digits = random.bounded(1, 5);
            const auto value = static_cast<quint16>(random.bounded(1u << (4 * digits)));
            words[static_cast<std::size_t>(i)] = value;
            QByteArray text = QByteArray::number(value, 16).rightJustified(digits, '0');
            for (char& c : text)
                c = random.bounded(2) ? char(std::toupper(c)) : c;
            file += QByteArray::number(i + 10) + ' ' + text + "\r\n";
        }
        writeFile(path("in.act"), file);
        const QString context = QStringLiteral("seed %1:\n%2").arg(seed).arg(QString::fromLatin1(file));

        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        const Run serial = runCli({"write", path("in.act"), "--port", "COM1", "--password-file", path("pw"), "--log",
                                   path("log")});
        QVERIFY2(serial.status == 0, qPrintable(serial.err));
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        const Run remote = runCli({"write", path("in.act"), "--remote",
                                   QStringLiteral("127.0.0.1:%1").arg(gateway.port()), "--serial", "1",
                                   "--password-file", path("pw"), "--log", path("log")});
        QVERIFY2(remote.status == 0, qPrintable(remote.err));
        for (int a = 10; a <= 39; ++a) {
            const quint16 v = words[static_cast<std::size_t>(a - 10)];
            // Row words go out with bit 15 set and bit 14 clear.
            const quint16 onWire = a <= 37 ? quint16((v & 0x3FFF) | 0x8000) : v;
            QVERIFY2(terminal.word(a) == onWire, qPrintable(context));
            QVERIFY2(gateway.terminal(1).eeprom[static_cast<std::size_t>(a)] == v, qPrintable(context));
        }

        writeFile(path("canonical.act"), actFile(words));
        const Run shown = runCli({"show", path("in.act")});
        QCOMPARE(shown.status, 0);
        QCOMPARE(shown.out, runCli({"show", path("canonical.act")}).out);
    }

    void statusInASharedFolderTouchesNothingThere()
    {
        // Another user planted reg.txt pointing at a file of ours.
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        QVERIFY(QDir().mkpath(path("shared")));
        QVERIFY(QFile::link(path("victim"), path("shared/reg.txt")));
        QProcess p;
        p.setWorkingDirectory(path("shared"));
        p.start(testsupport::TestEnvironment::programFolder() + "/termset-cli", {"status", "--port", "COM1"});
        QVERIFY(p.waitForFinished(180000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFile::exists(path("victim")));
        QCOMPARE(QDir(path("shared")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{"reg.txt"});
    }

    void statusPrintsTheDecodedText()
    {
        rk40sim::Terminal terminal;
        terminal.setStatus("RK40 V6.29", "08.01.03307:09", "0005");
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        const Run status = runCli({"status", "--port", "COM1"});
        QVERIFY2(status.status == 0, qPrintable(status.err));
        QCOMPARE(status.out, QString("Firmware: RK40 V6.29\n Time: 08.01.03 07:09\n Buffered: 0005\n"));
    }

    void busyTerminalStatus()
    {
        rk40sim::Terminal terminal;
        terminal.injectFault({rk40sim::Fault::Nak, -1, 'S'}, rk40sim::kPersistent);
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        const Run status = runCli({"status", "--port", "COM1"});
        QCOMPARE(status.status, 3);
        QVERIFY2(status.err.contains("Terminal busy! (COM1, result code "), qPrintable(status.err));
        QVERIFY(status.out.isEmpty());
    }

    void silentTerminalFailsTheTransfer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("read") << QStringList{"read", "--port", "COM1", "-o", "out.act"};
        QTest::newRow("write") << QStringList{"write", "in.act", "--port", "COM1", "--password-file", "pw"};
    }
    void silentTerminalFailsTheTransfer()
    {
        QFETCH(QStringList, args);
        for (QString& a : args)
            if (a.endsWith(".act") || a == "pw")
                a = path(a);
        rk40sim::Terminal terminal;
        terminal.setWord(10, 0x1234);
        terminal.injectFault({rk40sim::Fault::SilenceOnOpen}, rk40sim::kPersistent);
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        writeFile(path("in.act"), actFile(sampleWords()));

        const Run run = runCli(args + QStringList{"--log", path("log")});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains("An error occured during transmission. Try again!"), qPrintable(run.err));
        QVERIFY2(run.err.contains("word 10, result code"), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        // Nothing half-done is left behind: no file from the read, no log
        // line from the write, the terminal unchanged.
        QVERIFY(!QFile::exists(path("out.act")));
        QVERIFY(!QFile::exists(path("log")));
        QCOMPARE(terminal.word(10), quint16(0x1234));
    }

    void interruptStopsAWriteBetweenWords()
    {
        rk40sim::Terminal terminal;
        terminal.setWireTiming(2400);   // long enough to be stopped half-way
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        writeFile(path("in.act"), actFile(sampleWords()));

        QProcess p;
        p.start(testsupport::TestEnvironment::programFolder() + "/termset-cli",
                {"write", path("in.act"), "--port", "COM1", "--password-file", path("pw"), "--log", path("log")});
        QVERIFY(p.waitForStarted(30000));
        QVERIFY(terminal.waitForCommand('b', 2, std::chrono::seconds(60)));
        p.terminate();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("interrupted after"));
        // The words before the stop are in the terminal, the rest is not,
        // and an incomplete write is not logged.
        QVERIFY(terminal.commandCount('b') < 30);
        QCOMPARE(terminal.word(10), sampleWords()[0]);
        QCOMPARE(terminal.word(39), quint16(0));
        QVERIFY(!QFile::exists(path("log")));
    }

    void portThatDoesNotOpen()
    {
        qputenv("RK40_COM2", path("no-such-device").toLocal8Bit());
        const Run run = runCli({"status", "--port", "COM2"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains("COM2"), qPrintable(run.err));
        QVERIFY(run.err.contains("no-such-device"));
    }

    void writeWithoutTheRightPasswordChangesNothing_data()
    {
        QTest::addColumn<std::optional<quint16>>("checksum");
        QTest::addColumn<QString>("passwordFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong password") << std::optional<quint16>(kChecksumOfSecret) << "wrong" << "Wrong password.";
        QTest::newRow("no password given")
            << std::optional<quint16>(kChecksumOfSecret) << ""
            << "You won't be able to configure terminals until you enter the password.";
        QTest::newRow("no password set") << std::optional<quint16>() << "pw"
                                         << "Select \"File -> Change password\" menu option.";
        QTest::newRow("checksum 0 counts as none") << std::optional<quint16>(0) << "pw"
                                                   << "until you set the password";
    }
    void writeWithoutTheRightPasswordChangesNothing()
    {
        QFETCH(std::optional<quint16>, checksum);
        QFETCH(QString, passwordFile);
        QFETCH(QString, message);
        setPassword(*m_env, checksum);
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        writeFile(path("in.act"), actFile(sampleWords()));
        QStringList args{"write", path("in.act"), "--port", "COM1", "--log", path("log")};
        if (!passwordFile.isEmpty())
            args << "--password-file" << path(passwordFile);

        const Run run = runCli(args);
        QCOMPARE(run.status, 5);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(terminal.openingCount(), 0);
        QVERIFY(terminal.received().empty());
        for (int a = 10; a <= 39; ++a)
            QCOMPARE(terminal.word(a), quint16(0));
        QVERIFY(!QFile::exists(path("log")));
    }

    void onlyTheLowSixteenBitsCount()
    {
        // Termset unlocks with the low 16 bits of Param1; so does the CLI.
        setPassword(*m_env, 0x50000 | kChecksumOfSecret);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        writeFile(path("in.act"), actFile(sampleWords()));
        const Run run = runCli({"write", path("in.act"), "--remote", QStringLiteral("127.0.0.1:%1").arg(gateway.port()),
                                "--serial", "1", "--password-file", path("pw"), "--log", path("log")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(gateway.terminal(1).eeprom[39], sampleWords()[29]);
    }

    void theChecksumIsTermsetsOwn()
    {
        // The profile value above is what Termset stores for "secret":
        // CRC-16/ARC, worked out by hand here.
        quint16 crc = 0;
        for (const char c : QByteArray("secret")) {
            crc ^= static_cast<quint8>(c);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001) : static_cast<quint16>(crc >> 1);
        }
        QCOMPARE(crc, kChecksumOfSecret);
    }

    void invalidFileIsRefusedBeforeAnythingElse()
    {
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        writeFile(path("bad.act"), "10 0001\r\n40 0000\r\n");
        const Run write = runCli({"write", path("bad.act"), "--port", "COM1", "--password-file", path("pw")});
        QCOMPARE(write.status, 4);
        QVERIFY2(write.err.contains("Invalid configuration data!"), qPrintable(write.err));
        QVERIFY(write.err.contains("line 2"));
        QCOMPARE(terminal.openingCount(), 0);

        const Run show = runCli({"show", path("missing.act")});
        QCOMPARE(show.status, 4);
        QVERIFY(show.err.contains("Unable to open the file"));
    }

    void showAndDiffThroughTheProgram()
    {
        QByteArray clear;
        for (int a = 10; a <= 39; ++a)
            clear += QString::asprintf("%02d 0000\r\n", a).toLatin1();
        writeFile(path("a.act"), clear);
        QByteArray changed = clear;
        changed.replace("11 0000", "11 0004");
        writeFile(path("b.act"), changed);

        const Run show = runCli({"show", path("a.act")});
        QCOMPARE(show.status, 0);
        QVERIFY(show.out.startsWith("Reader 1\n"));
        QCOMPARE(show.out.count("No effect"), 28 * 4);
        QCOMPARE(show.out.count("Always"), 28 * 2);

        const Run diff = runCli({"diff", path("a.act"), path("b.act")});
        QCOMPARE(diff.status, 1);
        QCOMPARE(diff.out, QString("Reader 1, TB1, RELAY 2 Action: No effect -> Off\n"));
        const Run same = runCli({"diff", path("a.act"), path("a.act")});
        QCOMPARE(same.status, 0);
        QVERIFY(same.out.isEmpty());
        // A file may come on standard input.
        const Run piped = runCli({"diff", path("a.act"), "-"}, changed);
        QCOMPARE(piped.status, 1);
        QCOMPARE(piped.out, diff.out);
    }

    void showsTheChosenLanguage()
    {
        if (!QFile::exists(testsupport::TestEnvironment::programFolder() + "/Termset-Magyar.so"))
            QSKIP("the Hungarian language library is not built");
        QByteArray changed;
        for (int a = 10; a <= 39; ++a)
            changed += QString::asprintf("%02d %04X\r\n", a, a == 11 ? 4u : 0u).toLatin1();
        writeFile(path("b.act"), changed);
        writeFile(path("a.act"), QByteArray(changed).replace("11 0004", "11 0000"));

        // Named on the command line ...
        const Run diff = runCli({"diff", path("a.act"), path("b.act"), "--language", "Magyar"});
        QCOMPARE(diff.status, 1);
        QCOMPARE(diff.out, QString("Olvasó 1, TB1, RELÉ 2 Művelet: Nincs hatás -> Ki\n"));
        // ... or chosen in Termset.
        writeFile(path("config/Veltrona/Termset.conf"), "[Settings]\nLanguage=Magyar\n");
        const Run show = runCli({"show", path("a.act")});
        QCOMPARE(show.status, 0);
        QVERIFY(show.out.startsWith(QString("Olvasó 1\n")));
        QCOMPARE(show.out.count("Nincs hatás"), 28 * 4);
        QCOMPARE(show.out.count("Mindig"), 28 * 2);
    }

    void withoutTheControlRegistered()
    {
        // A new environment with an empty registry (the old one goes first,
        // so that it does not restore the user's own on its way out).
        m_env.reset();
        m_env = std::make_unique<testsupport::TestEnvironment>();
        // A copy of the program in a folder without the control module:
        // nothing to register, so it gives up.
        const QString lone = path("lone/termset-cli");
        QVERIFY(QDir().mkpath(path("lone")));
        QVERIFY(QFile::copy(testsupport::TestEnvironment::programFolder() + "/termset-cli", lone));
        const Run run = runCli({"status", "--port", "COM1"}, {}, lone);
        QCOMPARE(run.status, 6);
        QVERIFY2(run.err.contains("The communication control RK40COMM cannot be created"), qPrintable(run.err));

        // Beside its module, the program registers it for the user and goes on.
        rk40sim::Terminal terminal;
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        const Run status = runCli({"status", "--port", "COM1"});
        QCOMPARE(status.status, 0);
        QCOMPARE(component::Registry().value("ProgID/RK40COMM.RK40CommCtrl.1", "CLSID").isNull(), false);
    }

    void remoteRequests()
    {
        gatewaysim::GatewaySimulator gateway;
        QString error;
        QVERIFY2(gateway.start(0, &error), qPrintable(error));
        const QString remote = QStringLiteral("127.0.0.1:%1").arg(gateway.port());
        const QByteArray original = actFile(sampleWords());
        writeFile(path("in.act"), original);

        const Run ports = runCli({"ports", "--remote", remote});
        QVERIFY2(ports.status == 0, qPrintable(ports.err));
        QCOMPARE(ports.out, QString("1\n2\n"));

        const Run write = runCli({"write", path("in.act"), "--remote", remote, "--serial", "2", "--password-file",
                                  path("pw"), "--log", path("log")});
        QVERIFY2(write.status == 0, qPrintable(write.err));
        const gatewaysim::SimTerminal t = gateway.terminal(2);
        for (int a = 10; a <= 39; ++a)
            QCOMPARE(t.eeprom[static_cast<std::size_t>(a)], sampleWords()[static_cast<std::size_t>(a - 10)]);
        const QByteArray log = readAll(path("log"));
        QVERIFY2(log.endsWith(QStringLiteral("   COM_PORT: 02   REMOTE: 127.0.0.1:%1\r\n")
                                  .arg(gateway.port(), 5, 10, QLatin1Char('0'))
                                  .toLatin1()),
                 log.constData());

        const Run read = runCli({"read", "--remote", remote, "--serial", "2", "-o", path("out.act")});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QCOMPARE(readAll(path("out.act")), original);

        gatewaysim::SimTerminal status = gateway.terminal(1);
        status.time = "05:04";
        status.date = "06.12.26";
        status.dayOfWeek = 6;
        status.buffered = 12;
        status.dipSwitch = 255;
        gateway.setTerminal(1, status);
        const Run stat = runCli({"status", "--remote", remote, "--serial", "1"});
        QVERIFY2(stat.status == 0, qPrintable(stat.err));
        QCOMPARE(stat.out, QString("Time:\t\t05:04\nDate:\t\t06.12.26\nDay of week:\tSunday\nBuffered:\t\t12\n"
                                   "Version:\t\t06.29\nDIP switch:\tFF\n"));
    }

    void remoteFailures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("message");
        QTest::newRow("read, tried three times") << QStringList{"read", "--serial", "1"} << 3 << "Reading error: 7";
        QTest::newRow("write, tried three times")
            << QStringList{"write", "in.act", "--serial", "1", "--password-file", "pw"} << 3 << "Writing error: 7";
        QTest::newRow("status, once") << QStringList{"status", "--serial", "1"} << 1 << "Status error: 7";
        QTest::newRow("ports, once") << QStringList{"ports"} << 1 << "Error while getting COM ports";
    }
    void remoteFailures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, requests);
        QFETCH(QString, message);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        gatewaysim::Behaviour failing;
        failing.resultCode = 7;
        gateway.setDefaultBehaviour(failing);
        writeFile(path("in.act"), actFile(sampleWords()));
        for (QString& a : args)
            if (a.endsWith(".act") || a == "pw")
                a = path(a);
        args << "--remote" << QStringLiteral("127.0.0.1:%1").arg(gateway.port()) << "--log" << path("log");

        const Run run = runCli(args);
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.err.contains("7"));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(int(gateway.requests().size()), requests);
        QVERIFY(!QFile::exists(path("log")));
        QCOMPARE(gateway.terminal(1).eeprom[10], quint16(0));
    }

    void replyWithoutAFullStop_data()
    {
        QTest::addColumn<bool>("keepOpen");
        QTest::newRow("gateway closes") << false;
        QTest::newRow("gateway keeps the connection open") << true;
    }
    void replyWithoutAFullStop()
    {
        QFETCH(bool, keepOpen);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        gatewaysim::SimTerminal t;
        for (int a = 10; a <= 39; ++a)
            t.eeprom[static_cast<std::size_t>(a)] = sampleWords()[static_cast<std::size_t>(a - 10)];
        gateway.setTerminal(1, t);
        gatewaysim::Behaviour behaviour;
        behaviour.noFullStop = true;
        behaviour.keepOpen = keepOpen;
        gateway.setDefaultBehaviour(behaviour);

        // The reply is complete once nothing more comes: far sooner than the
        // limit given here, which a gateway keeping the connection open would
        // otherwise use up on each of three attempts.
        QElapsedTimer clock;
        clock.start();
        const Run read = runCli({"read", "--remote", QStringLiteral("127.0.0.1:%1").arg(gateway.port()), "--serial",
                                 "1", "--timeout", "60", "-o", path("out.act")});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QVERIFY2(clock.elapsed() < 40000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(readAll(path("out.act")), actFile(sampleWords()));
        QCOMPARE(int(gateway.requests().size()), 1);
    }

    void timeLimitsFromTheProfile()
    {
        // A reply five seconds late is too late for a profile that allows one.
        writeFile(path("config/Veltrona/Termset.conf"), "[Settings]\nReplyTimeout=1\n");
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        gatewaysim::Behaviour slow;
        slow.mode = gatewaysim::Mode::Slow;
        slow.delay = std::chrono::seconds(5);
        gateway.setDefaultBehaviour(slow);
        const Run run = runCli({"status", "--remote", QStringLiteral("127.0.0.1:%1").arg(gateway.port()), "--serial",
                                "1"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains("SOCKET ERROR Receive timeout error"), qPrintable(run.err));
    }

    void remoteReadWithoutAllWords_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("missing");
        QTest::newRow("no items") << QByteArray(".") << "10, 11, 12, 13";
        QByteArray some;
        for (int a = 10; a <= 39; ++a)
            if (a != 12 && a != 39)
                some += QString::asprintf("%04d,%05d;", a, a).toLatin1();
        QTest::newRow("all but two") << some + '.' << "12, 39;";
    }
    void remoteReadWithoutAllWords()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, missing);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        gatewaysim::Behaviour partial;
        partial.mode = gatewaysim::Mode::Raw;
        partial.raw = gatewaysim::makeReply('1', 0, "gEPT", data);
        gateway.setDefaultBehaviour(partial);
        const Run run = runCli({"read", "--remote", QStringLiteral("127.0.0.1:%1").arg(gateway.port()), "--serial",
                                "1", "-o", path("out.act")});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains(missing), qPrintable(run.err));
        QVERIFY(!QFile::exists(path("out.act")));
    }

    void gatewayThatIsNotThere()
    {
        // A port on loopback that nobody listens on: the socket message,
        // then the request's own with -1.
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        const quint16 port = gateway.port();
        gateway.stop();
        const Run run = runCli({"status", "--remote", QStringLiteral("127.0.0.1:%1").arg(port), "--serial", "1"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.err.contains("SOCKET ERROR function 'Connect()'"), qPrintable(run.err));
        QVERIFY(run.err.contains("Status error: -1"));
    }
};

QTEST_GUILESS_MAIN(TermsetCliTest)
#include "tst_termset_cli.moc"
