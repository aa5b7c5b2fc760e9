// The four remote requests against a gateway that misbehaves on the
// connection: resets before and during the reply, half-closed connections,
// replies dribbled a byte at a time, replies larger than the receive buffer,
// silence. Every request must end with a result within its time limits: 0
// with the right words, or -1 with the failure shown to the user; the
// register image changes only on success.

#include "FaultSupport.h"
#include "GatewayBehaviour.h"
#include "RecordingPrompter.h"
#include "RegisterImage.h"
#include "RemoteTerminal.h"

#include <QElapsedTimer>
#include <QTest>

#include <array>
#include <functional>
#include <random>
#include <set>

using namespace remote;
using gatewaysim::Behaviour;
using gatewaysim::Mode;
using namespace std::chrono_literals;
using testsupport::gatewayBehaviour;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

class Image final : public image::IRegisterImage {
public:
    QString word(int address) const override { return words.at(static_cast<std::size_t>(address)); }
    void setWord(int address, const QString& text) override { words.at(static_cast<std::size_t>(address)) = text; }
    std::array<QString, 256> words;
};

// Short limits, so that the waits that must run out do so quickly.
const Limits kLimits{2s, 2s, 3s};
// Whatever the fault, no request may take longer than its limits together,
// plus slack for a slow, busy machine.
constexpr qint64 kLongestMs = (2 + 2 + 3) * 1000 + 5000;

} // namespace

// Declared before the tables that carry them: a metatype declared after its
// first use is an error wherever the template is instantiated first.
Q_DECLARE_METATYPE(Behaviour)

class TestFaultsRemote : public QObject {
    Q_OBJECT

    gatewaysim::GatewaySimulator m_gateway;
    testsupport::RecordingPrompter m_boxes;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_gateway.start(0, &error), qPrintable(error));
        gatewaysim::SimTerminal terminal;
        for (int a = 10; a <= 39; ++a)
            terminal.eeprom[static_cast<std::size_t>(a)] = static_cast<quint16>(a * 1009);
        m_gateway.setTerminal(1, terminal);
    }

    void requests_data()
    {
        QTest::addColumn<Behaviour>("behaviour");
        // S or F for read, write, ports and status; the words a read stores.
        QTest::addColumn<QString>("outcomes");
        QTest::addColumn<int>("items");
        QTest::newRow("reset before the reply") << gatewayBehaviour(Mode::Reset, 0) << "FFFF" << 0;
        QTest::newRow("reset inside the head") << gatewayBehaviour(Mode::Reset, 10) << "FFFF" << 0;
        // 60 bytes hold a whole write result and port list, not a whole
        // read or status.
        QTest::newRow("reset inside the data") << gatewayBehaviour(Mode::Reset, 60) << "FSSF" << 0;
        QTest::newRow("reset on accept") << gatewayBehaviour(Mode::ResetOnAccept) << "FFFF" << 0;
        QTest::newRow("half-closed after part") << gatewayBehaviour(Mode::HalfClose, 25) << "FFFF" << 0;
        // A close ends any reply that has its result code.
        QTest::newRow("half-closed inside the data") << gatewayBehaviour(Mode::HalfClose, 60) << "SSSS" << 2;
        QTest::newRow("half-closed after nothing") << gatewayBehaviour(Mode::HalfClose, 0) << "FFFF" << 0;
        QTest::newRow("half-closed after all") << gatewayBehaviour(Mode::HalfClose, -1) << "SSSS" << 30;
        QTest::newRow("late") << gatewayBehaviour(Mode::Slow, 0, 300) << "SSSS" << 30;
        QTest::newRow("dribbled") << gatewayBehaviour(Mode::Dribble, 1, 1) << "SSSS" << 30;
        QTest::newRow("dribbled too slowly") << gatewayBehaviour(Mode::Dribble, 1, 400) << "FFFF" << 0;
        QTest::newRow("larger than the buffer") << gatewayBehaviour(Mode::Normal, 20, 0, 10000) << "SSSS" << 30;
        QTest::newRow("larger, dribbled in pieces") << gatewayBehaviour(Mode::Split, 700, 5, 9000) << "SSSS" << 30;
        QTest::newRow("silent") << gatewayBehaviour(Mode::Silent) << "FFFF" << 0;
    }

    void requests()
    {
        QFETCH(Behaviour, behaviour);
        QFETCH(QString, outcomes);
        QFETCH(int, items);
        Image image;
        image.words.fill(QStringLiteral("OLD"));
        std::set<quint8> ports;
        const quint16 tcp = m_gateway.port();
        const std::function<int()> runs[] = {
            [&] { return ReadRemoteConfig(kLoopback, tcp, 1, image, kLimits); },
            // Port 2: the words written must not change what port 1 reads.
            [&] { return WriteRemoteConfig(kLoopback, tcp, 2, image, kLimits); },
            [&] { return GetRemotePorts(kLoopback, tcp, ports, kLimits); },
            [&] { return GetRemoteStatus(kLoopback, tcp, 1, nullptr, kLimits); },
        };
        for (int run = 0; run < 4; ++run) {
            const bool success = outcomes[run] == QLatin1Char('S');
            m_boxes.messages.clear();
            m_gateway.pushBehaviour(behaviour);
            QElapsedTimer timer;
            timer.start();
            const int result = runs[run]();
            QVERIFY2(timer.elapsed() < kLongestMs, qPrintable(QStringLiteral("request %1 took %2 ms").arg(run).arg(timer.elapsed())));
            QCOMPARE(result, success ? 0 : -1);
            if (!success) {
                QCOMPARE(m_boxes.messages.size(), std::size_t(1));   // the failure, shown once
                QVERIFY(m_boxes.messages[0].text.startsWith(QLatin1String("SOCKET ERROR")));
            } else if (run != 3) {
                QVERIFY(m_boxes.messages.empty());
            }
            for (int a = 0; run == 0 && a < 256; ++a)
                QCOMPARE(image.word(a), a >= 10 && a < 10 + items
                                            ? QStringLiteral("%1").arg(a * 1009, 4, 16, QLatin1Char('0')).toUpper()
                                            : QStringLiteral("OLD"));
            // Oversized: the data repeats without separators, "2,1,22,1,2...".
            if (run == 2)
                QVERIFY(behaviour.oversize > 0 ? ports.count(1) == 1
                                               : ports == (success ? std::set<quint8>{1, 2} : std::set<quint8>{}));
        }
        // The gateway is still there for the next client.
        QCOMPARE(GetRemotePorts(kLoopback, tcp, ports, kLimits), 0);
    }

    // A string of requests against faults chosen at random: every one ends
    // within its limits, and the gateway keeps serving.
    void randomFaults()
    {
        const quint64 seed = faults::runSeed();
        qInfo("random remote faults with RK40_FAULT_SEED=%llu", static_cast<unsigned long long>(seed));
        std::mt19937_64 random(seed);
        const Mode modes[] = {Mode::Normal, Mode::Short, Mode::Split, Mode::Empty, Mode::Reset,
                              Mode::ResetOnAccept, Mode::HalfClose, Mode::Dribble};
        Image image;
        for (int i = 0; i < 24; ++i) {
            Behaviour b = gatewayBehaviour(modes[random() % std::size(modes)], static_cast<int>(random() % 400) - 1,
                                           static_cast<int>(random() % 3));
            if (random() % 4 == 0)
                b.oversize = 4000 + static_cast<int>(random() % 8000);
            m_gateway.pushBehaviour(b);
            QElapsedTimer timer;
            timer.start();
            std::set<quint8> ports;
            int result = 0;
            switch (random() % 4) {
            case 0: result = ReadRemoteConfig(kLoopback, m_gateway.port(), 1, image, kLimits); break;
            case 1: result = WriteRemoteConfig(kLoopback, m_gateway.port(), 1, image, kLimits); break;
            case 2: result = GetRemotePorts(kLoopback, m_gateway.port(), ports, kLimits); break;
            default: result = GetRemoteStatus(kLoopback, m_gateway.port(), 1, nullptr, kLimits); break;
            }
            QVERIFY2(timer.elapsed() < kLongestMs && (result == 0 || result == -1),
                     qPrintable(QStringLiteral("round %1: %2 after %3 ms").arg(i).arg(result).arg(timer.elapsed())));
        }
        std::set<quint8> ports;
        QCOMPARE(GetRemotePorts(kLoopback, m_gateway.port(), ports, kLimits), 0);
    }
};

QTEST_GUILESS_MAIN(TestFaultsRemote)
#include "tst_faults_remote.moc"
