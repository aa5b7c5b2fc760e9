// Gateway candidates from the hosts database and the neighbour table.

#include "remote/ComputerDiscovery.h"

#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>

using namespace remote;

namespace {

quint32 address(const char* dotted)
{
    return ::inet_addr(dotted);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

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

class TestComputerDiscovery : public QObject {
    Q_OBJECT

private slots:
    // Names from the hosts file (its first name for an address, IPv4 only),
    // then the neighbours that answered, each by its address: gateway-a is
    // known to both and offered twice.
    void discoveryFromFiles()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("hosts"), kHosts));
        QVERIFY(writeFile(dir.filePath("arp"), kNeighbours));
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

QTEST_APPLESS_MAIN(TestComputerDiscovery)
#include "tst_computer_discovery.moc"
