// The four remote requests of RemoteTransfer end to end against the gateway
// simulator on loopback, including gateways that misbehave on the
// connection. Nothing here has a window: outcomes are checked as returned.

#include "GatewayBehaviour.h"
#include "core/MemoryImage.h"
#include "core/RemoteTransfer.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <functional>

using namespace remote;
using testsupport::gatewayBehaviour;
using namespace std::chrono_literals;
using gatewaysim::Behaviour;
using gatewaysim::Mode;

using image::MemoryImage;
using remotexfer::RemoteOutcome;
using remotexfer::RemoteTransfer;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");
// Short limits, so that the waits that must run out do so quickly.
const Limits kLimits{2s, 2s, 3s};
// No request may take longer than its limits together, plus slack for a
// slow, busy machine.
constexpr qint64 kLongestMs = (2 + 2 + 3) * 1000 + 5000;

MemoryImage filledImage(int seed)
{
    MemoryImage image;
    for (int address = 10; address <= 39; ++address)
        image.setWord(address, QStringLiteral("%1").arg((address * 2311 + seed) & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper());
    return image;
}

} // namespace

// Declared before the table that carries it: a metatype declared after its
// first use is an error wherever the template is instantiated first.
Q_DECLARE_METATYPE(Behaviour)

class TestRemoteTransfer : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_environment = std::make_unique<testsupport::TestEnvironment>();
        m_gateway = std::make_unique<gatewaysim::GatewaySimulator>();
        QString error;
        QVERIFY2(m_gateway->start(0, &error), qPrintable(error));
        QVERIFY(m_gateway->port() != 0);
    }

    void cleanup()
    {
        m_gateway.reset();
        m_environment.reset();
    }

    // The words written are the words read back; an empty entry goes as 0.
    void writeThenRead()
    {
        MemoryImage written = filledImage(7);
        written.setWord(10, QStringLiteral("0123"));
        written.setWord(11, QString());
        m_gateway->setSerialPorts({2});
        QCOMPARE(RemoteTransfer().write({kLoopback, m_gateway->port(), 2}, written).result, 0);
        QCOMPARE(m_gateway->requests().size(), 1);
        QVERIFY(m_gateway->requests()[0].startsWith("VeTr 1 0000331 plok 2 sEPT 0010,00291;0011,00000;"));
        QCOMPARE(m_gateway->terminal(2).eeprom[10], quint16(0x0123));

        MemoryImage back;
        QCOMPARE(RemoteTransfer().read({kLoopback, m_gateway->port(), 2}, back).result, 0);
        QCOMPARE(m_gateway->requests().last(), QByteArray("VeTr 1 0000000 plok 2 gEPT."));
        QCOMPARE(back.stores(), 30);
        written.setWord(11, QStringLiteral("0000"));
        QVERIFY(back == written);
    }

    void faults_data()
    {
        QTest::addColumn<Behaviour>("behaviour");
        // S or F for read, write, port list and status; the words a read
        // stores; the ports listed.
        QTest::addColumn<QString>("outcomes");
        QTest::addColumn<int>("items");
        QTest::addColumn<QString>("ports");
        QTest::newRow("empty reply") << gatewayBehaviour(Mode::Empty) << "FFFF" << 0 << "";
        QTest::newRow("closed before the result code") << gatewayBehaviour(Mode::Short, 25) << "FFFF" << 0 << "";
        // Once the result code is in, the gateway's close ends the reply.
        QTest::newRow("result code only") << gatewayBehaviour(Mode::Short, 26) << "SSSS" << 0 << "";
        QTest::newRow("first piece only") << gatewayBehaviour(Mode::Short, 200) << "SSSS" << 15 << "1,2";
        QTest::newRow("without its full stop") << gatewayBehaviour(Mode::Short, 32 + 330) << "SSSS" << 30 << "1,2";
        QTest::newRow("closed after, pieces of 50") << gatewayBehaviour(Mode::Split, 50, 20) << "SSSS" << 30 << "1,2";
        QTest::newRow("kept open, pieces of 7") << gatewayBehaviour(Mode::Split, 7, 20, 0, true) << "SSSS" << 30 << "1,2";
        QTest::newRow("kept open, result code split")
            << gatewayBehaviour(Mode::Split, 24, 20, 0, true) << "SSSS" << 30 << "1,2";
        QTest::newRow("late") << gatewayBehaviour(Mode::Slow, 0, 300) << "SSSS" << 30 << "1,2";
        QTest::newRow("reset before the reply") << gatewayBehaviour(Mode::Reset, 0) << "FFFF" << 0 << "";
        // 60 bytes hold a whole write result and port list, not a whole read
        // or status.
        QTest::newRow("reset inside the data") << gatewayBehaviour(Mode::Reset, 60) << "FSSF" << 0 << "1,2";
        QTest::newRow("reset on accept") << gatewayBehaviour(Mode::ResetOnAccept) << "FFFF" << 0 << "";
        QTest::newRow("half-closed after part") << gatewayBehaviour(Mode::HalfClose, 25) << "FFFF" << 0 << "";
        QTest::newRow("half-closed inside the data") << gatewayBehaviour(Mode::HalfClose, 60) << "SSSS" << 2 << "1,2";
        QTest::newRow("half-closed after all") << gatewayBehaviour(Mode::HalfClose, -1) << "SSSS" << 30 << "1,2";
        QTest::newRow("dribbled") << gatewayBehaviour(Mode::Dribble, 1, 1) << "SSSS" << 30 << "1,2";
        QTest::newRow("dribbled too slowly") << gatewayBehaviour(Mode::Dribble, 1, 400) << "FFFF" << 0 << "";
        // Beyond the receive buffer the data repeats without separators: "2,1,22,1,2...".
        QTest::newRow("larger than the buffer")
            << gatewayBehaviour(Mode::Normal, 20, 0, 10000) << "SSSS" << 30 << "1,22";
        QTest::newRow("larger, dribbled in pieces")
            << gatewayBehaviour(Mode::Split, 700, 5, 9000) << "SSSS" << 30 << "1,22";
        QTest::newRow("silent") << gatewayBehaviour(Mode::Silent) << "FFFF" << 0 << "";
    }

    // Replies cut, split, late, reset, half-closed, dribbled, oversized or
    // missing: every request ends within its limits, with 0 and what the reply
    // holds or with -1 and the failure shown once; a failed read stores nothing.
    void faults()
    {
        QFETCH(Behaviour, behaviour);
        QFETCH(QString, outcomes);
        QFETCH(int, items);
        gatewaysim::SimTerminal terminal;
        for (int a = 10; a <= 39; ++a)
            terminal.eeprom[static_cast<std::size_t>(a)] = static_cast<quint16>(a * 1009);
        m_gateway->setTerminal(1, terminal);
        MemoryImage image;
        for (int a = 0; a < 256; ++a)
            image.setWord(a, QStringLiteral("OLD"));
        std::set<quint8> listedPorts;
        const quint16 tcp = m_gateway->port();
        const std::function<RemoteOutcome()> runs[] = {
            [&] { return RemoteTransfer(kLimits).read({kLoopback, tcp, 1}, image); },
            // Port 2: the words written must not change what port 1 reads.
            [&] { return RemoteTransfer(kLimits).write({kLoopback, tcp, 2}, image); },
            [&] {
                RemoteOutcome out = RemoteTransfer(kLimits).ports(kLoopback, tcp, 0);
                listedPorts = out.ports;
                return out;
            },
            [&] { return RemoteTransfer(kLimits).status({kLoopback, tcp, 1}); },
        };
        for (int run = 0; run < 4; ++run) {
            const bool success = outcomes[run] == QLatin1Char('S');
            m_gateway->pushBehaviour(behaviour);
            QElapsedTimer timer;
            timer.start();
            const RemoteOutcome out = runs[run]();
            QCOMPARE(out.result, success ? 0 : RemoteOutcome::kFailed);
            QVERIFY2(timer.elapsed() < kLongestMs, qPrintable(QString::number(timer.elapsed())));
            QCOMPARE(out.socketError.startsWith(QLatin1String("SOCKET ERROR")), !success);
            QCOMPARE(!out.statusText.isEmpty(), success && run == 3);
        }
        QCOMPARE(image.outOfRange(), 0);
        for (int a = 0; a < 256; ++a)
            QCOMPARE(image.word(a), a >= 10 && a < 10 + items
                                                     ? QStringLiteral("%1").arg(a * 1009, 4, 16, QLatin1Char('0')).toUpper()
                                                     : QStringLiteral("OLD"));
        QStringList listed;
        for (quint8 port : listedPorts)
            listed << QString::number(port);
        QTEST(listed.join(QLatin1Char(',')), "ports");
        // The gateway is still there for the next client.
        QCOMPARE(RemoteTransfer(kLimits).ports(kLoopback, tcp, 0).result, 0);
    }

    void silentGatewayTimesOut()
    {
        // A gateway that stalls before its result code times out ...
        Limits limits;
        limits.reply = std::chrono::seconds(1);
        MemoryImage image;
        m_gateway->setDefaultBehaviour(gatewayBehaviour(Mode::Split, 20, 3'000, 0, true));
        const RemoteOutcome late = RemoteTransfer(limits).read({kLoopback, m_gateway->port(), 1}, image);
        QCOMPARE(late.result, RemoteOutcome::kFailed);
        QCOMPARE(image.stores(), 0);
        QCOMPARE(late.socketError, QStringLiteral("SOCKET ERROR Receive timeout error"));

        // ... one that stalls after its header is taken as it stands.
        limits.reply = std::chrono::seconds(60);
        m_gateway->setDefaultBehaviour(gatewayBehaviour(Mode::Split, 100, 60'000, 0, true));
        QCOMPARE(RemoteTransfer(limits).read({kLoopback, m_gateway->port(), 1}, image).result, 0);
        QCOMPARE(image.stores(), 6);
    }

private:
    std::unique_ptr<testsupport::TestEnvironment> m_environment;
    std::unique_ptr<gatewaysim::GatewaySimulator> m_gateway;

private slots:
    void gatewayErrorCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("7") << 7;
        QTest::newRow("9999") << 9999;
    }

    void gatewayErrorCodes()
    {
        QFETCH(int, code);
        m_gateway->setDefaultBehaviour({.resultCode = code, .raw = {}});

        MemoryImage image = filledImage(1);
        const MemoryImage before = image;
        const quint16 tcp = m_gateway->port();
        RemoteTransfer transfer;
        QCOMPARE(transfer.read({kLoopback, tcp, 1}, image).result, code);
        QVERIFY(image == before);
        QCOMPARE(image.stores(), before.stores());
        QCOMPARE(transfer.write({kLoopback, tcp, 1}, image).result, code);
        const RemoteOutcome listed = transfer.ports(kLoopback, tcp, 0);
        QCOMPARE(listed.result, code);
        QVERIFY(listed.ports.empty() && listed.socketError.isEmpty());
        QCOMPARE(transfer.status({kLoopback, tcp, 1}).result, code);

        // The simulator's own code for a serial port without a terminal.
        m_gateway->setDefaultBehaviour({});
        QCOMPARE(transfer.read({kLoopback, tcp, 9}, image).result, int(gatewaysim::kNoTerminal));
    }
};

QTEST_GUILESS_MAIN(TestRemoteTransfer)
#include "tst_remote_transfer.moc"
