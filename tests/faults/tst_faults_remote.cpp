// The four remote requests against a gateway that misbehaves on the
// connection: resets before and during the reply, half-closed connections,
// replies dribbled a byte at a time, replies larger than the receive buffer,
// silence. Every request must end with a result within its time limits: 0
// with the right words, or -1 with the failure shown to the user; the
// register image changes only on success.

#include "GatewayBehaviour.h"
#include "RecordingPrompter.h"
#include "RegisterImage.h"
#include "RemoteTerminal.h"

#include <QDateTime>
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

// ByCut: success exactly for the requests whose reply is whole within the
// bytes sent before the connection ends (the cut).
enum class Expect { Success, Failure, ByCut };

// Bytes of the simulated gateway's reply that each request needs: a read up
// to its full stop, a write its result code, the port list "2,1,2.", the
// status all its columns.
int needed(const QString& request)
{
    if (request == QLatin1String("read"))
        return 32 + 30 * 11 + 1;
    if (request == QLatin1String("write"))
        return 26;
    if (request == QLatin1String("ports"))
        return 32 + 6;
    return 32 + 45;
}

} // namespace

// Declared before the tables that carry them: a metatype declared after its
// first use is an error wherever the template is instantiated first.
Q_DECLARE_METATYPE(Behaviour)
Q_DECLARE_METATYPE(Expect)

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
        terminal.dipSwitch = 255;
        m_gateway.setTerminal(1, terminal);
    }

    void requests_data()
    {
        QTest::addColumn<Behaviour>("behaviour");
        QTest::addColumn<Expect>("expect");
        QTest::newRow("reset before the reply") << gatewayBehaviour(Mode::Reset, 0) << Expect::Failure;
        QTest::newRow("reset inside the head") << gatewayBehaviour(Mode::Reset, 10) << Expect::Failure;
        QTest::newRow("reset inside the data") << gatewayBehaviour(Mode::Reset, 60) << Expect::ByCut;
        QTest::newRow("reset on accept") << gatewayBehaviour(Mode::ResetOnAccept) << Expect::Failure;
        QTest::newRow("half-closed after part") << gatewayBehaviour(Mode::HalfClose, 25) << Expect::Failure;
        QTest::newRow("half-closed inside the data") << gatewayBehaviour(Mode::HalfClose, 60) << Expect::ByCut;
        QTest::newRow("half-closed after nothing") << gatewayBehaviour(Mode::HalfClose, 0) << Expect::Failure;
        QTest::newRow("half-closed after all") << gatewayBehaviour(Mode::HalfClose, -1) << Expect::Success;
        QTest::newRow("dribbled") << gatewayBehaviour(Mode::Dribble, 1, 1) << Expect::Success;
        QTest::newRow("dribbled too slowly") << gatewayBehaviour(Mode::Dribble, 1, 400) << Expect::Failure;
        QTest::newRow("larger than the buffer") << gatewayBehaviour(Mode::Normal, 20, 0, 10000) << Expect::Success;
        QTest::newRow("larger, dribbled in pieces") << gatewayBehaviour(Mode::Split, 700, 5, 9000) << Expect::Success;
        QTest::newRow("silent") << gatewayBehaviour(Mode::Silent) << Expect::Failure;
    }

    void requests()
    {
        QFETCH(Behaviour, behaviour);
        QFETCH(Expect, expect);
        struct Run {
            const char* name;
            std::function<int()> call;
        };
        Image image;
        for (int a = 0; a < 256; ++a)
            image.words[static_cast<std::size_t>(a)] = QStringLiteral("OLD");
        std::set<quint8> ports;
        const quint16 tcp = m_gateway.port();
        const std::vector<Run> runs{
            {"read", [&] { return ReadRemoteConfig(kLoopback, tcp, 1, image, kLimits); }},
            // Port 2: the words written must not change what port 1 reads.
            {"write", [&] { return WriteRemoteConfig(kLoopback, tcp, 2, image, kLimits); }},
            {"ports", [&] { return GetRemotePorts(kLoopback, tcp, ports, kLimits); }},
            {"status", [&] { return GetRemoteStatus(kLoopback, tcp, 1, nullptr, kLimits); }},
        };
        const Expect given = expect;
        const bool closes = behaviour.mode == Mode::HalfClose;
        // The read items a reply cut short by a close still holds.
        const int items = closes && behaviour.cut >= 0 ? std::clamp((behaviour.cut - 32) / 11, 0, 30) : 30;
        for (const Run& run : runs) {
            if (given == Expect::ByCut)
                // A close ends any reply that has its result code.
                expect = behaviour.cut >= (closes ? 26 : needed(QString::fromLatin1(run.name))) ? Expect::Success
                                                                                               : Expect::Failure;
            m_boxes.messages.clear();
            m_gateway.pushBehaviour(behaviour);
            QElapsedTimer timer;
            timer.start();
            const int result = run.call();
            const qint64 took = timer.elapsed();
            QVERIFY2(took < kLongestMs, qPrintable(QStringLiteral("%1 took %2 ms").arg(run.name).arg(took)));
            if (expect == Expect::Success) {
                QVERIFY2(result == 0, qPrintable(QStringLiteral("%1: %2 %3").arg(run.name).arg(result).arg(m_boxes.messageTexts().join('|'))));
                QVERIFY(m_boxes.messages.empty() || QString(run.name) == QLatin1String("status"));
            } else {
                QVERIFY2(result == -1, qPrintable(QStringLiteral("%1: %2").arg(run.name).arg(result)));
                QCOMPARE(m_boxes.messages.size(), std::size_t(1));   // the failure, shown once
                QVERIFY(m_boxes.messages[0].text.startsWith(QLatin1String("SOCKET ERROR")));
            }
            if (QString(run.name) == QLatin1String("read")) {
                for (int a = 0; a < 256; ++a) {
                    const QString expected = expect == Expect::Success && a >= 10 && a < 10 + items
                                                 ? QStringLiteral("%1").arg(a * 1009, 4, 16, QLatin1Char('0')).toUpper()
                                                 : QStringLiteral("OLD");
                    QCOMPARE(image.word(a), expected);
                }
            }
            if (QString(run.name) == QLatin1String("ports") && behaviour.oversize == 0)
                QVERIFY(ports == (expect == Expect::Success ? std::set<quint8>{1, 2} : std::set<quint8>{}));
            if (QString(run.name) == QLatin1String("ports") && behaviour.oversize > 0)
                QVERIFY(ports.count(1) == 1);   // the data repeats without separators: "2,1,22,1,2..."
            ports.clear();
        }
        // The gateway is still there for the next client.
        QCOMPARE(GetRemotePorts(kLoopback, tcp, ports, kLimits), 0);
    }

    // A string of requests against faults chosen at random: every one ends
    // within its limits, and the gateway keeps serving.
    void randomFaults()
    {
        const quint64 seed = qEnvironmentVariableIsSet("RK40_FAULT_SEED")
                                 ? qEnvironmentVariable("RK40_FAULT_SEED").toULongLong()
                                 : static_cast<quint64>(QDateTime::currentMSecsSinceEpoch());
        qInfo("random remote faults with RK40_FAULT_SEED=%llu", static_cast<unsigned long long>(seed));
        std::mt19937_64 random(seed);
        const Mode modes[] = {Mode::Normal, Mode::Short, Mode::Split, Mode::Empty, Mode::Reset,
                              Mode::ResetOnAccept, Mode::HalfClose, Mode::Dribble};
        Image image;
        const int rounds = qEnvironmentVariableIntValue("RK40_FAULT_ROUNDS") > 0
                               ? qEnvironmentVariableIntValue("RK40_FAULT_ROUNDS")
                               : 24;
        for (int i = 0; i < rounds; ++i) {
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
            QVERIFY2(timer.elapsed() < kLongestMs, qPrintable(QStringLiteral("round %1 (seed %2) took %3 ms")
                                                                  .arg(i).arg(seed).arg(timer.elapsed())));
            QVERIFY2(result == 0 || result == -1, qPrintable(QStringLiteral("round %1 (seed %2): %3").arg(i).arg(seed).arg(result)));
        }
        std::set<quint8> ports;
        QCOMPARE(GetRemotePorts(kLoopback, m_gateway.port(), ports, kLimits), 0);
    }
};

QTEST_GUILESS_MAIN(TestFaultsRemote)
#include "tst_faults_remote.moc"
