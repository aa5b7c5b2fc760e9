// Serial devices on a pseudo-terminal, and the COM name mapping.

#include "BaudRate.h"
#include "ComPorts.h"
#include "SerialDevice.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The other end of a pseudo-terminal, standing in for a terminal.
struct PtyPair {
    int master = -1;
    QString slave;
    PtyPair()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~PtyPair() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const QByteArray& bytes) const { QCOMPARE(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
};

// Appends whatever the master has to read, without blocking.
bool readMaster(const PtyPair& pty, QByteArray& into)
{
    const int flags = fcntl(pty.master, F_GETFL);
    fcntl(pty.master, F_SETFL, flags | O_NONBLOCK);
    char buf[64];
    const ssize_t n = ::read(pty.master, buf, sizeof buf);
    if (n > 0)
        into.append(buf, n);
    return true;
}

} // namespace

class SerialTest : public QObject {
    Q_OBJECT
private slots:
    void opensExclusively()
    {
        PtyPair pty;
        QVERIFY(!pty.slave.isEmpty());
        serial::SerialDevice first;
        QCOMPARE(first.open(pty.slave, 9600), serial::OpenResult::Ok);
        // Held by us: a second opener is refused, root included (flock).
        serial::SerialDevice second;
        QCOMPARE(second.open(pty.slave, 9600), serial::OpenResult::CannotOpen);
        QVERIFY(!serial::canOpen(pty.slave));
        first.close();
        QVERIFY(serial::canOpen(pty.slave));
    }

    void refusesMissingDevicesAndRatesBelowOne()
    {
        serial::SerialDevice dev;
        QCOMPARE(dev.open("/dev/does-not-exist-rk40", 9600), serial::OpenResult::CannotOpen);
        PtyPair pty;
        for (int baud : {0, -9600}) {
            QCOMPARE(dev.open(pty.slave, baud), serial::OpenResult::SettingsRefused);
            QVERIFY(!dev.isOpen());
        }
    }

    void baudRatesWithoutAConstant_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("listed") << 19200;
        QTest::newRow("14400") << 14400;
        QTest::newRow("12345") << 12345;
        QTest::newRow("250000") << 250000;
    }
    void baudRatesWithoutAConstant()
    {
        QFETCH(int, baud);
        PtyPair pty;
        serial::SerialDevice dev;
        QCOMPARE(dev.open(pty.slave, baud), serial::OpenResult::Ok);
        // The driver has the rate asked for.
        const int fd = ::open(QFile::encodeName(pty.slave).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QCOMPARE(serial::baudRateOf(fd), baud);
        ::close(fd);
    }

    void readsBytesAndTimesOut()
    {
        PtyPair pty;
        serial::SerialDevice dev;
        QCOMPARE(dev.open(pty.slave, 9600), serial::OpenResult::Ok);
        QCOMPARE(dev.readByte(2ms), -1);
        pty.send(QByteArray("\x06\x00\xff", 3));
        QCOMPARE(dev.readByte(1000ms), 0x06);
        QCOMPARE(dev.readByte(1000ms), 0x00);
        QCOMPARE(dev.readByte(1000ms), 0xff);
        const std::uint8_t out[] = {0x01, 'a', 'a'};
        QCOMPARE(dev.write(out, 3), std::size_t(3));
        QByteArray got;
        QTRY_VERIFY(readMaster(pty, got) && got.size() == 3);
        QCOMPARE(got, QByteArray("\x01" "aa"));
    }

    void purgeDiscardsPendingInput()
    {
        PtyPair pty;
        serial::SerialDevice dev;
        QCOMPARE(dev.open(pty.slave, 9600), serial::OpenResult::Ok);
        pty.send("stale");
        QTest::qWait(50);
        dev.purge();
        QCOMPARE(dev.readByte(5ms), -1);
    }

    void vanishedDeviceFailsWithoutBlocking()
    {
        PtyPair pty;
        serial::SerialDevice dev;
        QCOMPARE(dev.open(pty.slave, 9600), serial::OpenResult::Ok);
        pty.closeMaster();
        QCOMPARE(dev.readByte(2ms), -1);
        QVERIFY(dev.failed());
        const std::uint8_t b = 1;
        QCOMPARE(dev.write(&b, 1), std::size_t(0));
        QVERIFY(dev.close());
    }

    void mapsComNames()
    {
        testsupport::TestEnvironment env;
        qunsetenv("RK40_COM1");
        qunsetenv("RK40_COM3");
        QCOMPARE(serial::comDevicePath(1), QString("/dev/ttyS0"));
        QCOMPARE(serial::comDevicePath(10), QString("/dev/ttyS9"));
        QVERIFY(serial::comDevicePath(0).isEmpty());
        QVERIFY(serial::comDevicePath(11).isEmpty());
        {
            QSettings file(serial::portsFilePath(), QSettings::IniFormat);
            file.setValue("Ports/COM3", "/dev/ttyUSB0");
        }
        QCOMPARE(serial::comDevicePath(3), QString("/dev/ttyUSB0"));
        QCOMPARE(serial::comMappingSource(3), QString("ports.ini"));
        qputenv("RK40_COM3", "/dev/pts/77");
        QCOMPARE(serial::comDevicePath(3), QString("/dev/pts/77"));
        QCOMPARE(serial::comMappingSource(3), QString("environment"));
        qunsetenv("RK40_COM3");
    }
};

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_serial.moc"
