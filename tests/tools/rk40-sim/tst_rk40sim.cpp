// The terminal simulator, driven from the PC side of the pseudo-terminal
// with raw bytes: golden frames, the status block layout, on-line blocks,
// the faults and the command-line program.

#include "TestBytes.h"
#include "rk40sim/Terminal.h"

#include <QElapsedTimer>
#include <QProcess>

#include <csignal>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
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

const QByteArray kAck(1, char(ACK)), kNak(1, char(NAK)), kEot(1, char(EOT));

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
    bool isOpen() const { return m_fd >= 0; }

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
            if (got <= 0) {
                m_hungUp = true;
                break;
            }
            out.append(buf, got);
        }
        return out;
    }
    bool quiet(int ms = kQuietMs) { return read(1, ms).isEmpty(); }
    bool hungUp() const { return m_hungUp; }

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
    bool m_hungUp = false;
};

constexpr int LineNoise::*kNoise[] = {&LineNoise::dropPpm, &LineNoise::duplicatePpm, &LineNoise::corruptPpm,
                                      &LineNoise::insertPpm};

// Decodes a status block as the PC does: three texts, each behind three
// skipped bytes and ended by CR (or the end of the block).
QStringList statusTexts(const QByteArray& block)
{
    QStringList texts;
    qsizetype pos = 3;
    for (int i = 0; i < 3 && pos <= block.size(); ++i) {
        qsizetype cr = block.indexOf('\r', pos);
        if (cr < 0)
            cr = block.size();
        texts << QString::fromLatin1(block.mid(pos, cr - pos));
        pos = cr + 4;
    }
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(rk40sim::BlockOptions)

class TestRk40Sim : public QObject {
    Q_OBJECT

private slots:
    void checksumExamples_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("sum");
        QTest::newRow("abc") << QByteArray("abc") << 0x60;
        QTest::newRow("address 10") << QByteArray("0A") << 0x71;
        QTest::newRow("write 10 8000") << QByteArray("0A8000") << 0x79;
        QTest::newRow("empty") << QByteArray() << 0x20;
    }
    void checksumExamples()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, sum);
        QCOMPARE(int(checksum(data.toStdString())), sum);
    }

    // Register requests as they travel; word 10 holds ABCD. An answer is the
    // lead byte, four digits and the checksum over the digits.
    void registerRequests_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("lower");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("word10");   // afterwards
        QTest::newRow("read") << 'a' << QByteArray("\x30\x41\x71") << false << QByteArray("\x06" "ABCD" "\x24") << 0xABCD;
        QTest::newRow("read, lower case") << 'a' << QByteArray("0A\x71") << true << QByteArray("\x06" "abcd" "\x24") << 0xABCD;
        QTest::newRow("write") << 'b' << QByteArray("\x30\x41\x38\x30\x30\x30\x79") << false << kAck << 0x8000;
        QTest::newRow("read, wrong checksum") << 'a' << QByteArray("0A\x70") << false << kNak << 0xABCD;
        QTest::newRow("read, not a digit") << 'a' << withSum("0G") << false << kNak << 0xABCD;
        QTest::newRow("write, wrong checksum") << 'b' << QByteArray("0A8000\x78") << false << kNak << 0xABCD;
        QTest::newRow("write, not a digit") << 'b' << withSum("0A80X0") << false << kNak << 0xABCD;
    }
    void registerRequests()
    {
        QFETCH(char, letter);
        QFETCH(QByteArray, request);
        QFETCH(bool, lower);
        QFETCH(QByteArray, answer);
        Terminal terminal;
        terminal.setWord(10, 0xABCD);
        terminal.setLowerCaseHex(lower);
        PcPort pc(terminal.slavePath());
        QCOMPARE(pc.ask(letter, request, 6), answer);
        QVERIFY(pc.quiet());
        QTEST(int(terminal.word(10)), "word10");
        QCOMPARE(bytes(terminal.received()), QByteArray("\x01") + letter + letter + request);
        QCOMPARE(terminal.commandCount(letter), 1);
    }

    void statusAndClock()
    {
        Terminal terminal;
        terminal.setStatus("V6.29/2", "08.01.03307:09", "0042");
        terminal.setWireTiming(9600);
        PcPort pc(terminal.slavePath());
        QElapsedTimer timer;
        timer.start();
        const QByteArray block = pc.ask('S', {}, 46);
        QCOMPARE(block.size(), 46);
        // Only a lower bound: 1 + 1 + 2 + 46 bytes at 9600 baud take 52 ms.
        QVERIFY2(timer.elapsed() >= 50, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(pc.quiet());
        QCOMPARE(statusTexts(block), (QStringList{"V6.29/2", "08.01.03307:09", "0042"}));
        QCOMPARE(block.at(3 + 7), '\r');
        QVERIFY(!block.contains('\0'));
        // Texts too long for the block are cut at 46 bytes.
        terminal.setFirmware(std::string(60, 'F'));
        QCOMPARE(pc.ask('S', {}, 46), QByteArray("FW:") + QByteArray(43, 'F'));
        QVERIFY(pc.quiet());

        // The clock set, then refused with a wrong checksum.
        terminal.setFirmware("V6.29/2");
        QCOMPARE(pc.ask('D', withSum("05.01.03007:09"), 1), kAck);
        QCOMPARE(terminal.lastClockText(), std::string("05.01.03007:09"));
        QCOMPARE(statusTexts(pc.ask('S', {}, 46)).value(1), QString("05.01.03007:09"));
        QCOMPARE(pc.ask('D', QByteArray("06.01.03107:09") + char(0x20), 1), kNak);
        QCOMPARE(terminal.lastClockText(), std::string("05.01.03007:09"));
    }

    void textMessage()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        const QByteArray text = QByteArray("'Bar dan!").leftJustified(24, ' ');
        QCOMPARE(pc.ask('x', withSum(text), 1), kAck);
        QCOMPARE(QByteArray::fromStdString(terminal.lastMessage()), text);
        QCOMPARE(terminal.lastMessageLetter(), 'x');
        QVERIFY(pc.open('M'));
        QVERIFY(pc.quiet());
        QTRY_VERIFY(terminal.lastMessage().empty());
        QCOMPARE(terminal.commandCount('M'), 1);
    }

    void identificationTable()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        // AddIDElement("0123456789ABCD", 5) as it travels.
        QCOMPARE(Terminal::reverseIdBytes("0123456789ABCD"), std::string("CDAB8967452301"));
        QCOMPARE(pc.ask('i', withSum(QByteArray("CDAB8967452301" "05" "\x03")), 2), QByteArray("\x06" "0"));
        terminal.addIdElement("11111111111111", 0x1F);
        QCOMPARE(terminal.idTable(), (std::vector<IdElement>{{"CDAB8967452301", 5}, {"11111111111111", 0x1F}}));

        // Upload: refused once, so it comes again; then the next; then EOT.
        const QByteArray first = QByteArray("1/CDAB896745230105" "\x03") + char(checksum("1/CDAB896745230105"));
        QCOMPARE(pc.ask('s', {}, first.size()), first);
        pc.write(kNak);
        QTRY_COMPARE(terminal.lastUploadAnswer(), NAK);
        QCOMPARE(pc.ask('s', {}, first.size()), first);
        pc.write(kAck);
        QTRY_COMPARE(terminal.lastUploadAnswer(), ACK);
        QCOMPARE(pc.ask('s', {}, 20).left(18), QByteArray("2/111111111111111F"));
        pc.write(kAck);
        QCOMPARE(pc.ask('s', {}, 1), kEot);
        QVERIFY(pc.quiet());
        pc.write(kAck);
        QTRY_COMPARE(terminal.lastUploadAnswer(), ACK);
        // "r" starts the upload again from the first element.
        QVERIFY(pc.open('r'));
        QCOMPARE(pc.ask('s', {}, 20).left(18), QByteArray("1/CDAB896745230105"));
        pc.write(kAck);

        // KillIDElement with access 0x25 sends 85; then "j" and "k".
        QCOMPARE(pc.ask('e', withSum(QByteArray("CDAB8967452301" "85" "\x03")), 2), QByteArray("\x06" "0"));
        QCOMPARE(terminal.idTable().size(), std::size_t(1));
        terminal.setIdtNumText("0815");
        QCOMPARE(pc.ask('j', {}, 5), QByteArray("0815\r"));
        QVERIFY(pc.open('k'));
        QVERIFY(terminal.waitForCommand('k', 1, 3s));
        QTRY_VERIFY(terminal.idTable().empty());

        // A frame with a bad checksum is refused; one with bad digits gets "1".
        QCOMPARE(pc.ask('i', QByteArray("CDAB8967452301" "05" "\x03") + char(0x7F), 1), kNak);
        QVERIFY(pc.quiet());
        QCOMPARE(pc.ask('i', withSum(QByteArray("CDAB89674523ZZ" "05" "\x03")), 2), QByteArray("\x06" "1"));
        QVERIFY(terminal.idTable().empty());
    }

    void calendarTypes()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        QCOMPARE(pc.ask('t', withSum(QByteArray("3MONDAY 0800-1600" "\x03")), 2), QByteArray("\x06" "0"));
        QCOMPARE(pc.ask('u', withSum(QByteArray("1WEEK A" "\x03")), 2), QByteArray("\x06" "0"));
        QCOMPARE(terminal.receivedDayTypes(), std::vector<std::string>{"3MONDAY 0800-1600"});
        QCOMPARE(terminal.receivedWeekTypes(), std::vector<std::string>{"1WEEK A"});

        terminal.queueDayTypeRecord("5DAYTYPE5");
        QCOMPARE(pc.ask('w', {}, 1), kEot);
        pc.write(kAck);
        QCOMPARE(pc.ask('v', {}, 11), QByteArray("5DAYTYPE5\x03") + char(checksum("5DAYTYPE5")));
        pc.write(kAck);
        QTRY_COMPARE(terminal.lastUploadAnswer(), ACK);
        QCOMPARE(pc.ask('v', {}, 1), kEot);
        QVERIFY(pc.quiet());
    }

    void openingOnlyCommands()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        for (char letter : {'k', 'M', 'P', 'r', 'T', 'T'}) {
            QVERIFY(pc.open(letter));
            QVERIFY(terminal.waitForCommand(letter, 1, 3s));
        }
        QVERIFY(pc.quiet());
        QVERIFY(terminal.waitForCommand('T', 2, 3s));
        QCOMPARE(terminal.openingCount(), 6);
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
        const QByteArray statusAnswer = bytes(Terminal().statusBlock());
        QTest::newRow("silence") << int(Fault::Silence) << -1 << 'a' << 'a' << read10 << QByteArray() << readAnswer;
        QTest::newRow("nak write") << int(Fault::Nak) << -1 << 'b' << 'b' << write10 << QByteArray("\x15") << QByteArray("\x06");
        QTest::newRow("nak status") << int(Fault::Nak) << -1 << 'S' << 'S' << QByteArray() << QByteArray("\x15") << statusAnswer;
        QTest::newRow("other byte") << int(Fault::OtherByte) << -1 << 'b' << 'b' << write10 << QByteArray("X") << QByteArray("\x06");
        QTest::newRow("other byte given") << int(Fault::OtherByte) << int('?') << 'b' << 'b' << write10 << QByteArray("?") << QByteArray("\x06");
        QTest::newRow("bad checksum") << int(Fault::BadChecksum) << -1 << 'a' << 'a' << read10 << QByteArray("\x06" "1234" "\x25") << readAnswer;
        QTest::newRow("result 1") << int(Fault::ResultOne) << -1 << 'i' << 'i' << add << QByteArray("\x06" "1") << QByteArray("\x06" "0");
        QTest::newRow("result other") << int(Fault::ResultOther) << -1 << 'i' << 'i' << add << QByteArray("\x06" "7") << QByteArray("\x06" "0");
        QTest::newRow("no result") << int(Fault::NoResult) << -1 << 'i' << 'i' << add << QByteArray("\x06") << QByteArray("\x06" "0");
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

    void disconnect()
    {
        auto terminal = std::make_unique<Terminal>();
        terminal->setWord(10, 0x1234);
        PcPort pc(terminal->slavePath());
        terminal->injectFault({Fault::Disconnect, 3});
        QCOMPARE(pc.ask('a', withSum("0A"), 6), QByteArray("\x06" "12"));
        QTRY_VERIFY(!terminal->connected());
        QVERIFY(pc.read(1, 500).isEmpty());
        QVERIFY(pc.hungUp());
        terminal->sendOnlineBlock('S', {"050130930C0001234A3"});
        QVERIFY(terminal->waitBlockDone(3s));
        QCOMPARE(terminal->lastBlockAnswer(), BlockAnswer::None);
        terminal.reset();  // must not hang or crash
    }

    // The damage of a noisy line to the opening ACK: what arrives, and one
    // damaged byte counted.
    void lineNoise_data()
    {
        QTest::addColumn<int>("kind");   // of kNoise
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("ack");   // whether the last byte is the ACK
        QTest::newRow("drop") << 0 << 0 << false;
        QTest::newRow("duplicate") << 1 << 2 << true;
        QTest::newRow("corrupt") << 2 << 1 << false;
        QTest::newRow("insert") << 3 << 2 << true;
    }
    void lineNoise()
    {
        QFETCH(int, kind);
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        LineNoise noise;
        noise.seed = 7;
        noise.*kNoise[kind] = 1'000'000;
        terminal.setLineNoise(noise);
        pc.write(QByteArray(1, char(SOH)));
        const QByteArray got = pc.read(2, 1000);
        QTEST(int(got.size()), "length");
        QTEST(got.endsWith(char(ACK)), "ack");
        QCOMPARE(terminal.lineNoiseCounts().bytes, 1u);
        QCOMPARE(terminal.lineNoiseCounts().damaged(), 1u);
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

    // Noise on what the PC sends: the terminal sees the damaged request and
    // refuses it.
    void noiseFromPc()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        QVERIFY(pc.open('a'));
        LineNoise noise;
        noise.toPc = false;
        noise.fromPc = true;
        noise.corruptPpm = 1'000'000;
        terminal.setLineNoise(noise);
        pc.write(withSum("0A"));
        QVERIFY(pc.read(1) != QByteArray("\x06"));  // a NAK or nothing, never the answer
        QCOMPARE(bytes(terminal.received()).right(3), withSum("0A"));  // received() keeps what was sent
    }

    void flood()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        Flood flood;
        flood.seed = 3;
        flood.minRecords = 2;
        flood.maxRecords = 5;
        flood.answerTimeout = 2s;
        terminal.startFlood(flood);
        QVERIFY(terminal.flooding());
        // Take three blocks and acknowledge each one.
        for (int i = 0; i < 3; ++i) {
            QByteArray block;
            while (!block.endsWith('\x03')) {
                const QByteArray b = pc.read(1);
                QVERIFY2(!b.isEmpty(), "the flood stopped");
                block += b;
            }
            block += pc.read(1);  // checksum
            QCOMPARE(block.left(3), QByteArray("\x01S\x02"));
            pc.write(kAck);
        }
        QTRY_VERIFY(terminal.blockHistory().size() >= 3);
        terminal.stopFlood();
        QVERIFY(terminal.waitBlockDone(5s));
        const auto history = terminal.blockHistory();
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(history[i].answer, BlockAnswer::Ack);
            QVERIFY(history[i].records.size() >= 2 && history[i].records.size() <= 5);
            for (const std::string& r : history[i].records)
                QCOMPARE(r.size(), std::size_t(19));
        }
    }

    // On-line blocks on one line: an S block acknowledged; a V block that
    // waits for the PC's ACK before its STX, refused; one a PC answers by
    // opening a command.
    void onlineBlocks()
    {
        Terminal terminal;
        PcPort pc(terminal.slavePath());
        terminal.sendOnlineBlock('S', {"050130930C0001234A3", "06012101520000ABCD1"});
        const QByteArray summed = QByteArray("050130930C0001234A306012101520000ABCD1");
        const QByteArray expected = QByteArray("\x01S\x02" "050130930C0001234A3\r06012101520000ABCD1\r\x03")
                                    + char(checksum(summed.toStdString()));
        QCOMPARE(pc.read(expected.size()), expected);
        QCOMPARE(terminal.lastBlockAnswer(), BlockAnswer::Pending);
        pc.write(kAck);
        QVERIFY(terminal.waitBlockDone(3s));
        QCOMPARE(terminal.lastBlockAnswer(), BlockAnswer::Ack);
        QCOMPARE(terminal.blocksSent(), 1);

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
        QTest::newRow("kind byte") << options([](BlockOptions& o) { o.kindByte = 'Q'; }) << QByteArray("\x01Q\x02" + rec + "\r\x03" + sum);
        QTest::newRow("no STX") << options([](BlockOptions& o) { o.omitStx = true; }) << QByteArray("\x01S" + rec + "\r\x03" + sum);
        QTest::newRow("stop") << options([](BlockOptions& o) { o.stopAfter = 7; }) << QByteArray("\x01S\x02" + rec.left(7));
        QTest::newRow("high bytes") << options([](BlockOptions& o) { o.highBytes = true; }) << QByteArray("\x01S\x02" + rec.left(5) + "\x80\xA5\xFF" + rec.mid(5) + "\r\x03" + sum);
        QTest::newRow("control bytes")
            << options([](BlockOptions& o) { o.controlBytes = true; }) << QByteArray("\x01S\x02" + rec.left(5) + QByteArray("\x01\x02\x04\x06\x0A\x0C") + rec.mid(5) + "\r\x03" + sum);
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
        QCOMPARE(statusTexts(pc.ask('S', {}, 46)), (QStringList{"RK40 DEMO", "01.02.03407:08", "7"}));
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
