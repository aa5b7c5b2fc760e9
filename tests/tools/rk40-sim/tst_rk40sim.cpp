// The terminal simulator, driven from the PC side of the pseudo-terminal
// with raw bytes: what the control's and the tools' end-to-end tests do not
// already pin (refusals, the faults and their counts, malformed on-line
// blocks, noise that repeats with its seed, the command-line program).

#include "TestBytes.h"
#include "rk40sim/Terminal.h"

#include <QElapsedTimer>
#include <QProcess>

#include <csignal>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace rk40sim;
using namespace std::chrono_literals;

using testsupport::bytes;

namespace {

// Generous: the machine may be slow and busy; these only end failed tests.
constexpr int kAnswerMs = 3000;
// How long "nothing arrives" is watched.
constexpr int kQuietMs = 200;

// Block options with a short answer wait, changed by one setter.
BlockOptions options(void (*set)(BlockOptions&))
{
    BlockOptions o;
    o.answerTimeout = 200ms;
    set(o);
    return o;
}

const QByteArray kAck(1, char(ACK)), kNak(1, char(NAK));

QByteArray withSum(const QByteArray& data)
{
    return data + char(checksum(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())));
}

// The PC's end of the line: the slave side opened raw, as the control does.
class PcPort {
public:
    explicit PcPort(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd >= 0) {
            termios t{};
            ::tcgetattr(m_fd, &t);
            ::cfmakeraw(&t);
            t.c_cflag |= CLOCAL | CREAD;
            ::cfsetspeed(&t, B9600);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~PcPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    void write(const QByteArray& data)
    {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(m_fd, data.constData() + done, static_cast<size_t>(data.size() - done));
            if (n <= 0)
                return;
            done += n;
        }
    }

    // Up to `n` bytes, or fewer when nothing more comes within `ms`.
    QByteArray read(qsizetype n, int ms = kAnswerMs)
    {
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (out.size() < n) {
            const int left = ms - static_cast<int>(timer.elapsed());
            if (left <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0)
                break;
            char buf[1024];
            const ssize_t got = ::read(m_fd, buf, static_cast<size_t>(std::min<qsizetype>(n - out.size(), sizeof buf)));
            if (got <= 0)
                break;
            out.append(buf, got);
        }
        return out;
    }
    bool quiet(int ms = kQuietMs) { return read(1, ms).isEmpty(); }

    // SOH, the opening ACK, the letter twice.
    bool open(char letter)
    {
        write(QByteArray(1, char(SOH)));
        if (read(1) != QByteArray(1, char(ACK)))
            return false;
        write(QByteArray(2, letter));
        return true;
    }
    // Opens the command, sends the frame and reads up to `n` bytes of the answer.
    QByteArray ask(char letter, const QByteArray& frame, qsizetype n)
    {
        if (!open(letter))
            return "(no opening ACK)";
        write(frame);
        return read(n);
    }

private:
    int m_fd = -1;
};

} // namespace

Q_DECLARE_METATYPE(rk40sim::BlockOptions)

class TestRk40Sim : public QObject {
    Q_OBJECT

private slots:
    // Damaged or malformed requests are refused and change nothing.
    void refusedRequests_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray element("CDAB8967452301" "05" "\x03");
        QTest::newRow("read, wrong checksum") << 'a' << QByteArray("0A\x70") << kNak;
        QTest::newRow("read, not a digit") << 'a' << withSum("0G") << kNak;
        QTest::newRow("write, wrong checksum") << 'b' << QByteArray("0A8000\x78") << kNak;
        QTest::newRow("write, not a digit") << 'b' << withSum("0A80X0") << kNak;
        QTest::newRow("clock, wrong checksum") << 'D' << QByteArray("06.01.03107:09\x20") << kNak;
        QTest::newRow("element, wrong checksum") << 'i' << element + char(0x7F) << kNak;
        QTest::newRow("element, not hexadecimal") << 'i' << withSum(QByteArray(element).replace(12, 2, "ZZ")) << QByteArray("\x06" "1");
    }
    void refusedRequests()
    {
        QFETCH(char, letter);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        Terminal terminal;
        terminal.setWord(10, 0xABCD);
        PcPort pc(terminal.slavePath());
        QCOMPARE(pc.ask(letter, request, answer.size()), answer);
        QVERIFY(pc.quiet());
        QCOMPARE(terminal.word(10), std::uint16_t(0xABCD));
        QVERIFY(terminal.lastClockText().empty() && terminal.idTable().empty());
        QCOMPARE(bytes(terminal.received()), QByteArray("\x01") + letter + letter + request);
    }

    // Texts too long for the status block are cut at its 46 bytes.
    void statusCutAtItsLength()
    {
        Terminal terminal;
        terminal.setFirmware(std::string(60, 'F'));
        PcPort pc(terminal.slavePath());
        QCOMPARE(pc.ask('S', {}, 46), QByteArray("FW:") + QByteArray(43, 'F'));
        QVERIFY(pc.quiet());
    }

    void faults_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("param");
        QTest::addColumn<char>("letter");
        QTest::addColumn<char>("target");    // the command the fault is aimed at
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("answer");  // after the opening ACK
        QTest::addColumn<QByteArray>("normal");  // the next time

        const QByteArray read10 = withSum("0A");
        const QByteArray write10 = withSum("0A8000");
        const QByteArray add = withSum(QByteArray("CDAB8967452301" "05" "\x03"));
        const QByteArray readAnswer("\x06" "1234" "\x24");
        QTest::newRow("bad checksum") << int(Fault::BadChecksum) << -1 << 'a' << 'a' << read10 << QByteArray("\x06" "1234" "\x25") << readAnswer;
        QTest::newRow("other byte") << int(Fault::OtherByte) << -1 << 'b' << 'b' << write10 << QByteArray("X") << QByteArray("\x06");
        QTest::newRow("other byte given") << int(Fault::OtherByte) << int('?') << 'b' << 'b' << write10 << QByteArray("?") << QByteArray("\x06");
        QTest::newRow("result other") << int(Fault::ResultOther) << -1 << 'i' << 'i' << add << QByteArray("\x06" "7") << QByteArray("\x06" "0");
        QTest::newRow("truncate") << int(Fault::Truncate) << 3 << 'a' << 'a' << read10 << readAnswer.left(3) << readAnswer;
        QTest::newRow("garbage") << int(Fault::Garbage) << 2 << 'b' << 'b' << write10 << QByteArray("#?\x06") << QByteArray("\x06");
        QTest::newRow("pause") << int(Fault::Pause) << 400 << 'a' << 'a' << read10 << readAnswer << readAnswer;
        QTest::newRow("pause confirmed") << int(Fault::Pause) << 400 << 'i' << 'i' << add << QByteArray("\x06" "0") << QByteArray("\x06" "0");
        QTest::newRow("other command untouched") << int(Fault::Nak) << -1 << 'a' << 'b' << read10 << readAnswer << readAnswer;
    }
    void faults()
    {
        QFETCH(int, kind);
        QFETCH(int, param);
        QFETCH(char, letter);
        QFETCH(char, target);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, normal);
        Terminal terminal;
        terminal.setWord(10, 0x1234);
        PcPort pc(terminal.slavePath());
        terminal.injectFault({Fault::Kind(kind), param, target});
        QCOMPARE(pc.ask(letter, frame, answer.size()), answer);
        QVERIFY(pc.quiet());
        // Once only: the same command goes through next time.
        QCOMPARE(pc.ask(letter, frame, normal.size()), normal);
    }

    // Faults for a number of times, for good, and cleared.
    void faultCounts()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        terminal.injectFault({Fault::SilenceOnOpen});
        terminal.injectFault({Fault::NakOnOpen}, 2);
        pc.write(QByteArray(1, char(SOH)));
        QVERIFY(pc.quiet());
        for (int i = 0; i < 2; ++i) {
            pc.write(QByteArray(1, char(SOH)));
            QCOMPARE(pc.read(1), kNak);
        }
        QVERIFY(pc.open('T'));
        QVERIFY(terminal.waitForCommand('T', 1, 3s));
        QCOMPARE(terminal.openingCount(), 4);

        terminal.injectFault({Fault::Nak, -1, 'b'}, kPersistent);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(pc.ask('b', withSum("0A8000"), 1), kNak);
        terminal.clearFaults();
        terminal.injectFault({Fault::Truncate, 0, 'b'}, 2);
        for (int i = 0; i < 2; ++i)
            QVERIFY(pc.ask('b', withSum("0A8000"), 1).isEmpty());
        QCOMPARE(pc.ask('b', withSum("0A8000"), 1), kAck);
    }

    void newCommandBreaksIn()
    {
        // The PC gives up half-way through a frame and opens the next command.
        Terminal terminal;
        terminal.setWord(0x0A, 0x4321);
        PcPort pc(terminal.slavePath());
        QVERIFY(pc.open('b'));
        pc.write("0A8");
        QCOMPARE(pc.ask('a', withSum("0A"), 6).mid(1, 4), QByteArray("4321"));
        QCOMPARE(terminal.commandCount('b'), 1);
    }

    void lineNoiseRepeatsWithItsSeed()
    {
        auto run = [](std::uint64_t seed) {
            Terminal terminal;
            PcPort pc(terminal.slavePath());
            LineNoise noise;
            noise.seed = seed;
            noise.corruptPpm = 100'000;
            noise.duplicatePpm = 100'000;
            noise.dropPpm = 100'000;
            noise.insertPpm = 100'000;
            terminal.setLineNoise(noise);
            std::vector<std::string> records;
            for (int i = 0; i < 20; ++i)
                records.push_back("050130930C0001234A3");
            BlockOptions options;
            options.answerTimeout = 100ms;
            terminal.sendOnlineBlock('S', records, options);
            const QByteArray got = pc.read(1000, 1500);
            terminal.waitBlockDone(5s);
            return std::make_pair(got, terminal.lineNoiseCounts().damaged());
        };
        const auto a = run(42);
        const auto b = run(42);
        const auto c = run(43);
        QCOMPARE(a.first, b.first);
        QVERIFY(a.second > 0);
        QVERIFY(a.first != c.first);
    }

    // A V block waits for the PC's ACK before its STX; one refused, one a PC
    // answers by opening a command.
    void onlineBlocks()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        terminal.sendOnlineBlock('V', {"050130930C0001234A3"});
        QCOMPARE(pc.read(2), QByteArray("\x01V"));
        QVERIFY(pc.quiet());
        pc.write(kAck);
        const QByteArray body = pc.read(23);
        QCOMPARE(body.left(2), QByteArray("\x02" "0"));
        QCOMPARE(body.at(21), '\x03');
        pc.write(kNak);
        QVERIFY(terminal.waitBlockDone(3s));
        QCOMPARE(terminal.lastBlockAnswer(), BlockAnswer::Nak);

        terminal.sendOnlineBlock('V', {"050130930C0001234A3"});
        QCOMPARE(pc.read(2), QByteArray("\x01V"));
        QVERIFY(pc.open('T'));
        QVERIFY(terminal.waitBlockDone(3s));
        QCOMPARE(terminal.lastBlockAnswer(), BlockAnswer::Other);
        QCOMPARE(terminal.lastBlockAnswerByte(), SOH);
        QVERIFY(terminal.waitForCommand('T', 1, 3s));
    }

    void malformedBlocks_data()
    {
        QTest::addColumn<BlockOptions>("options");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray rec = "050130930C0001234A3";
        const char sum = char(checksum(rec.toStdString()));
        QTest::newRow("bad checksum") << options([](BlockOptions& o) { o.badChecksum = true; }) << QByteArray("\x01S\x02" + rec + "\r\x03" + char(sum ^ 1));
        QTest::newRow("no STX") << options([](BlockOptions& o) { o.omitStx = true; }) << QByteArray("\x01S" + rec + "\r\x03" + sum);
        QTest::newRow("stop") << options([](BlockOptions& o) { o.stopAfter = 7; }) << QByteArray("\x01S\x02" + rec.left(7));
    }
    void malformedBlocks()
    {
        QFETCH(BlockOptions, options);
        QFETCH(QByteArray, expected);
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        terminal.sendOnlineBlock('S', {"050130930C0001234A3"}, options);
        QCOMPARE(pc.read(expected.size()), expected);
        QVERIFY(pc.quiet());
        QVERIFY(terminal.waitBlockDone(5s));
        QCOMPARE(terminal.lastBlockAnswer(), BlockAnswer::None);
    }

    void overlongBlock()
    {
        BlockOptions o;
        o.extraData = 1001;
        const std::vector<std::uint8_t> body = onlineBlockBody({"050130930C0001234A3"}, o);
        QCOMPARE(body.size(), std::size_t(1 + 20 + 1001 + 2));
        QCOMPARE(body[body.size() - 2], ETX);
        // The checksum covers the extra data but not the CR.
        std::vector<std::uint8_t> covered(body.begin() + 1, body.end() - 2);
        covered.erase(covered.begin() + 19);
        QCOMPARE(body.back(), checksum(covered.data(), covered.size()));
    }

    void blockWaitsForIdleLine()
    {
        Terminal terminal;
        terminal.setWord(10, 0x0BAD);
        PcPort pc(terminal.slavePath());
        QVERIFY(pc.open('a'));  // the terminal now waits for the address
        terminal.sendOnlineBlock('S', {"050130930C0001234A3"});
        QVERIFY(pc.quiet());
        pc.write(withSum("0A"));
        QCOMPARE(pc.read(6), QByteArray("\x06" "0BAD") + char(checksum("0BAD")));
        QCOMPARE(pc.read(3), QByteArray("\x01S\x02"));
        pc.read(30, 500);
        pc.write(kAck);
        QVERIFY(terminal.waitBlockDone(3s));
        QCOMPARE(terminal.lastBlockAnswer(), BlockAnswer::Ack);
    }

    // The program: a script run before the device is announced, commands
    // on standard input, and with --serve none until SIGTERM.
    void program()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("COM1");
        testsupport::writeFile(dir.filePath("setup.txt"),
                               "# demo terminal\nword 11 C0DE\nstatus \"RK40 DEMO\" 01.02.03407:08 7\n");
        QProcess sim;
        sim.start(RK40_SIM_PATH, {"--link", link, "--script", dir.filePath("setup.txt")});
        QVERIFY(sim.waitForReadyRead(5000));
        const QByteArray device = sim.readLine().trimmed();
        QVERIFY(device.startsWith("/dev/"));
        QCOMPARE(QFile::symLinkTarget(link), QString::fromLatin1(device));

        auto command = [&](const QByteArray& line) {
            sim.write(line + '\n');
            QByteArray out;
            while (!out.endsWith("ok\n") && !out.contains("error:")) {
                if (!sim.waitForReadyRead(5000))
                    break;
                out += sim.readAll();
            }
            return out;
        };
        QCOMPARE(command("word 0x0A 8000"), QByteArray("ok\n"));
        QVERIFY(command("word 300 1").startsWith("error:"));
        QCOMPARE(command("fault nak 1 1 letter=b"), QByteArray("ok\n"));
        QVERIFY(command("fault bogus").startsWith("error:"));
        const QByteArray dump = command("dump");
        QVERIFY2(dump.startsWith("10 8000\n11 C0DE\n12 0000\n"), dump.constData());
        QCOMPARE(dump.count('\n'), 31);

        PcPort pc(link.toStdString());
        QVERIFY(pc.ask('S', {}, 46).startsWith("FW:RK40 DEMO\rCL:01.02.03407:08\rIB:7\r"));
        QCOMPARE(pc.ask('b', withSum("0A0001"), 1), kNak);
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());

        // A key file to start with; its table back in the same form, on a
        // command and, serving, on SIGUSR1.
        const QByteArray keys = "id,access,name\n0123456789abcd,5,Ana\n";
        testsupport::writeFile(dir.filePath("keys.csv"), keys);
        sim.start(RK40_SIM_PATH, {"--serve", "--keys", dir.filePath("keys.csv")});
        QVERIFY(sim.waitForReadyRead(5000));
        sim.readLine();
        ::kill(pid_t(sim.processId()), SIGUSR1);
        QByteArray table;
        while (!table.endsWith(",\n") && sim.waitForReadyRead(5000))
            table += sim.readAll();
        QCOMPARE(table, QByteArray("id,access,name\n0123456789ABCD,5,\n"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRk40Sim)
#include "tst_rk40sim.moc"
