// The Remote commands and Apply To Last through the real main sheet, with
// the network dialog handed to it as its runner, as the program does: a
// remote read from the menu, unlocking, Apply To Last to the same gateway
// with its line in the transfer log.

#include "core/AppPaths.h"
#include "shell/CNetworkDlg.h"
#include "shell/CRK40CnfPS.h"
#include "pages/CRK40TKPropPage.h"
#include "shell/CommandIds.h"
#include "FakeControl.h"
#include "GatewayBehaviour.h"
#include "GatewaySimulator.h"
#include "shell/NetworkCommands.h"
#include "shell/PasswordDialogs.h"
#include "core/Profile.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QAction>
#include <QTest>
#include <QTimer>

using namespace remote;

class TestNetworkSheet : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        Profile::useFile(m_env->path(QStringLiteral("profile.ini")));
        QDir(m_env->root()).mkpath(QStringLiteral("program"));
        apppaths::setProgramFolder(m_env->path(QStringLiteral("program")));
        m_prompter = std::make_unique<testsupport::RecordingPrompter>();
        m_gateway = std::make_unique<gatewaysim::GatewaySimulator>();
        QString error;
        QVERIFY2(m_gateway->start(0, &error), qPrintable(error));
        m_state = std::make_shared<testpages::FakeState>();
        CRK40TKPropPage::setControlFactory([state = m_state] { return std::make_unique<testpages::FakeControl>(state); });
    }

    void cleanup()
    {
        CRK40TKPropPage::setControlFactory({});
        m_gateway.reset();
        m_prompter.reset();
        apppaths::setProgramFolder({});
        Profile::useFile({});
        m_env.reset();
    }

    void remoteCommandsThroughTheSheet()
    {
        gatewaysim::SimTerminal terminal;
        terminal.eeprom[10] = 0x0301;
        m_gateway->setTerminal(2, terminal);

        CRK40CnfPS sheet;
        sheet.OnInitDialog();
        m_prompter->messages.clear();

        // A remote read while locked: recorded, but Apply To Last stays off.
        queueNetworkDialog(2);
        sheet.runCommand(cmd::kRemoteRead);
        QCOMPARE(m_prompter->dialogs.last(), QStringLiteral("145"));
        QCOMPARE(m_prompter->messageTexts(), QStringList{"Configuration read successfully."});
        QCOMPARE(m_state->eeprom[10], QStringLiteral("0301"));
        QCOMPARE(sheet.lastReadText(), QStringLiteral("127.0.0.1 (127.0.0.1), COM2"));
        QCOMPARE(sheet.reader1()->remoteText(), QStringLiteral("127.0.0.1 (127.0.0.1), COM2"));
        QVERIFY(sheet.lastTerminal().valid && sheet.lastTerminal().remote);
        QVERIFY(!sheet.isApplyToLastEnabled());
        // So does a remote write.
        queueNetworkDialog(2);
        sheet.runCommand(cmd::kRemoteWrite);
        QCOMPARE(m_prompter->messageTexts().last(), QStringLiteral("Configuration written successfully."));
        QVERIFY(sheet.lastTerminal().valid);
        QVERIFY(!sheet.isApplyToLastEnabled());

        // Setting a password unlocks the sheet and, with the record, Apply To Last.
        m_prompter->dialogHandlers.push_back([](QDialog& dialog) {
            auto* dlg = qobject_cast<CNewPasswordDlg*>(&dialog);
            if (!dlg)
                return int(QDialog::Rejected);
            dlg->setTexts(QStringLiteral("gate7"), QStringLiteral("gate7"));
            return int(QDialog::Accepted);
        });
        sheet.runCommand(cmd::kChangePassword);
        QVERIFY(sheet.isUnlocked());
        QVERIFY(sheet.isApplyToLastEnabled());

        // Apply To Last: one write to the same gateway and serial port, logged,
        // however often the button and the menu entry are pressed meanwhile.
        m_gateway->clearRequests();
        m_prompter->messages.clear();
        QFile::remove(apppaths::transferLogPath());
        sheet.reader1()->comm().setWord(11, QStringLiteral("00FF"));
        m_gateway->pushBehaviour(testsupport::gatewayBehaviour(gatewaysim::Mode::Slow, 20, 400));
        QTimer::singleShot(50, &sheet, [&sheet] {
            sheet.applyToLastButton()->click();
            sheet.action(cmd::kApplyToLast)->trigger();
        });
        sheet.applyToLastButton()->click();
        QVERIFY(sheet.isApplyToLastEnabled());
        QCOMPARE(m_prompter->messageTexts(), QStringList{"Configuration written successfully."});
        QCOMPARE(m_gateway->requests().size(), 1);
        QVERIFY(m_gateway->requests()[0].startsWith("VeTr 1 0000331 plok 2 sEPT 0010,00769;0011,00255;"));
        QFile log(apppaths::transferLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines.size(), 2);   // one line and the empty rest
        QVERIFY2(lines[0].endsWith(QStringLiteral("   COM_PORT: 02   REMOTE: 127.0.0.1:%1\r")
                                       .arg(m_gateway->port(), 5, 10, QLatin1Char('0'))
                                       .toLatin1()),
                 lines[0].constData());
    }

private:
    // Queues the dialog of a Remote command: gateway port, typed address,
    // serial port from the gateway's list, the action button.
    void queueNetworkDialog(int serialPort)
    {
        m_prompter->dialogHandlers.push_back([this, serialPort](QDialog& dialog) {
            auto* dlg = qobject_cast<CNetworkDlg*>(&dialog);
            if (!dlg)
                return int(QDialog::Rejected);
            dlg->portEdit()->setText(QString::number(m_gateway->port()));
            dlg->computerList()->setEditText(QStringLiteral("127.0.0.1"));
            dlg->serialList()->showPopup();
            dlg->serialList()->hidePopup();
            dlg->serialList()->setCurrentIndex(dlg->serialList()->findData(serialPort));
            dlg->actionButton()->click();
            return int(QDialog::Rejected);
        });
    }

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<testsupport::RecordingPrompter> m_prompter;
    std::unique_ptr<gatewaysim::GatewaySimulator> m_gateway;
    std::shared_ptr<testpages::FakeState> m_state;
};

QTEST_MAIN(TestNetworkSheet)
#include "tst_network_sheet.moc"
