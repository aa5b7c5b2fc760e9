// Request texts, reply layout and field readers of the gateway protocol;
// the blocking socket layer over loopback, and gateway candidates from the
// hosts database and the neighbour table.

#include "core/MemoryImage.h"
#include "core/RemoteTransfer.h"
#include "remote/BlockingSocket.h"
#include "remote/ComputerDiscovery.h"
#include "remote/RemoteProtocol.h"
#include "TestBytes.h"
#include "TestNetwork.h"

#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace remote;
using testsupport::unusedPort;

Q_DECLARE_METATYPE(std::set<quint8>)

using image::MemoryImage;

namespace {

QByteArray thirtyItems()
{
    QByteArray data;
    for (int address = 10; address <= 39; ++address)
        data += configItem(address, static_cast<quint16>(address * 1000));
    return data;
}

// A reply as a gateway sends it: 22 bytes of head, code, 6 bytes, data.
QByteArray reply(const char* code, const QByteArray& data = {})
{
    return QByteArray("VeTr 1 0000000 plok 1 ") + code + " gEPT " + data;
}


sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The exception a call throws (its operation and code), or "none".
template <typename Call>
QString thrown(Call call)
{
    try {
        call();
    } catch (const CBlockingSocketException& error) {
        return QStringLiteral("%1 %2").arg(QString::fromLatin1(error.operation())).arg(error.errorCode());
    }
    return QStringLiteral("none");
}

quint32 address(const char* dotted) { return ::inet_addr(dotted); }

const QByteArray kHosts = "# static table\n"
                          "127.0.0.1\tlocalhost\n"
                          "127.0.1.1  workshop.example workshop  # this machine\n"
                          "::1     localhost ip6-localhost ip6-loopback\n"
                          "\n"
                          "192.168.10.20 gateway-a\n"
                          "10.0.0.300 broken\n"
                          "10.0.0.5\n"
                          "  10.0.0.6   Gateway-B   gw-b\n";

const QByteArray kNeighbours =
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "192.168.10.1     0x1         0x2         00:11:22:33:44:55     *        eth0\n"
    "192.168.10.77    0x1         0x0         00:00:00:00:00:00     *        eth0\n"
    "192.168.10.20    0x1         0x6         66:77:88:99:aa:bb     *        eth0\n"
    "fe80::1          0x1         0x2         00:11:22:33:44:55     *        eth0\n"
    "garbage\n";

} // namespace

class TestRemoteProtocol : public QObject {
    Q_OBJECT

private slots:
    void requestTexts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("read port 1") << readConfigRequest(1) << QByteArray("VeTr 1 0000000 plok 1 gEPT.");
        QTest::newRow("status port 1") << statusRequest(1) << QByteArray("VeTr 1 0000000 plok 1 STAT.");
        QTest::newRow("port list") << listPortsRequest() << QByteArray("VeTr 1 0000000 plok 1 TEST.");
        QTest::newRow("read port 10") << readConfigRequest(10) << QByteArray("VeTr 1 0000000 plok : gEPT.");
        QTest::newRow("status port 0") << statusRequest(0) << QByteArray("VeTr 1 0000000 plok 0 STAT.");
        QTest::newRow("read port 207") << readConfigRequest(207) << QByteArray("VeTr 1 0000000 plok \xff gEPT.");
        QTest::newRow("read port 208 wraps") << readConfigRequest(208) << QByteArray("VeTr 1 0000000 plok \0 gEPT.", 27);
    }

    void requestTexts()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(text.toHex(' '), expected.toHex(' '));
    }

    // The body carries all thirty words in decimal; the request frames it.
    void writeRequest()
    {
        ConfigValues values{};
        values[2] = 0xFFFF;
        values[3] = 0x0012;
        values[29] = 0xFFFF;
        const QByteArray body = writeConfigBody(values);
        QCOMPARE(body.size(), 330);
        QCOMPARE(body.mid(0, 11), QByteArray("0010,00000;"));
        QCOMPARE(body.mid(22, 11), QByteArray("0012,65535;"));
        QCOMPARE(body.mid(33, 11), QByteArray("0013,00018;"));
        QVERIFY(body.endsWith("0039,65535;"));

        const QByteArray text = writeConfigRequest(3, body);
        QCOMPARE(text, "VeTr 1 0000331 plok 3 sEPT " + body + '.');
    }

    void fieldReaders_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("decimal");
        QTest::newRow("digits") << QByteArray("0007") << 0 << 4 << 7;
        QTest::newRow("hex letters") << QByteArray("0aF1") << 0 << 4 << 1;
        QTest::newRow("blanks count as 0") << QByteArray(" 1 2") << 0 << 4 << 102;
        QTest::newRow("past the end") << QByteArray("12") << 0 << 4 << 1200;
        QTest::newRow("start past the end") << QByteArray("12") << 22 << 4 << 0;
        QTest::newRow("offset") << QByteArray("xx65535") << 2 << 5 << 65535;
        QTest::newRow("empty") << QByteArray() << 0 << 5 << 0;
        QTest::newRow("wide field clamps") << QByteArray("99999999999999999999") << 0 << 20 << INT_MAX;
    }

    void fieldReaders()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, start);
        QFETCH(int, count);
        QTEST(decimalField(text, start, count), "decimal");
    }

    void leadingNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QByteArray("255") << 255;
        QTest::newRow("blanks and sign") << QByteArray("  +12x") << 12;
        QTest::newRow("negative") << QByteArray("\t-3") << -3;
        QTest::newRow("no digits") << QByteArray("abc") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("huge") << QByteArray("123456789012345678901234567890") << INT_MAX;
        QTest::newRow("huge negative") << QByteArray("-123456789012345678901234567890") << INT_MIN;
    }

    void leadingNumbers()
    {
        QFETCH(QByteArray, text);
        QTEST(leadingNumber(text), "value");
    }

    void replyParts()
    {
        QCOMPARE(resultCode(reply("0007")), 7);
        QCOMPARE(resultCode(reply("0000")), 0);
        QCOMPARE(resultCode("short"), 0);
        QCOMPARE(replyData(reply("0000", "2,1,3.")), QByteArrayView("2,1,3."));
        QVERIFY(replyData(reply("0000")).isEmpty());

        const QByteArray withZero("VeTr 1 0000000 plok 1 0000 gEPT 0010,00001;\0" "0011,00002;.", 55);
        QCOMPARE(replyText(withZero), QByteArrayView("VeTr 1 0000000 plok 1 0000 gEPT 0010,00001;"));
    }

    void replyComplete_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("complete");
        const int read = int(Request::ReadConfig), write = int(Request::WriteConfig);
        const int ports = int(Request::ListPorts), status = int(Request::Status);
        QTest::newRow("empty") << read << QByteArray() << false;
        QTest::newRow("25 bytes") << write << reply("0000").left(25) << false;
        QTest::newRow("write result") << write << reply("0000") << true;
        QTest::newRow("error code") << read << reply("0007") << true;
        QTest::newRow("read first piece") << read << reply("0000", thirtyItems().left(150)) << false;
        QTest::newRow("read without full stop") << read << reply("0000", thirtyItems()) << false;
        QTest::newRow("read whole") << read << reply("0000", thirtyItems() + '.') << true;
        QTest::newRow("read with line end") << read << reply("0000", thirtyItems() + ".\r\n") << true;
        QTest::newRow("read no items") << read << reply("0000", ".") << true;
        QTest::newRow("full stop before data") << read << QByteArray("VeTr 1 0000000 plok 1 0000 ....") << false;
        QTest::newRow("ports piece") << ports << reply("0000", "2,1") << false;
        QTest::newRow("ports whole") << ports << reply("0000", "2,1,3.") << true;
        QTest::newRow("status piece") << status << reply("0000", QByteArray(44, '0')) << false;
        QTest::newRow("status whole") << status << reply("0000", QByteArray(45, '0')) << true;
    }

    void replyComplete()
    {
        QFETCH(int, request);
        QFETCH(QByteArray, text);
        QTEST(remote::replyComplete(static_cast<Request>(request), text), "complete");
    }

    void readData()
    {
        // Thirty items and a full stop store thirty words.
        MemoryImage image;
        const QByteArray data = thirtyItems() + '.';
        QCOMPARE(data.size(), 331);
        QCOMPARE(remotexfer::storeConfigItems(parseConfigData(data), image), 30);
        QCOMPARE(image.word(10), QStringLiteral("2710"));   // 10000
        QCOMPARE(image.word(39), QStringLiteral("9858"));   // 39000
        QCOMPARE(image.stores(), 30);

        // 65535 is FFFF; an item with a semicolon at index 4 is skipped; items
        // come in any order; addresses wrap at 256, values at 65536.
        MemoryImage other;
        const auto items = parseConfigData("0012,65535;0013;00001;0011,00010;0266,99999;12");
        const std::vector<ConfigItem> expected{{12, 0xFFFF}, {11, 10}, {10, 99999 % 65536}};
        QCOMPARE(items, expected);
        remotexfer::storeConfigItems(items, other);
        QCOMPARE(other.word(12), QStringLiteral("FFFF"));
        QCOMPARE(other.word(13), QString());
        QCOMPARE(other.word(11), QStringLiteral("000A"));
        QCOMPARE(other.word(10), QStringLiteral("869F"));
        QVERIFY(parseConfigData("").empty());
    }

    void portLists_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<std::set<quint8>>("ports");
        QTest::newRow("duplicates") << QByteArray("3,2,1,2.") << std::set<quint8>{1, 2};
        QTest::newRow("two") << QByteArray("2,1,3.") << std::set<quint8>{1, 3};
        QTest::newRow("none") << QByteArray("0.") << std::set<quint8>{};
        QTest::newRow("empty") << QByteArray() << std::set<quint8>{};
        QTest::newRow("fewer than the count") << QByteArray("5,4,7.") << std::set<quint8>{4, 7};
        QTest::newRow("more than the count") << QByteArray("1,4,7.") << std::set<quint8>{4};
        QTest::newRow("full stops as commas") << QByteArray("2.9.8.") << std::set<quint8>{8, 9};
        QTest::newRow("modulo 256") << QByteArray("3,300,-1,256.") << std::set<quint8>{0, 44, 255};
        QTest::newRow("huge count") << QByteArray("99999999999999,1,2.") << std::set<quint8>{1, 2};
        QTest::newRow("negative count") << QByteArray("-4,1,2.") << std::set<quint8>{};
        QTest::newRow("no terminator") << QByteArray("2,5,6") << std::set<quint8>{5, 6};
        QTest::newRow("blank numbers") << QByteArray("2,,x.") << std::set<quint8>{0};
    }

    void portLists()
    {
        QFETCH(QByteArray, data);
        QTEST(parsePortList(data), "ports");
    }

    void statusBox()
    {
        const QString format = QStringLiteral(
            "Time:\t\t%s\nDate:\t\t%s\nDay of week:\t%s\nBuffered:\t\t%d\nVersion:\t\t%s\nDIP switch:\t%X\n");
        const QString days = QStringLiteral("Monday\nTuesday\nWednesday\nThursday\nFriday\nSaturday\nSunday");

        const RemoteStatus status = parseStatus("05:04 06.12.26 2 0017 06.29 00003 00001 00255.");
        // The text shows the other columns.
        QCOMPARE(status.resetCount, 3);
        QCOMPARE(status.fatalResets, 1);
        QCOMPARE(status.dipSwitch, 255);
        QCOMPARE(statusText(status, format, days),
                 QStringLiteral("Time:\t\t05:04\nDate:\t\t06.12.26\nDay of week:\tWednesday\nBuffered:\t\t17\n"
                                "Version:\t\t06.29\nDIP switch:\tFF\n"));

        // Nothing at all: empty texts, zero numbers, the first day name.
        QCOMPARE(statusText(parseStatus({}), format, days),
                 QStringLiteral("Time:\t\t\nDate:\t\t\nDay of week:\tMonday\nBuffered:\t\t0\nVersion:\t\t\nDIP switch:\t0\n"));
        // A day digit without a name gives an empty name; a cut column is shorter.
        const RemoteStatus odd = parseStatus("12:00 01.01.27 9 12");
        QCOMPARE(statusText(odd, QStringLiteral("[%s][%s][%s][%d]"), days), QStringLiteral("[12:00][01.01.27][][12]"));
    }

    void formatting_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("in order") << "%s=%d (%X)" << "abc=42 (FF)";
        QTest::newRow("percent") << "100%% %s" << "100% abc";
        QTest::newRow("width and zeros") << "[%5s][%04d][%-4X]" << "[  abc][0042][FF  ]";
        QTest::newRow("hex digits") << "%s%d%02x" << "abc42ff";
        QTest::newRow("precision") << "%.2s %.4d" << "ab 0042";
        QTest::newRow("kinds swapped") << "%d %s" << "0 ";
        QTest::newRow("too many conversions") << "%s %d %d %s %d" << "abc 42 255  0";
        QTest::newRow("unknown conversion") << "%q %s" << "%q abc";
        QTest::newRow("lone percent") << "50%" << "50%";
        QTest::newRow("long modifier") << "%ld" << "0";
    }

    void formatting()
    {
        QFETCH(QString, format);
        QTEST(resources::formatText(format, {QStringLiteral("abc"), 42, 255}), "expected");
    }

    void tcpPorts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");   // -1: rejected
        QTest::newRow("default") << "15027" << 15027;
        QTest::newRow("lowest") << "1024" << 1024;
        QTest::newRow("highest") << "65535" << 65535;
        QTest::newRow("below") << "1023" << -1;
        QTest::newRow("above") << "65536" << -1;
        QTest::newRow("blanks around") << " 2000 " << 2000;
        QTest::newRow("sign") << "+2000" << -1;
        QTest::newRow("letters") << "20a0" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("long") << "000002000" << -1;
    }

    void tcpPorts()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        const auto parsed = parseTcpPort(text);
        QCOMPARE(parsed.has_value() ? int(*parsed) : -1, port);
    }

    void closeInAnyState()
    {
        CBlockingSocket never;
        never.Close();
        QCOMPARE(never.handle(), CBlockingSocket::kNoSocket);

        CBlockingSocket socket;
        socket.Create(SOCK_STREAM);
        QVERIFY(socket.handle() >= 0);
        socket.Close();
        QCOMPARE(socket.handle(), CBlockingSocket::kNoSocket);
        socket.Close();
    }

    void messages_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("with code") << "Receive" << 104 << "SOCKET ERROR function 'Receive()' Error code: 104";
        QTest::newRow("without code") << "Receive timeout" << 0 << "SOCKET ERROR Receive timeout error";
        QTest::newRow("negative code") << "Send" << -5 << "SOCKET ERROR function 'Send()' Error code: -5";
    }

    void messages()
    {
        QFETCH(QString, operation);
        QFETCH(int, code);
        const QByteArray name = operation.toLatin1();
        const CBlockingSocketException error(name.constData(), code);
        QTEST(error.errorMessage(), "message");
        char buffer[200];
        QVERIFY(error.GetErrorMessage(buffer, sizeof buffer));
        QTEST(QString::fromLatin1(buffer), "message");
    }

    void messageIntoSmallBuffer()
    {
        const CBlockingSocketException error(op::kReceive, 104);
        char buffer[12];
        std::memset(buffer, '#', sizeof buffer);
        unsigned help = 77;
        QVERIFY(error.GetErrorMessage(buffer, 10, &help));
        QCOMPARE(QByteArray(buffer), QByteArray("SOCKET ER"));
        QCOMPARE(buffer[10], '#');
        QCOMPARE(help, 77u);
        QVERIFY(error.GetErrorMessage(buffer, 0));   // nothing written
        QCOMPARE(buffer[0], 'S');
        QVERIFY(error.GetErrorMessage(buffer, 1));
        QCOMPARE(buffer[0], '\0');
    }

    void connectRefused()
    {
        for (int limit : {0, 5}) {
            CBlockingSocket socket;
            socket.Create(SOCK_STREAM);
            QCOMPARE(thrown([&] { socket.Connect(loopback(unusedPort()), limit); }),
                     QStringLiteral("Connect %1").arg(ECONNREFUSED));
        }
    }

    // Sending, receiving at most the capacity in one call, a silent peer, a
    // peer that closed.
    void exchange()
    {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        QVERIFY(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(server, 1) == 0
                && ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        CBlockingSocket socket;
        socket.Create(SOCK_STREAM);
        socket.Connect(address);
        const int peer = ::accept(server, nullptr, nullptr);
        ::close(server);
        QVERIFY(peer >= 0);

        QCOMPARE(socket.Send("hello", 5, 5), 5);
        char buffer[16] = {};
        QCOMPARE(::recv(peer, buffer, sizeof buffer, 0), ssize_t(5));
        QCOMPARE(QByteArray(buffer), QByteArray("hello"));
        QCOMPARE(::send(peer, "world!", 6, 0), ssize_t(6));
        QCOMPARE(socket.Receive(buffer, 4, 5), 4);
        QCOMPARE(QByteArray(buffer, 4), QByteArray("worl"));
        QCOMPARE(socket.Receive(buffer, 16, 0), 2);

        errno = EINVAL;   // left over from something earlier: a time-out has no code
        QCOMPARE(thrown([&] { socket.Receive(buffer, sizeof buffer, 1); }), QStringLiteral("Receive timeout 0"));
        ::close(peer);
        QCOMPARE(socket.Receive(buffer, sizeof buffer, 0), 0);
    }

    void errorNumberTakenAtConstruction()
    {
        errno = EPIPE;
        const CBlockingSocketException error(op::kSend);
        errno = 0;
        QCOMPARE(error.errorCode(), EPIPE);

        CBlockingSocket closed;   // no socket: the call itself fails
        char buffer[4];
        QCOMPARE(thrown([&] { closed.Receive(buffer, sizeof buffer, 0); }), QStringLiteral("Receive %1").arg(EBADF));
    }

    // Names from the hosts file (its first name for an address, IPv4 only),
    // then the neighbours that answered, each by its address: gateway-a is
    // known to both and offered twice.
    void discoveryFromFiles()
    {
        QTemporaryDir dir;
        testsupport::writeFile(dir.filePath("hosts"), kHosts);
        testsupport::writeFile(dir.filePath("arp"), kNeighbours);
        // No name service traffic in tests.
        const DiscoverySources sources{dir.filePath("hosts"), dir.filePath("arp"), false, false};
        const QList<ServerEntry> expected{
            {address("127.0.0.1"), QStringLiteral("localhost")},
            {address("127.0.1.1"), QStringLiteral("workshop.example")},
            {address("192.168.10.20"), QStringLiteral("gateway-a")},
            {address("10.0.0.6"), QStringLiteral("Gateway-B")},
            {address("192.168.10.1"), QStringLiteral("192.168.10.1")},
            {address("192.168.10.20"), QStringLiteral("192.168.10.20")},
        };
        QCOMPARE(EnumerateServers(sources), expected);
    }

    void dottedAddresses()
    {
        bool ok = false;
        QCOMPARE(parseDottedAddress(QStringLiteral(" 127.0.0.1 "), &ok), address("127.0.0.1"));
        QVERIFY(ok);
        QCOMPARE(dottedAddress(address("192.168.10.20")), QStringLiteral("192.168.10.20"));
        for (const char* bad : {"gateway", "1.2.3", "256.1.1.1", ""}) {
            QCOMPARE(parseDottedAddress(QString::fromLatin1(bad), &ok), 0u);
            QVERIFY(!ok);
        }
    }
};

QTEST_APPLESS_MAIN(TestRemoteProtocol)
#include "tst_remote_protocol.moc"
