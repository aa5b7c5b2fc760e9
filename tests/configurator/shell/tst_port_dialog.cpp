// The port dialog: each COM name with its device and description, grey
// names with the reason as their tool tip, and assigning a detected device
// to a COM name. Pseudo-terminals stand in for the adapters, described as
// real ones were; nothing is opened by the dialog.

#include "platform/serial/ComPorts.h"
#include "platform/serial/PortDiscovery.h"
#include "platform/serial/PortLocks.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"
#include "shell/TransferDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QToolTip>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

struct Pty {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    QString slave;
    Pty()
    {
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { ::close(master); }
};

} // namespace

class PortDialogTest : public QObject {
    Q_OBJECT
private slots:
    void slotsDescribedProbedAndAssigned()
    {
        testsupport::TestEnvironment env;
        testsupport::RecordingPrompter prompter;
        Pty ftdi, ch340, cp210x;
        serial::setEnumerationSource([&] {
            return QList<serial::PortDescription>{
                {ftdi.slave, "", 0x0403, 0x6001, "FTDI", "FT232R USB UART", "A1B2C3", -1},
                {ch340.slave, "", 0x1a86, 0x7523, "QinHeng Electronics", "USB Serial", "", -1},
                {cp210x.slave, "", 0x10c4, 0xea60, "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001", -1},
                {"/dev/ttyS7", "", std::nullopt, std::nullopt, "", "", "", 0},  // no UART: left out
            };
        });
        {
            QSettings ini(serial::portsFilePath(), QSettings::IniFormat);
            ini.setValue("Ports/COM4", "/dev/does-not-exist-rk40");
            ini.setValue("Ports/COM5", "/dev/null");
        }
        // The CH340 (COM2 by detection order) is held by minicom.
        QProcess minicom;
        minicom.start("sleep", {"60"});
        QVERIFY(minicom.waitForStarted());
        QFile lock(QDir(qEnvironmentVariable("RK40_LOCK_DIR")).filePath(serial::lockFileName(ch340.slave)));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(minicom.processId()).rightJustified(10, ' ') + " minicom root\n");
        lock.close();

        CPortDlg dlg;
        dlg.show();
        QCOMPARE(dlg.portIndex(), 0);
        QVERIFY(dlg.slotText(0)->text().contains("FTDI FT232R USB UART, serial A1B2C3"));
        QVERIFY(dlg.slotText(0)->text().startsWith(ftdi.slave));
        const QStringList tips = {
            QString("COM2: %1 is in use by minicom (process %2)").arg(ch340.slave).arg(minicom.processId()),
            "",
            "COM4: /dev/does-not-exist-rk40 does not exist (is the device plugged in?)",
            "COM5: /dev/null is not a serial device",
            "COM6: no serial device is assigned to it",
        };
        for (int i = 1; i <= 5; ++i) {
            if (tips[i - 1].isEmpty())
                continue;
            QVERIFY(!dlg.radio(i)->isEnabled());
            QCOMPARE(dlg.radio(i)->toolTip(), tips[i - 1]);
        }
        QVERIFY(dlg.radio(2)->isEnabled());
        QVERIFY(dlg.slotText(2)->text().contains("Silicon Labs CP2102"));

        const QString shots = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            QDir().mkpath(shots);
            QVERIFY(dlg.grab().save(QDir(shots).filePath("port-dialog.png")));
            QToolTip::showText(dlg.radio(1)->mapToGlobal(QPoint(4, 4)), dlg.radio(1)->toolTip(), dlg.radio(1));
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->inherits("QTipLabel") && w->isVisible())
                    QVERIFY(w->grab().save(QDir(shots).filePath("port-dialog-tooltip.png")));
            QToolTip::hideText();
        }

        // The CP210x goes to COM1: stored in ports.ini, shown beside it.
        QCOMPARE(dlg.detectedList()->count(), 3);
        dlg.detectedList()->setCurrentIndex(2);
        dlg.radio(0)->click();
        QTest::mouseClick(dlg.assignButton(), Qt::LeftButton);
        QCOMPARE(QSettings(serial::portsFilePath(), QSettings::IniFormat).value("Ports/COM1").toString(), cp210x.slave);
        QVERIFY(dlg.slotText(0)->text().contains("Silicon Labs CP2102"));
        QCOMPARE(dlg.portIndex(), 0);
        QVERIFY(prompter.messages.empty());

        minicom.kill();
        minicom.waitForFinished();
        serial::setEnumerationSource({});
    }
};

QTEST_MAIN(PortDialogTest)
#include "tst_port_dialog.moc"
