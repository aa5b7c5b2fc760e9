// The blocking socket layer over loopback, and gateway candidates from the
// hosts database and the neighbour table.

#include "remote/BlockingSocket.h"
#include "remote/ComputerDiscovery.h"
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

namespace {

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

class TestRemoteLink : public QObject {
    Q_OBJECT

private slots:
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
        DiscoverySources sources;
        sources.hostsFile = dir.filePath("hosts");
        sources.neighbourTable = dir.filePath("arp");
        sources.reverseLookup = false;   // no name service traffic in tests
        sources.ownHost = false;
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

QTEST_APPLESS_MAIN(TestRemoteLink)
#include "tst_remote_link.moc"
