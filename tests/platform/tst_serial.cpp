// Serial devices on a pseudo-terminal, and the COM name mapping.

#include "platform/serial/BaudRate.h"
#include "platform/serial/ComPorts.h"
#include "platform/serial/PortDiscovery.h"
#include "PtyPeer.h"
#include "platform/serial/SerialDevice.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using testsupport::PtyPeer;

namespace {

// Descriptions of real adapters as QSerialPortInfo, /dev/serial/by-id and
// sysfs gave them, listed out of order.
QList<serial::PortDescription> recordedPorts()
{
    serial::PortDescription ch340{"/dev/ttyUSB1", "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0",
                                  0x1a86, 0x7523, "QinHeng Electronics", "USB Serial", "", -1};
    serial::PortDescription ttyS1{"/dev/ttyS1", "", std::nullopt, std::nullopt, "", "", "", 0};
    serial::PortDescription ttyS0{"/dev/ttyS0", "", std::nullopt, std::nullopt, "", "", "", 4};
    serial::PortDescription ftdi{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
                                 0x0403, 0x6001, "FTDI", "FT232R USB UART", "A1B2C3", -1};
    serial::PortDescription acm{"/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_75833353-if00",
                                0x2341, 0x0043, "Arduino (www.arduino.cc)", "Arduino Uno", "75833353", -1};
    serial::PortDescription cp210x{"/dev/ttyUSB2",
                                   "/dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0",
                                   0x10c4, 0xea60, "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001", -1};
    serial::PortDescription bare{"/dev/ttyUSB3", "", 0x1a86, 0x7523, "", "", "", -1};
    return {ch340, ttyS1, ttyS0, ftdi, acm, cp210x, bare};
}

// A process that lives until the test ends it, to hold locks in its name.
struct Holder {
    QProcess process;
    Holder()
    {
        process.start("sleep", {"60"});
        process.waitForStarted();
    }
    ~Holder()
    {
        process.kill();
        process.waitForFinished();
    }
    qint64 pid() const { return process.processId(); }
};

void writeLock(const QString& devicePath, const QByteArray& content)
{
    QFile f(QDir(qEnvironmentVariable("RK40_LOCK_DIR")).filePath(serial::lockFileName(devicePath)));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

} // namespace

class SerialTest : public QObject {
    Q_OBJECT
private slots:
    void opensExclusively()
    {
        PtyPeer pty;
        QVERIFY(pty.isValid());
        serial::SerialDevice first;
        QCOMPARE(first.open(pty.slavePath(), 9600), serial::OpenResult::Ok);
        // Held by us: a second opener is refused, root included (flock).
        serial::SerialDevice second;
        QCOMPARE(second.open(pty.slavePath(), 9600), serial::OpenResult::CannotOpen);
        QCOMPARE(second.status().problem, serial::PortProblem::Busy);
        const QString self = QString("(process %1)").arg(QCoreApplication::applicationPid());
        QVERIFY2(second.status().reason.endsWith(self), qPrintable(second.status().reason));
        QCOMPARE(serial::probePort(pty.slavePath()).problem, serial::PortProblem::Busy);
        first.close();
        QVERIFY(serial::probePort(pty.slavePath()).usable());
        QCOMPARE(second.open(pty.slavePath(), 9600), serial::OpenResult::Ok);
    }

    // Another program's flock (our convention) or live lock file (the serial
    // tools' convention) makes a device busy and names the holder; a stale
    // lock file is cleaned away; ours exists exactly while we hold the port.
    void lockFilesAndHolders()
    {
        testsupport::TestEnvironment env;
        PtyPeer pty;
        const QString ours = QDir(qEnvironmentVariable("RK40_LOCK_DIR")).filePath(serial::lockFileName(pty.slavePath()));
        {
            Holder holder;
            QProcess flocker;
            flocker.start("flock", {"-x", "-o", pty.slavePath(), "sleep", "60"}); // -o: only flock itself holds it
            QVERIFY(flocker.waitForStarted());
            const QString byFlock = QString("%1 is in use by flock (process ").arg(pty.slavePath());
            QTRY_VERIFY(serial::probePort(pty.slavePath()).problem == serial::PortProblem::Busy);
            QVERIFY2(serial::probePort(pty.slavePath()).reason.contains(byFlock), qPrintable(serial::probePort(pty.slavePath()).reason));
            serial::SerialDevice dev;
            QCOMPARE(dev.open(pty.slavePath(), 9600), serial::OpenResult::CannotOpen);
            QVERIFY2(dev.status().reason.contains(byFlock), qPrintable(dev.status().reason));
            QVERIFY(!QFile::exists(ours));
            flocker.kill();
            flocker.waitForFinished();

            // minicom's form of the lock file, then Qt's.
            for (const QByteArray& form : {QByteArray::number(holder.pid()).rightJustified(10, ' ') + " minicom root\n",
                                           QByteArray::number(holder.pid()) + "\npicocom\nhost\n"}) {
                writeLock(pty.slavePath(), form);
                const QString name = form.contains("minicom") ? "minicom" : "picocom";
                const QString expected = QString("%1 is in use by %2 (process %3)").arg(pty.slavePath(), name).arg(holder.pid());
                QCOMPARE(serial::probePort(pty.slavePath()).reason, expected);
                QCOMPARE(dev.open(pty.slavePath(), 9600), serial::OpenResult::CannotOpen);
                QCOMPARE(dev.status().reason, expected);
            }
        }
        // The holder has ended: its lock file is stale and goes away.
        QVERIFY(QFile::exists(ours));
        serial::SerialDevice dev;
        QCOMPARE(dev.open(pty.slavePath(), 9600), serial::OpenResult::Ok);
        QFile lock(ours);
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readLine().trimmed().toLongLong(), QCoreApplication::applicationPid());
        lock.close();
        QVERIFY(dev.close());
        QVERIFY(!QFile::exists(ours));
    }

    void reasonsInWords_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "/dev/does-not-exist-rk40" << int(serial::PortProblem::Missing)
                                 << "/dev/does-not-exist-rk40 does not exist (is the device plugged in?)";
        QTest::newRow("not a tty") << "/dev/null" << int(serial::PortProblem::NotSerial) << "/dev/null is not a serial device";
        QTest::newRow("a file") << "/etc/hostname" << int(serial::PortProblem::NotSerial)
                                << "/etc/hostname is not a serial device";
    }
    void reasonsInWords()
    {
        QFETCH(QString, path);
        QFETCH(int, problem);
        QFETCH(QString, reason);
        const serial::PortStatus probed = serial::probePort(path);
        QCOMPARE(int(probed.problem), problem);
        QCOMPARE(probed.reason, reason);
        serial::SerialDevice dev;
        QCOMPARE(dev.open(path, 9600), serial::OpenResult::CannotOpen);
        QCOMPARE(int(dev.status().problem), problem);
        QCOMPARE(dev.status().reason, reason);
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
        PtyPeer pty;
        serial::SerialDevice dev;
        QCOMPARE(dev.open(pty.slavePath(), baud), serial::OpenResult::Ok);
        // The driver has the rate asked for.
        const int fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QCOMPARE(serial::baudRateOf(fd), baud);
        ::close(fd);
    }

    // Recorded adapters: every one described, the ttyS node without a UART
    // left out, by-id links first (sorted), then real UARTs, then the rest.
    void discoversAdapters()
    {
        serial::setEnumerationSource(recordedPorts);
        const QList<serial::DetectedPort> ports = serial::detectPorts();
        serial::setEnumerationSource({});
        QStringList got;
        for (const serial::DetectedPort& p : ports)
            got << p.info.path + " | " + p.stablePath() + " | " + p.description();
        const QStringList expected = {
            "/dev/ttyUSB1 | /dev/serial/by-id/usb-1a86_USB_Serial-if00-port0 | QinHeng Electronics USB Serial",
            "/dev/ttyACM0 | /dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_75833353-if00 | "
            "Arduino (www.arduino.cc) Arduino Uno, serial 75833353",
            "/dev/ttyUSB0 | /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 | FTDI FT232R USB UART, serial A1B2C3",
            "/dev/ttyUSB2 | /dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0 | "
            "Silicon Labs CP2102 USB to UART Bridge Controller, serial 0001",
            "/dev/ttyS0 | /dev/ttyS0 | built-in serial port",
            "/dev/ttyUSB3 | /dev/ttyUSB3 | USB device 1a86:7523",
        };
        QCOMPARE(got, expected);
    }

    void mapsComNames()
    {
        testsupport::TestEnvironment env;
        serial::setEnumerationSource(recordedPorts);
        for (int n = 1; n <= 10; ++n)
            qunsetenv(qPrintable(QString("RK40_COM%1").arg(n)));
        // Without ports.ini the detected devices in their order, COM1 first.
        QCOMPARE(serial::comDevicePath(1), QString("/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0"));
        QCOMPARE(serial::comDevicePath(5), QString("/dev/ttyS0"));
        QCOMPARE(serial::comDevicePath(6), QString("/dev/ttyUSB3"));
        QCOMPARE(serial::comMappingSource(6), QString("detected"));
        QVERIFY(serial::comDevicePath(7).isEmpty());
        QCOMPARE(serial::comMappingSource(7), QString("none"));
        QVERIFY(serial::comDevicePath(0).isEmpty());
        QVERIFY(serial::comDevicePath(11).isEmpty());
        // The third adapter assigned to COM1 leaves the order that fills the
        // other names: every adapter keeps exactly one name.
        QVERIFY(serial::assignComDevice(1, "/dev/ttyUSB0"));
        QStringList names;
        for (int n = 1; n <= 7; ++n)
            names << serial::comDevicePath(n).section('/', -1).left(12);
        QCOMPARE(names, QStringList({"usb-FTDI_FT2", "usb-1a86_USB", "usb-Arduino_", "usb-Silicon_", "ttyS0",
                                     "ttyUSB3", ""}));
        QSettings(serial::portsFilePath(), QSettings::IniFormat).remove("Ports/COM1");
        // An assignment stores the by-id link of the device.
        QVERIFY(serial::assignComDevice(3, "/dev/ttyUSB0"));
        QCOMPARE(QSettings(serial::portsFilePath(), QSettings::IniFormat).value("Ports/COM3").toString(),
                 QString("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
        QCOMPARE(serial::comMappingSource(3), QString("ports.ini"));
        qputenv("RK40_COM3", "/dev/pts/77");
        QCOMPARE(serial::comDevicePath(3), QString("/dev/pts/77"));
        QCOMPARE(serial::comMappingSource(3), QString("environment"));
        QCOMPARE(serial::comNumberForPath("/dev/pts/77"), 3);
        QCOMPARE(serial::comNumberForPath("/dev/pts/78"), 0);
        qunsetenv("RK40_COM3");
        // COM1 and COM10 are the ends of the range.
        QVERIFY(serial::assignComDevice(1, "/dev/ttyS0") && serial::assignComDevice(10, "/dev/ttyS0"));
        QVERIFY(!serial::assignComDevice(0, "/dev/ttyS0") && !serial::assignComDevice(11, "/dev/ttyS0"));
        serial::setEnumerationSource({});
    }
};

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_serial.moc"
