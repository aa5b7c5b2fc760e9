// termset-cli with hostile input: control sequences in a terminal's or
// gateway's texts, endless or huge input, a password file others can read
// and an interrupted password prompt (on a pseudo-terminal).

#include "RunProgram.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include "GatewaySimulator.h"
#include "rk40sim/Terminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using testsupport::Run;
using testsupport::writeFile;

QString cliPath() { return testsupport::TestEnvironment::programFolder() + "/termset-cli"; }

Run runCli(const QStringList& args, const QByteArray& input = {}) { return testsupport::runProgram(cliPath(), args, input); }

QByteArray validAct()
{
    QByteArray out;
    for (int a = 10; a <= 39; ++a)
        out += QByteArray::number(a) + " 8000\r\n";
    return out;
}

constexpr auto kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// The password "secret" set in the private profile.
void setPassword(const testsupport::TestEnvironment& env)
{
    QDir().mkpath(env.path("config/Veltrona"));
    writeFile(env.path("config/Veltrona/Termset.conf"), "[Settings]\nParam1=9170\n", kOwnerOnly);   // 0x23D2
}

// The program on a pseudo-terminal of its own (its controlling terminal,
// standard input, output and error), as a person at a console runs it.
class OnTerminal {
public:
    explicit OnTerminal(const QStringList& args)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        const QByteArray slave = ::ptsname(m_master);
        // Held open here so that its settings can be read after the program ends.
        m_slave = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const QByteArray program = QFile::encodeName(cliPath());
        std::vector<QByteArray> words{program};
        for (const QString& a : args)
            words.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setsid();
            const int fd = ::open(slave.constData(), O_RDWR);   // becomes the controlling terminal
            ::dup2(fd, 0);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execv(program.constData(), argv.data());
            ::_exit(127);
        }
    }
    ~OnTerminal()
    {
        if (m_pid > 0 && !m_ended) {
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
    // Reads what the program shows until `text` appears.
    bool waitFor(const QByteArray& text, int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_shown.contains(text) && timer.elapsed() < ms) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char buffer[256];
                const ssize_t got = ::read(m_master, buffer, sizeof buffer);
                if (got > 0)
                    m_shown.append(buffer, got);
            }
        }
        return m_shown.contains(text);
    }
    // Waits for the program to end; false when it does not within `ms`.
    bool waitForEnd(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_ended = true;
                return true;
            }
            waitFor("\x01never", 100);   // keeps the terminal drained
        }
        return false;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = 0;
    QByteArray m_shown;
};

} // namespace

class CliSafetyTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    QString path(const QString& name) const { return m_env->path(name); }

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QString error;
        QVERIFY2(m_env->registerControl(&error), qPrintable(error));
        setPassword(*m_env);
        writeFile(path("in.act"), validAct(), kOwnerOnly);
    }
    void cleanup()
    {
        qunsetenv("RK40_COM1");
        m_env.reset();
    }

    // A status whose texts would set the window title and clear the screen.
    void statusTextIsShownEscaped_data()
    {
        QTest::addColumn<bool>("remote");
        QTest::newRow("serial terminal") << false;
        QTest::newRow("remote gateway") << true;
    }
    void statusTextIsShownEscaped()
    {
        QFETCH(bool, remote);
        rk40sim::Terminal terminal;
        terminal.setStatus("\x1b]0;owned\x07\x1b[2J", "08.01.03307:09", "0005");
        qputenv("RK40_COM1", QByteArray::fromStdString(terminal.slavePath()));
        gatewaysim::GatewaySimulator gateway;
        gatewaysim::SimTerminal simulated;
        simulated.version = QStringLiteral("\x1b[2J\x07");
        gateway.setTerminal(1, simulated);
        QVERIFY(gateway.start());

        const Run run = remote ? runCli({"status", "--remote", QString("127.0.0.1:%1").arg(gateway.port()), "--serial", "1"})
                               : runCli({"status", "--port", "COM1"});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(!run.out.contains(QChar(0x1b)) && !run.out.contains(QChar(0x07)), qPrintable(run.out));
        QVERIFY2(run.out.contains(remote ? "\\x1b[2J\\x07" : "\\x1b]0;owned\\x07\\x1b[2J"), qPrintable(run.out));
    }

    // An .act reader takes at most 64 KiB, from a pipe or a device too.
    void oversizedInputIsRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("input");
        QByteArray megabyte;
        while (megabyte.size() < 1024 * 1024)
            megabyte += validAct();
        QTest::newRow("1 MB of valid lines on standard input") << "-" << megabyte;
        QTest::newRow("a device that never ends") << "/dev/zero" << QByteArray();
        QTest::newRow("a regular file of 1 MB") << "big.act" << megabyte;
    }
    void oversizedInputIsRefused()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, input);
        if (file == "big.act") {
            writeFile(path(file), input, kOwnerOnly);
            file = path(file);
            input.clear();
        }
        const Run run = runCli({"show", file}, input);
        QCOMPARE(run.status, 4);
        QVERIFY2(run.err.contains("64 KiB"), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void passwordFileReadableByOthers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("warned");
        QTest::newRow("owner only") << 0600 << false << 0 << false;
        QTest::newRow("owner only, strict") << 0600 << true << 0 << false;
        QTest::newRow("group may read") << 0640 << false << 0 << true;
        QTest::newRow("everyone may read") << 0644 << false << 0 << true;
        QTest::newRow("everyone may read, strict") << 0644 << true << 5 << true;
    }
    void passwordFileReadableByOthers()
    {
        QFETCH(int, mode);
        QFETCH(bool, strict);
        QFETCH(int, status);
        QFETCH(bool, warned);
        writeFile(path("pw"), "secret\n", kOwnerOnly);
        QVERIFY(::chmod(QFile::encodeName(path("pw")).constData(), static_cast<mode_t>(mode)) == 0);
        gatewaysim::GatewaySimulator gateway;
        QVERIFY(gateway.start());
        QStringList args{"write", path("in.act"), "--remote", QString("127.0.0.1:%1").arg(gateway.port()),
                         "--serial", "1", "--password-file", path("pw"), "--log", path("log")};
        if (strict)
            args << "--strict";
        const Run run = runCli(args);
        QVERIFY2(run.status == status, qPrintable(run.err));
        QCOMPARE(run.err.contains("can be read by other users"), warned);
        // A refused password writes nothing.
        QCOMPARE(gateway.terminal(1).eeprom[10] == 0x8000, status == 0);
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
        QElapsedTimer timer;
        timer.start();
        while (console.echo() && timer.elapsed() < 30000)
            QTest::qWait(20);
        QVERIFY2(!console.echo(), "the echo never went off");
        if (byKey)
            console.type("\x03");
        else
            ::kill(console.pid(), SIGTERM);
        QVERIFY(console.waitForEnd(60000));
        QVERIFY(console.echo());
    }
};

QTEST_GUILESS_MAIN(CliSafetyTest)
#include "tst_cli_safety.moc"
