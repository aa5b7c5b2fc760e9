// The four remote requests end to end against the gateway simulator on
// loopback, including replies that are short, split, slow, empty or noise.

#include "GatewayBehaviour.h"
#include "MemoryImage.h"
#include "Prompt.h"
#include "RecordingPrompter.h"
#include "RemoteTerminal.h"
#include "TestEnvironment.h"
#include "TestNetwork.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>
#include <unistd.h>

using namespace remote;
using testsupport::gatewayBehaviour;
using testsupport::unusedPort;
using gatewaysim::Behaviour;
using gatewaysim::Mode;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

MemoryImage filledImage(int seed)
{
    MemoryImage image;
    for (int address = 10; address <= 39; ++address)
        image.words[static_cast<std::size_t>(address)] =
            QStringLiteral("%1").arg((address * 2311 + seed) & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper();
    return image;
}

} // namespace

class TestRemoteTerminal : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeThenRead();
    void status();
    void ports();
    void gatewayErrorCodes_data();
    void gatewayErrorCodes();
    void nothingListening();
    void addressNotDotted();
    void incompleteReplies_data();
    void incompleteReplies();
    void splitReplies_data();
    void splitReplies();
    void silentGatewayTimesOut();
    void noiseReplies();

private:
    std::unique_ptr<testsupport::TestEnvironment> m_environment;
    std::unique_ptr<gatewaysim::GatewaySimulator> m_gateway;
    std::unique_ptr<testsupport::RecordingPrompter> m_prompter;
};

void TestRemoteTerminal::init()
{
    m_environment = std::make_unique<testsupport::TestEnvironment>();
    m_prompter = std::make_unique<testsupport::RecordingPrompter>();
    m_gateway = std::make_unique<gatewaysim::GatewaySimulator>();
    QString error;
    QVERIFY2(m_gateway->start(0, &error), qPrintable(error));
    QVERIFY(m_gateway->port() != 0);
}

void TestRemoteTerminal::cleanup()
{
    m_gateway.reset();
    m_prompter.reset();
    m_environment.reset();
    QVERIFY(!QGuiApplication::overrideCursor());
}

// The words written are the words read back; an empty entry goes as 0.
void TestRemoteTerminal::writeThenRead()
{
    MemoryImage written = filledImage(7);
    written.words[10] = QStringLiteral("0123");
    written.words[11] = QString();
    m_gateway->setSerialPorts({2});
    QCOMPARE(WriteRemoteConfig(kLoopback, m_gateway->port(), 2, written), 0);
    QCOMPARE(m_gateway->requests().size(), 1);
    QVERIFY(m_gateway->requests()[0].startsWith("VeTr 1 0000331 plok 2 sEPT 0010,00291;0011,00000;"));
    QCOMPARE(m_gateway->terminal(2).eeprom[10], quint16(0x0123));

    MemoryImage read;
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 2, read), 0);
    QCOMPARE(m_gateway->requests().last(), QByteArray("VeTr 1 0000000 plok 2 gEPT."));
    QCOMPARE(read.writes, 30);
    written.words[11] = QStringLiteral("0000");
    QVERIFY(read == written);
    QVERIFY(m_prompter->messages.empty());
}

void TestRemoteTerminal::status()
{
    gatewaysim::SimTerminal terminal;
    terminal.time = QStringLiteral("05:04");
    terminal.date = QStringLiteral("06.12.26");
    terminal.dayOfWeek = 6;
    terminal.buffered = 17;
    terminal.dipSwitch = 255;
    m_gateway->setTerminal(10, terminal);
    m_gateway->setSerialPorts({1, 10});

    QWidget owner;
    QCOMPARE(GetRemoteStatus(kLoopback, m_gateway->port(), 10, &owner), 0);
    QCOMPARE(m_gateway->requests(), QList<QByteArray>{"VeTr 1 0000000 plok : STAT."});
    QCOMPARE(m_prompter->messages.size(), std::size_t(1));
    const auto& box = m_prompter->messages[0];
    QCOMPARE(box.title, QStringLiteral("Status"));
    QCOMPARE(box.look, ui::Look::Information);
    QCOMPARE(box.text, QStringLiteral("Time:\t\t05:04\nDate:\t\t06.12.26\nDay of week:\tSunday\nBuffered:\t\t17\n"
                                      "Version:\t\t06.29\nDIP switch:\tFF\n"));
}

void TestRemoteTerminal::ports()
{
    m_gateway->setSerialPorts({3, 1, 2, 3});
    std::set<quint8> ports;
    QCOMPARE(GetRemotePorts(kLoopback, m_gateway->port(), ports), 0);
    QCOMPARE(ports, (std::set<quint8>{1, 2, 3}));
    QCOMPARE(m_gateway->requests(), QList<QByteArray>{"VeTr 1 0000000 plok 1 TEST."});

    m_gateway->setSerialPorts({});
    std::set<quint8> none;
    QCOMPARE(GetRemotePorts(kLoopback, m_gateway->port(), none), 0);
    QVERIFY(none.empty());
}

void TestRemoteTerminal::gatewayErrorCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("7") << 7;
    QTest::newRow("9999") << 9999;
}

void TestRemoteTerminal::gatewayErrorCodes()
{
    QFETCH(int, code);
    Behaviour failing;
    failing.resultCode = code;
    m_gateway->setDefaultBehaviour(failing);

    MemoryImage image = filledImage(1);
    const MemoryImage before = image;
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image), code);
    QVERIFY(image == before);
    QCOMPARE(image.writes, 0);
    QCOMPARE(WriteRemoteConfig(kLoopback, m_gateway->port(), 1, image), code);
    std::set<quint8> ports;
    QCOMPARE(GetRemotePorts(kLoopback, m_gateway->port(), ports), code);
    QVERIFY(ports.empty());
    QCOMPARE(GetRemoteStatus(kLoopback, m_gateway->port(), 1, nullptr), code);
    QVERIFY(m_prompter->messages.empty());   // the caller reports a gateway's code

    // The simulator's own code for a serial port without a terminal.
    m_gateway->setDefaultBehaviour({});
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 9, image), int(gatewaysim::kNoTerminal));
}

void TestRemoteTerminal::nothingListening()
{
    const quint16 port = unusedPort();
    MemoryImage image = filledImage(3);
    const MemoryImage before = image;
    std::set<quint8> ports;
    QCOMPARE(ReadRemoteConfig(kLoopback, port, 1, image), -1);
    QCOMPARE(WriteRemoteConfig(kLoopback, port, 1, image), -1);
    QCOMPARE(GetRemotePorts(kLoopback, port, ports), -1);
    QCOMPARE(GetRemoteStatus(kLoopback, port, 1, nullptr), -1);
    QVERIFY(image == before);
    QCOMPARE(m_prompter->messages.size(), std::size_t(4));
    for (const auto& box : m_prompter->messages) {
        QCOMPARE(box.text, QStringLiteral("SOCKET ERROR function 'Connect()' Error code: %1").arg(ECONNREFUSED));
        QCOMPARE(box.look, ui::Look::Plain);
    }
}

void TestRemoteTerminal::addressNotDotted()
{
    MemoryImage image;
    for (const QString& address : {QStringLiteral("gateway.example"), QString(), QStringLiteral("1.2.3.4.5")}) {
        m_prompter->messages.clear();
        QCOMPARE(ReadRemoteConfig(address, m_gateway->port(), 1, image), -1);
        QCOMPARE(m_prompter->messages.size(), std::size_t(1));
        QVERIFY(m_prompter->messages[0].text.startsWith(QStringLiteral("SOCKET ERROR function 'Connect()'")));
    }
    QVERIFY(m_gateway->requests().isEmpty());
    QCOMPARE(image.writes, 0);
}

void TestRemoteTerminal::incompleteReplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("cut");
    QTest::addColumn<int>("stored");   // -1: the exchange fails
    QTest::newRow("empty reply") << int(Mode::Empty) << 0 << -1;
    QTest::newRow("no result code") << int(Mode::Short) << 25 << -1;
    // Once the result code is in, the gateway's close ends the reply.
    QTest::newRow("result code only") << int(Mode::Short) << 26 << 0;
    QTest::newRow("first piece only") << int(Mode::Short) << 200 << 15;
    QTest::newRow("without its full stop") << int(Mode::Short) << 32 + 330 << 30;
}

// A reply that ends before its result code is a failed exchange, never a
// success: nothing is stored and the user sees a receive error. One that
// ends later gives the items it holds.
void TestRemoteTerminal::incompleteReplies()
{
    QFETCH(int, mode);
    QFETCH(int, cut);
    QFETCH(int, stored);
    MemoryImage image = filledImage(5);
    const MemoryImage before = image;
    m_gateway->pushBehaviour(gatewayBehaviour(static_cast<Mode>(mode), cut));
    if (stored >= 0) {
        QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image), 0);
        QCOMPARE(image.writes, stored);
        QVERIFY(m_prompter->messages.empty());
        return;
    }
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image), -1);
    QCOMPARE(image.writes, 0);
    QVERIFY(image == before);
    QCOMPARE(m_prompter->messages.size(), std::size_t(1));
    QCOMPARE(m_prompter->messages[0].text, QStringLiteral("SOCKET ERROR Receive error"));

    // A status cut short shows no status box, only the error.
    m_prompter->messages.clear();
    m_gateway->pushBehaviour(gatewayBehaviour(static_cast<Mode>(mode), std::min(cut, 60)));
    QCOMPARE(GetRemoteStatus(kLoopback, m_gateway->port(), 1, nullptr), -1);
    QCOMPARE(m_prompter->messages.size(), std::size_t(1));
    QCOMPARE(m_prompter->messages[0].look, ui::Look::Plain);

    // The next request, answered in full, works again.
    m_prompter->messages.clear();
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image), 0);
    QVERIFY(m_prompter->messages.empty());
}

void TestRemoteTerminal::splitReplies_data()
{
    QTest::addColumn<bool>("keepOpen");
    QTest::addColumn<int>("cut");
    QTest::newRow("closed after, pieces of 50") << false << 50;
    QTest::newRow("kept open, pieces of 50") << true << 50;
    QTest::newRow("kept open, pieces of 7") << true << 7;
    QTest::newRow("kept open, result code split") << true << 24;
}

void TestRemoteTerminal::splitReplies()
{
    QFETCH(bool, keepOpen);
    QFETCH(int, cut);
    gatewaysim::SimTerminal terminal;
    for (int address = 10; address <= 39; ++address)
        terminal.eeprom[static_cast<std::size_t>(address)] = static_cast<quint16>(0xA000 + address);
    m_gateway->setTerminal(1, terminal);
    m_gateway->setSerialPorts({1, 4, 5});
    m_gateway->setDefaultBehaviour(gatewayBehaviour(Mode::Split, cut, 20, 0, keepOpen));

    MemoryImage image;
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image), 0);
    QCOMPARE(image.writes, 30);
    QCOMPARE(image.words[10], QStringLiteral("A00A"));
    QCOMPARE(image.words[39], QStringLiteral("A027"));

    std::set<quint8> ports;
    QCOMPARE(GetRemotePorts(kLoopback, m_gateway->port(), ports), 0);
    QCOMPARE(ports, (std::set<quint8>{1, 4, 5}));

    QCOMPARE(GetRemoteStatus(kLoopback, m_gateway->port(), 1, nullptr), 0);
    QCOMPARE(m_prompter->messages.size(), std::size_t(1));
    QVERIFY(m_prompter->messages[0].text.contains(QStringLiteral("Version:\t\t06.29\n")));

    QCOMPARE(WriteRemoteConfig(kLoopback, m_gateway->port(), 1, filledImage(0)), 0);
}

void TestRemoteTerminal::silentGatewayTimesOut()
{
    m_gateway->setDefaultBehaviour(gatewayBehaviour(Mode::Silent));
    Limits limits;
    limits.reply = std::chrono::seconds(1);
    MemoryImage image;
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image, limits), -1);
    QCOMPARE(image.writes, 0);
    QCOMPARE(m_prompter->messages.size(), std::size_t(1));
    QCOMPARE(m_prompter->messages[0].text, QStringLiteral("SOCKET ERROR Receive timeout error"));

    // One that stalls before its result code times out the same way ...
    m_prompter->messages.clear();
    m_gateway->setDefaultBehaviour(gatewayBehaviour(Mode::Split, 20, 3'000, 0, true));
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image, limits), -1);
    QCOMPARE(image.writes, 0);
    QCOMPARE(m_prompter->messages.size(), std::size_t(1));
    QCOMPARE(m_prompter->messages[0].text, QStringLiteral("SOCKET ERROR Receive timeout error"));

    // ... one that stalls after its header is taken as it stands.
    m_prompter->messages.clear();
    limits.reply = std::chrono::seconds(60);
    m_gateway->setDefaultBehaviour(gatewayBehaviour(Mode::Split, 100, 60'000, 0, true));
    QCOMPARE(ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image, limits), 0);
    QCOMPARE(image.writes, 6);
    QVERIFY(m_prompter->messages.empty());
}

// Replies at the edges of what the parsers take: every request ends with a
// code, never stores past the image, and stores nothing when it fails.
void TestRemoteTerminal::noiseReplies()
{
    QLoggingCategory::setFilterRules(QStringLiteral("termset.remote.warning=false"));
    const auto restoreRules = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    const QByteArray head = "VeTr 1 0000000 plok 1 0000 gEPT ";
    QList<QByteArray> replies{QByteArray(5000, '\xff'), head + QByteArray(5000, '\0')};
    QByteArray items;   // 4095 bytes of items that reach every address
    for (int i = 0; items.size() < 4095 - 32; ++i)
        items += QByteArray::number(1000 + i % 9000).right(4) + ',' + QByteArray::number(10000 + i * 7).right(5) + ';';
    replies << (head + items).left(4095) << (head + items).left(4095) + "0010,00001;.";
    replies << head.left(26) << head << head + QByteArray(5000, '9');
    replies << head + "99999999999999999999,1,2,3." << head + "4294967297,7." << head + "-2147483648,1.";
    replies << head + "12:34 01.01.26 x yyyy zzzzz 99999 99999 9999999999.";

    for (const QByteArray& reply : replies) {
        Behaviour raw;
        raw.mode = Mode::Raw;
        raw.raw = reply;
        m_gateway->setDefaultBehaviour(raw);
        Limits limits;
        limits.reply = std::chrono::seconds(1);   // noise may never complete

        MemoryImage image;
        const int read = ReadRemoteConfig(kLoopback, m_gateway->port(), 1, image, limits);
        QVERIFY(read >= -1 && read <= 9999);
        QCOMPARE(image.outOfRange, 0);
        if (read != 0)
            QCOMPARE(image.writes, 0);
        std::set<quint8> ports;
        const int listed = GetRemotePorts(kLoopback, m_gateway->port(), ports, limits);
        QVERIFY(listed >= -1 && listed <= 9999);
        QVERIFY(listed == 0 || ports.empty());
        const int status = GetRemoteStatus(kLoopback, m_gateway->port(), 1, nullptr, limits);
        QVERIFY(status >= -1 && status <= 9999);
        QVERIFY(WriteRemoteConfig(kLoopback, m_gateway->port(), 1, image, limits) >= -1);
    }
}

QTEST_MAIN(TestRemoteTerminal)
#include "tst_remote_terminal.moc"
