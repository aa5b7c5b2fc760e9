// termset-cli end to end: the built program, with the control registered in
// a private registry, against simulated terminals on pseudo-terminals and
// the simulated gateway on loopback: hostile texts and input, password files
// and an interrupted password prompt; keys and clock (what each command
// sends, prints and logs, key files refused whole, a terminal that refuses
// one key, several terminals at once); local serial devices (a device given
// by path, the local port list, why a port cannot be had, a device that goes
// away).

#include "platform/component/Registry.h"
#include "platform/serial/PortLocks.h"
#include "RunProgram.h"
#include "TestBytes.h"

#include "GatewaySimulator.h"
#include "rk40sim/Terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <optional>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using testsupport::readAll;
using testsupport::Run;
using testsupport::writeFile;

namespace {

constexpr int kChecksumOfSecret = 0x23D2;   // CRC-16/ARC of "secret", as Termset stores it
constexpr auto kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QString cliPath() { return testsupport::TestEnvironment::programFolder() + "/termset-cli"; }

Run runCli(const QStringList& args, const QByteArray& input = {}, const QString& program = "termset-cli")
{
    return testsupport::runProgram(program, args, input);
}

QString address(const gatewaysim::GatewaySimulator& gateway) { return QStringLiteral("127.0.0.1:%1").arg(gateway.port()); }

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

// The lines of an .act file for words 10..39.
QByteArray actFile(const std::array<quint16, 30>& words)
{
    QByteArray out;
    for (int i = 0; i < 30; ++i)
        out += QString::asprintf("%02d %04X\r\n", i + 10, unsigned(words[static_cast<std::size_t>(i)])).toLatin1();
    return out;
}

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

const QStringList kThree{"0123456789ABCD:5", "11111111111111:200", "22222222222222:7"};

// The program on a pseudo-terminal of its own (its controlling terminal,
// standard input, output and error), as a person at a console runs it.
class OnTerminal {
public:
    explicit OnTerminal(const QStringList& args)
    {
        std::vector<QByteArray> words{QFile::encodeName(cliPath())};
        for (const QString& a : args)
            words.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Held open so that its settings can be read after the program ends.
        if (m_pid > 0)
            m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~OnTerminal()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_master, m_slave})
            if (fd >= 0)
                ::close(fd);
    }
    bool started() const { return m_pid > 0 && m_slave >= 0; }
    pid_t pid() const { return m_pid; }
    bool echo() const
    {
        termios t{};
        return ::tcgetattr(m_slave, &t) == 0 && (t.c_lflag & ECHO);
    }
    void type(const QByteArray& keys) { [[maybe_unused]] auto n = ::write(m_master, keys.constData(), keys.size()); }
    // Reads what the program shows until `text` appears or, with no text,
    // until the program ends.
    bool waitFor(const QByteArray& text, int ms)
    {
        return QTest::qWaitFor([&] {
            if (!text.isEmpty() ? m_shown.contains(text) : ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = text.isEmpty() ? -1 : m_pid;
                return true;
            }
            pollfd p{m_master, POLLIN, 0};
            char buffer[256];
            const ssize_t got = ::poll(&p, 1, 100) > 0 ? ::read(m_master, buffer, sizeof buffer) : 0;
            if (got > 0)
                m_shown.append(buffer, got);
            return false;
        }, ms);
    }

private:
    int m_master = -1;
    int m_slave = -1;
    pid_t m_pid = -1;
    QByteArray m_shown;
};

} // namespace

Q_DECLARE_METATYPE(std::optional<int>)

class TermsetCliTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<rk40sim::Terminal> m_sim;   // holding kThree
    QString m_pty;

    QString path(const QString& name) const { return m_env->path(name); }
    // The profile's password checksum (none: no password set), and "secret"
    // in the file pw that its owner alone may read.
    void setPassword(std::optional<int> checksum = kChecksumOfSecret) const
    {
        QDir().mkpath(path("config/Veltrona"));
        QByteArray ini = "[Settings]\n";
        if (checksum)
            ini += "Param1=" + QByteArray::number(*checksum) + "\n";
        writeFile(path("config/Veltrona/Termset.conf"), ini, kOwnerOnly);
        writeFile(path("pw"), "secret\n", kOwnerOnly);
    }
    rk40sim::Terminal& onCom1() { qputenv("RK40_COM1", m_pty.toLocal8Bit()); return *m_sim; }
    // On m_sim with the log, and the password for a change of keys.
    Run cli(QStringList args)
    {
        args << "--port" << m_pty << "--log" << path("log");
        if (args.first() == "keys" && QStringList{"add", "remove", "clear", "sync"}.contains(args.at(1)))
            args << "--password-file" << path("pw");
        return runCli(args);
    }
    // Arguments written "@name" name files in the test's folder.
    QStringList inFolder(QStringList args) const
    {
        for (QString& a : args)
            if (a.startsWith('@'))
                a = path(a.mid(1));
        return args;
    }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QString error;
        QVERIFY2(m_env->registerControl(&error), qPrintable(error));
        setPassword();
        writeFile(path("wrong"), "Secret\n", kOwnerOnly);
        writeFile(path("in.act"), actFile(sampleWords()));
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

    // Usage, files and ports refused before a terminal is opened; an .act
    // reader takes at most 64 KiB, from a pipe or a device too.
    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");   // on standard output when all went well, else on standard error
        QByteArray megabyte;
        while (megabyte.size() < 1024 * 1024)
            megabyte += actFile(sampleWords());
        QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "usage: termset-cli";
        QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0 << "termset-cli ";
        QTest::newRow("unknown language") << QStringList{"show", "@in.act", "--language", "Klingon"} << QByteArray()
                                          << 2 << "Klingon";
        QTest::newRow("missing file") << QStringList{"show", "@missing.act"} << QByteArray() << 4
                                      << "Unable to open the file";
        QTest::newRow("invalid line") << QStringList{"write", "-", "--port", "COM1", "--password-file", "@pw"}
                                      << QByteArray("10 0001\r\n40 0000\r\n") << 4
                                      << "Invalid configuration data! (-, line 2";
        QTest::newRow("1 MB of valid lines on standard input") << QStringList{"show", "-"} << megabyte << 4 << "64 KiB";
        QTest::newRow("a device that never ends") << QStringList{"show", "/dev/zero"} << QByteArray() << 4 << "64 KiB";
        QTest::newRow("port that does not open") << QStringList{"status", "--port", "COM2"} << QByteArray() << 3
                                                 << "no-such-device";
    }
    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QString, text);
        rk40sim::Terminal& terminal = onCom1();
        qputenv("RK40_COM2", path("no-such-device").toLocal8Bit());
        const Run run = runCli(inFolder(args), input);
        QVERIFY2(run.status == status, qPrintable(run.err));
        QVERIFY2((status == 0 ? run.out : run.err).contains(text), qPrintable(run.err));
        QCOMPARE(run.out.isEmpty(), status != 0);
        QCOMPARE(terminal.openingCount(), 0);
    }

    void everyReaderOfAFileSeesTheSameWords()
    {
        // Values of one to four hexadecimal digits in either case, as a
        // person may write them: the serial write, the remote write and
        // show all take each as the word it means. Row words go out with bit
        // 15 set and bit 14 clear; read back, the file differs in those words
        // but not in fields.
        const quint32 seed = 20261207;
        QRandomGenerator random(seed);
        std::array<quint16, 30> words{}, onWire{};
        QByteArray file;
        for (int i = 0; i < 30; ++i) {
            const int digits = random.bounded(1, 5);
            const auto value = static_cast<quint16>(random.bounded(1u << (4 * digits)));
            words[static_cast<std::size_t>(i)] = value;
            onWire[static_cast<std::size_t>(i)] = i < 28 ? quint16((value & 0x3FFF) | 0x8000) : value;
            QByteArray text = QByteArray::number(value, 16).rightJustified(digits, '0');
            for (char& c : text)
                c = random.bounded(2) ? char(std::toupper(c)) : c;
            file += QByteArray::number(i + 10) + ' ' + text + "\r\n";
        }
        writeFile(path("in.act"), file);
        const QString context = QStringLiteral("seed %1:\n%2").arg(seed).arg(QString::fromLatin1(file));

        rk40sim::Terminal& terminal = onCom1();
        const Run serial = runCli({"write", path("in.act"), "--port", "COM1", "--password-file", path("pw"), "--log",
                                   path("log")});
        QVERIFY2(serial.status == 0, qPrintable(serial.err));
        QVERIFY(serial.out.isEmpty());
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        const Run remote = runCli({"write", path("in.act"), "--remote", address(gateway), "--serial", "2",
                                   "--password-file", path("pw"), "--log", path("log")});
        QVERIFY2(remote.status == 0, qPrintable(remote.err));
        for (int a = 10; a <= 39; ++a) {
            QVERIFY2(terminal.word(a) == onWire[static_cast<std::size_t>(a - 10)], qPrintable(context));
            QVERIFY2(gateway.terminal(2).eeprom[static_cast<std::size_t>(a)] == words[static_cast<std::size_t>(a - 10)],
                     qPrintable(context));
        }
        const QList<QByteArray> log = readAll(path("log")).split('\n');
        QCOMPARE(log.size(), 3);  // two lines and the empty rest
        QCOMPARE(log[0].mid(20), QByteArray("   COM_PORT: 01   REMOTE: None:00000\r"));   // after the date and time
        QCOMPARE(log[1].mid(20),
                 QStringLiteral("   COM_PORT: 02   REMOTE: 127.0.0.1:%1\r").arg(gateway.port(), 5, 10, QLatin1Char('0')).toLatin1());

        const Run read = runCli({"read", "--port", "COM1", "--baud", "9600", "-o", path("out.act")});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QCOMPARE(readAll(path("out.act")), actFile(onWire));
        QCOMPARE(readAll(path("log")).count('\n'), 2);  // reads log nothing
        // Without -o the file goes to standard output.
        QCOMPARE(runCli({"read", "--port", "COM1"}).out.toLatin1(), actFile(onWire));
        const Run diff = runCli({"diff", path("in.act"), path("out.act")});
        QCOMPARE(diff.status, 0);
        QVERIFY(diff.out.isEmpty());

        writeFile(path("canonical.act"), actFile(words));
        const Run shown = runCli({"show", path("in.act")});
        QCOMPARE(shown.status, 0);
        QCOMPARE(shown.out, runCli({"show", path("canonical.act")}).out);
        QCOMPARE(runCli({"ports", "--remote", address(gateway)}).out, QString("1\n2\n"));
    }

    void statusInASharedFolderTouchesNothingThere()
    {
        // Another user planted reg.txt pointing at a file of ours.
        onCom1();
        QVERIFY(QDir().mkpath(path("shared")));
        QVERIFY(QFile::link(path("victim"), path("shared/reg.txt")));
        QProcess p;
        p.setWorkingDirectory(path("shared"));
        p.start(cliPath(), {"status", "--port", "COM1"});
        QVERIFY(p.waitForFinished(180000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFile::exists(path("victim")));
        QCOMPARE(QDir(path("shared")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{"reg.txt"});
    }

    // A status whose texts would set the window title and clear the screen
    // is shown with escapes (a failed status: failuresNameThePathGiven).
    void statusIsShownEscaped_data()
    {
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("shown");
        QTest::newRow("serial terminal")
            << false << "Firmware: \\x1b]0;owned\\x07\\x1b[2J\n Time: 08.01.03 07:09\n Buffered: 0005\n";
        QTest::newRow("remote gateway") << true
                                        << "Time:\t\t05:04\nDate:\t\t06.12.26\nDay of week:\tSunday\nBuffered:\t\t12\n"
                                           "Version:\t\t\\x1b[2J\\x07\nDIP switch:\tFF\n";
    }
    void statusIsShownEscaped()
    {
        QFETCH(bool, remote);
        QFETCH(QString, shown);
        onCom1().setStatus("\x1b]0;owned\x07\x1b[2J", "08.01.03307:09", "0005");
        gatewaysim::GatewaySimulator gateway;
        gateway.setTerminal(1, {{}, "05:04", "06.12.26", 6, 12, QStringLiteral("\x1b[2J\x07"), 0, 0, 255});
        QVERIFY(gateway.start());

        const Run run = remote ? runCli({"status", "--remote", address(gateway), "--serial", "1"})
                               : runCli({"status", "--port", "COM1"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, shown);
    }

    void silentTerminalFailsTheTransfer_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("read") << QStringList{"read", "--port", "COM1", "-o", "@out.act"};
        QTest::newRow("write") << QStringList{"write", "@in.act", "--port", "COM1", "--password-file", "@pw"};
    }
    void silentTerminalFailsTheTransfer()
    {
        QFETCH(QStringList, args);
        rk40sim::Terminal& terminal = onCom1();
        terminal.setWord(10, 0x1234);
        terminal.injectFault({rk40sim::Fault::SilenceOnOpen}, rk40sim::kPersistent);

        const Run run = runCli(inFolder(args) + QStringList{"--log", path("log")});
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
        rk40sim::Terminal& terminal = onCom1();
        terminal.setWireTiming(2400);   // long enough to be stopped half-way

        QProcess p;
        p.start(cliPath(), {"write", path("in.act"), "--port", "COM1", "--password-file", path("pw"), "--log", path("log")});
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

    // The password rule is the core's (core_password_log). A
    // password file others may read is warned about, and refused with
    // --strict. A refused password opens no terminal and logs nothing.
    void writeNeedsTheRightPassword_data()
    {
        QTest::addColumn<std::optional<int>>("checksum");
        QTest::addColumn<QString>("passwordFile");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<bool>("unlocks");
        QTest::addColumn<QString>("message");
        const std::optional<int> secret(kChecksumOfSecret);
        const QString others = "can be read by other users";
        QTest::newRow("wrong password") << secret << "wrong" << 0600 << false << false << "Wrong password.";
        QTest::newRow("no password given") << secret << "" << 0600 << false << false
                                           << "You won't be able to configure terminals until you enter the password.";
        QTest::newRow("no password set") << std::optional<int>() << "pw" << 0600 << false << false
                                         << "Select \"File -> Change password\" menu option.";
        QTest::newRow("checksum 0 counts as none") << std::optional<int>(0) << "pw" << 0600 << false << false
                                                   << "until you set the password";
        QTest::newRow("owner only, strict") << secret << "pw" << 0600 << true << true << "";
        QTest::newRow("group may read") << secret << "pw" << 0640 << false << true << others;
        QTest::newRow("everyone may read, strict") << secret << "pw" << 0644 << true << false << others;
    }
    void writeNeedsTheRightPassword()
    {
        QFETCH(std::optional<int>, checksum);
        QFETCH(QString, passwordFile);
        QFETCH(int, mode);
        QFETCH(bool, strict);
        QFETCH(bool, unlocks);
        QFETCH(QString, message);
        setPassword(checksum);
        rk40sim::Terminal& terminal = onCom1();
        QStringList args{"write", path("in.act"), "--port", "COM1", "--log", path("log")};
        if (!passwordFile.isEmpty()) {
            QVERIFY(::chmod(QFile::encodeName(path(passwordFile)).constData(), static_cast<mode_t>(mode)) == 0);
            args << "--password-file" << path(passwordFile);
        }
        if (strict)
            args << "--strict";

        const Run run = runCli(args);
        QVERIFY2(run.status == (unlocks ? 0 : 5), qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.err.contains("can be read by other users"), (mode & 077) != 0);
        QCOMPARE(terminal.openingCount() == 0, !unlocks);
        QCOMPARE(terminal.word(39), unlocks ? sampleWords()[29] : quint16(0));
        QCOMPARE(QFile::exists(path("log")), unlocks);
    }

    // Interrupted at the password prompt, the program leaves the terminal
    // echoing again.
    void passwordPromptInterrupted_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Ctrl-C") << true;
        QTest::newRow("SIGTERM") << false;
    }
    void passwordPromptInterrupted()
    {
        QFETCH(bool, byKey);
        OnTerminal console({"write", path("in.act"), "--port", "COM1"});
        QVERIFY(console.started());
        QVERIFY(console.waitFor("password", 60000));
        // The prompt shows before the echo goes off.
        QVERIFY2(QTest::qWaitFor([&] { return !console.echo(); }, 30000), "the echo never went off");
        if (byKey)
            console.type("\x03");
        else
            ::kill(console.pid(), SIGTERM);
        QVERIFY(console.waitFor({}, 60000));
        QVERIFY(console.echo());
    }

    // The texts themselves are tst_cli_text's: here a difference ends with
    // status 1, a file comes on standard input, and the language is the one
    // named on the command line or chosen in Termset.
    void diffThroughTheProgram()
    {
        const QByteArray clear = actFile({});
        writeFile(path("a.act"), clear);
        const QByteArray changed = QByteArray(clear).replace("11 0000", "11 0004");
        const Run diff = runCli({"diff", path("a.act"), "-"}, changed);
        QCOMPARE(diff.status, 1);
        QCOMPARE(diff.out, QString("Reader 1, TB1, RELAY 2 Action: No effect -> Off\n"));

        if (!QFile::exists(testsupport::TestEnvironment::programFolder() + "/Termset-Magyar.so"))
            QSKIP("the Hungarian language library is not built");
        const Run magyar = runCli({"diff", path("a.act"), "-", "--language", "Magyar"}, changed);
        QCOMPARE(magyar.out, QString("Olvasó 1, TB1, RELÉ 2 Művelet: Nincs hatás -> Ki\n"));
        writeFile(path("config/Veltrona/Termset.conf"), "[Settings]\nLanguage=Magyar\n");
        QVERIFY(runCli({"show", path("a.act")}).out.startsWith(QString("Olvasó 1\n")));
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
        QVERIFY(QFile::copy(cliPath(), lone));
        const Run run = runCli({"status", "--port", "COM1"}, {}, lone);
        QCOMPARE(run.status, 6);
        QVERIFY2(run.err.contains("The communication control RK40COMM cannot be created"), qPrintable(run.err));

        // Beside its module, the program registers it for the user and goes on.
        onCom1();
        const Run status = runCli({"status", "--port", "COM1"});
        QCOMPARE(status.status, 0);
        QCOMPARE(component::Registry().value("ProgID/RK40COMM.RK40CommCtrl.1", "CLSID").isNull(), false);
    }

    // Nothing is written, logged or saved when the gateway fails: result
    // code 7 (reads and writes are tried three times), a reply later than the
    // profile allows, nobody listening, a read reply without all words.
    void remoteFailures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("fault");   // 0 result code 7, 1 five seconds late, 2 nobody listening, 3 the reply
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QStringList>("messages");
        const QStringList read{"read", "--serial", "1", "-o", "@out.act"}, status{"status", "--serial", "1"};
        QTest::newRow("read") << read << 0 << QByteArray() << 3 << QStringList{"Reading error: 7"};
        QTest::newRow("write") << QStringList{"write", "@in.act", "--serial", "1", "--password-file", "@pw"} << 0
                               << QByteArray() << 3 << QStringList{"Writing error: 7"};
        QTest::newRow("status") << status << 0 << QByteArray() << 1 << QStringList{"Status error: 7"};
        QTest::newRow("ports") << QStringList{"ports"} << 0 << QByteArray() << 1
                               << QStringList{"Error while getting COM ports"};
        QTest::newRow("reply too late") << status << 1 << QByteArray() << 1
                                        << QStringList{"SOCKET ERROR Receive timeout error"};
        QTest::newRow("nobody listening") << status << 2 << QByteArray() << 0
                                          << QStringList{"SOCKET ERROR function 'Connect()'", "Status error: -1"};
        QByteArray some;
        for (int a = 10; a <= 39; ++a)
            if (a != 12 && a != 39)
                some += QString::asprintf("%04d,%05d;", a, a).toLatin1();
        QTest::newRow("read without words") << read << 3 << QByteArray(".") << 1 << QStringList{"10, 11, 12, 13"};
        QTest::newRow("read without two words") << read << 3 << some + '.' << 1 << QStringList{"12, 39;"};
    }
    void remoteFailures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, fault);
        QFETCH(QByteArray, reply);
        QFETCH(int, requests);
        QFETCH(QStringList, messages);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        gatewaysim::Behaviour behaviour;
        behaviour.resultCode = fault == 0 ? 7 : 0;
        if (fault == 1) {
            writeFile(path("config/Veltrona/Termset.conf"), "[Settings]\nReplyTimeout=1\n");
            behaviour.mode = gatewaysim::Mode::Slow;
            behaviour.delay = std::chrono::seconds(5);
        } else if (fault == 3) {
            behaviour.mode = gatewaysim::Mode::Raw;
            behaviour.raw = gatewaysim::makeReply('1', 0, "gEPT", reply);
        }
        gateway.setDefaultBehaviour(behaviour);
        args << "--remote" << address(gateway) << "--log" << path("log");
        if (fault == 2)
            gateway.stop();

        const Run run = runCli(inFolder(args));
        QCOMPARE(run.status, 3);
        for (const QString& message : messages)
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(int(gateway.requests().size()), requests);
        QVERIFY(!QFile::exists(path("log")));
        QVERIFY(!QFile::exists(path("out.act")));
        QCOMPARE(gateway.terminal(1).eeprom[10], quint16(0));
    }

    // A remote read of two terminals behind one gateway, a file each named
    // by {port}, also of replies that lack their closing full stop.
    void replyWithoutAFullStop_data()
    {
        QTest::addColumn<bool>("noFullStop");
        QTest::addColumn<bool>("keepOpen");
        QTest::newRow("with a full stop") << false << false;
        QTest::newRow("gateway closes") << true << false;
        QTest::newRow("gateway keeps the connection open") << true << true;
    }
    void replyWithoutAFullStop()
    {
        QFETCH(bool, noFullStop);
        QFETCH(bool, keepOpen);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start(0));
        gatewaysim::SimTerminal t;
        for (int a = 10; a <= 39; ++a)
            t.eeprom[static_cast<std::size_t>(a)] = sampleWords()[static_cast<std::size_t>(a - 10)];
        gateway.setTerminal(1, t);
        gateway.setTerminal(2, t);
        gateway.setDefaultBehaviour({.raw = {}, .keepOpen = keepOpen, .noFullStop = noFullStop});

        // The reply is complete once nothing more comes: far sooner than the
        // limit given here, which a gateway keeping the connection open would
        // otherwise use up on each of three attempts.
        QElapsedTimer clock;
        clock.start();
        const Run read = runCli({"read", "--remote", address(gateway), "--serial", "1", "--serial", "2", "--timeout",
                                 "60", "-o", path("door-{port}.act")});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QVERIFY2(clock.elapsed() < 40000, qPrintable(QString::number(clock.elapsed())));
        for (const char* name : {"door-127.0.0.1-1.act", "door-127.0.0.1-2.act"})
            QCOMPARE(readAll(path(name)), actFile(sampleWords()));
        QCOMPARE(int(gateway.requests().size()), 2);
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
        rk40sim::Terminal silent;
        silent.injectFault({rk40sim::Fault::SilenceOnOpen}, rk40sim::kPersistent);
        const QString silentPath = QString::fromStdString(silent.slavePath());
        const Run write = cli({"write", path("in.act"), "--port", silentPath, "--password-file", path("pw")});
        QCOMPARE(write.status, 3);
        QVERIFY2(write.err.startsWith(silentPath + ": "), qPrintable(write.err));
        QCOMPARE(m_sim->word(39), sampleWords()[29]);
        QCOMPARE(readAll(path("log")).count('\n'), 1);
    }

    // Eight terminals at once: each result line starts with its target, and
    // the audit file has eight whole lines.
    void eightTerminalsAtOnce()
    {
        std::vector<std::unique_ptr<rk40sim::Terminal>> sims;
        QStringList targets;
        for (int i = 0; i < 8; ++i) {
            sims.push_back(std::make_unique<rk40sim::Terminal>());
            targets << "--port" << QString::fromStdString(sims.back()->slavePath());
        }
        const Run add = runCli(QStringList{"keys", "add", "66666666666666", "42", "--password-file", path("pw"), "--log",
                                           path("log")} + targets);
        QVERIFY2(add.status == 0, qPrintable(add.err));
        const QList<QByteArray> lines = readAll(path("keys.log")).split('\n');
        QCOMPARE(lines.size(), 9);
        const QRegularExpression added("^\\d\\d\\.\\d\\d\\.\\d{4}\\. \\d\\d:\\d\\d:\\d\\d \\S+ /dev/pts/\\d+ added "
                                       "66666666666666 42$");
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(keysOf(*sims[std::size_t(i)]), QStringList{"66666666666666:42"});
            QVERIFY2(added.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
        }
        // Eight programs at once, one terminal each: eight more whole lines.
        std::vector<std::unique_ptr<QProcess>> programs;
        for (const auto& sim : sims) {
            programs.push_back(std::make_unique<QProcess>());
            programs.back()->start(cliPath(),
                                   {"keys", "remove", "66666666666666", "--port", QString::fromStdString(sim->slavePath()),
                                    "--password-file", path("pw"), "--log", path("log")});
        }
        for (const auto& program : programs)
            QVERIFY(program->waitForFinished(180000) && program->exitCode() == 0);
        const QStringList all = QString::fromUtf8(readAll(path("keys.log"))).split('\n');
        QCOMPARE(all.size(), 17);
        QCOMPARE(all.filter(QRegularExpression(" /dev/pts/\\d+ removed 66666666666666 -$")).size(), 8);
        const Run list = runCli(QStringList{"keys", "list"} + targets);
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
        if (mapped)
            qputenv("RK40_COM4", m_pty.toLocal8Bit());
        const Run write = cli({"write", path("in.act"), "--password-file", path("pw")});
        QVERIFY2(write.status == 0, qPrintable(write.err));
        const Run read = runCli({"read", "--port", m_pty});
        QVERIFY2(read.status == 0, qPrintable(read.err));
        QCOMPARE(read.out.toLatin1(), actFile(sampleWords()));
        const QByteArray line = readAll(path("log"));
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
                                         << "%1: Terminal busy!";
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
        QProcess read;
        read.setWorkingDirectory(m_env->root());
        read.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", cliPath(), "read", "--port", m_pty});
        QVERIFY(read.waitForFinished(180000));
        QCOMPARE(read.exitCode(), 3);
        const QString err = QString::fromUtf8(read.readAllStandardError());
        QVERIFY2(err.contains(QString("no permission to open %1, which belongs to the group dialout: add yourself "
                                      "to the group dialout and log in again")
                                  .arg(m_pty)),
                 qPrintable(err));
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

QTEST_GUILESS_MAIN(TermsetCliTest)
#include "tst_termset_cli.moc"
