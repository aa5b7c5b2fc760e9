// The network dialog end to end against the gateway simulator on loopback:
// what its controls send, retries and failures, what is remembered for the
// next time, Apply To Last to a remote terminal, and the Remote commands
// through the real main sheet. The request texts and reply handling are the
// remote link's (tst_remote_protocol, tst_core_remote_transfer).

#include "core/AppPaths.h"
#include "core/ApplyToLast.h"
#include "shell/TransferMessages.h"
#include "shell/CNetworkDlg.h"
#include "shell/CRK40CnfPS.h"
#include "shell/CommandIds.h"
#include "shell/PasswordDialogs.h"
#include "FakeControl.h"
#include "GatewayBehaviour.h"
#include "GatewaySimulator.h"
#include "shell/NetworkCommands.h"
#include "core/Profile.h"
#include "RecordingPrompter.h"
#include "TestBytes.h"
#include "TestEnvironment.h"
#include "TestNetwork.h"
#include "TestSheet.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>

using namespace remote;
using gatewaysim::Behaviour;
using testsupport::unusedPort;

namespace {

// Apply To Last to a remote record as the sheet makes it, the log line
// going to the stand-in sheet.
int applyToLastRemote(ISheetServices& sheet, const Limits& limits)
{
    remotexfer::RemoteTransfer transfer(limits);
    const lastterminal::ApplyOutcome out =
        lastterminal::applyToLast(sheet.lastTerminal(), nullptr, nullptr, transfer, sheet.registerImage());
    const LastTerminal& r = sheet.lastTerminal();
    if (out.kind == lastterminal::ApplyOutcome::Remote && out.remote.ok())
        sheet.AppendTransferLog(r.serialPort, r.address, r.tcpPort);
    return showRemoteApplyOutcome(out, {}, sheet.sheetWindow());
}

const QString kLoopback = QStringLiteral("127.0.0.1");
const quint32 kLoopbackAddress = htonl(INADDR_LOOPBACK);

QString refused() { return QStringLiteral("plain:SOCKET ERROR function 'Connect()' Error code: %1").arg(ECONNREFUSED); }

Behaviour failing(int code) { return {.resultCode = code, .raw = {}}; }

QStringList items(const QComboBox* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

// What opening a list does, as the operator would see it.
void dropDown(QComboBox* list)
{
    list->showPopup();
    list->hidePopup();
}

void setPort(CNetworkDlg& dlg, const QVariant& port) { dlg.portEdit()->setText(port.toString()); }

void typeComputer(CNetworkDlg& dlg, const QString& text)
{
    QLineEdit* edit = dlg.computerList()->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void press(CNetworkDlg& dlg) { QTest::mouseClick(dlg.actionButton(), Qt::LeftButton); }

} // namespace

class TestNetworkDialog : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        Profile::useFile(m_env->path(QStringLiteral("profile.ini")));
        m_prompter = std::make_unique<testsupport::RecordingPrompter>();
        m_gateway = std::make_unique<gatewaysim::GatewaySimulator>();
        QString error;
        QVERIFY2(m_gateway->start(0, &error), qPrintable(error));

        m_state = std::make_shared<testpages::FakeState>();
        m_page = std::make_unique<CRK40TKPropPage>(std::make_unique<testpages::FakeControl>(m_state));
        m_sheet = std::make_unique<TestSheet>(m_page->comm());

        // Gateway candidates from a hosts file of the test's own.
        testsupport::writeFile(m_env->path("hosts"), "10.0.0.7 Other-Box\n127.0.0.1 GatewayOne gw\n10.0.0.8 ALPHA\n");
        m_options = {{m_env->path("hosts"), m_env->path("no-neighbours"), false, false},
                     Limits{std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(10)}};
    }

    void cleanup()
    {
        CRK40TKPropPage::setControlFactory({});
        apppaths::setProgramFolder({});
        m_sheet.reset();
        m_page.reset();
        m_gateway.reset();
        m_prompter.reset();
        Profile::useFile({});
        m_env.reset();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void opening_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("button");
        QTest::newRow("read") << 0 << "Read remote configuration" << "Read";
        QTest::newRow("write") << 1 << "Write remote configuration" << "Write";
        QTest::newRow("status") << 2 << "Get remote status" << "Status";
    }

    void opening()
    {
        QFETCH(int, mode);
        // Before any remote action: empty lists and the default port.
        runDialog(static_cast<NetworkMode>(mode), [&](CNetworkDlg& dlg) {
            QTEST(dlg.windowTitle(), "title");
            QTEST(dlg.actionButton()->text(), "button");
            QVERIFY(dlg.actionButton()->isDefault());
            QCOMPARE(dlg.computerList()->count() + dlg.serialList()->count(), 0);
            QCOMPARE(dlg.portEdit()->text(), QStringLiteral("15027"));
        });
        QCOMPARE(m_prompter->dialogs, QStringList{QStringLiteral("145")});

        // The stored port is offered.
        QVERIFY(Profile().setIpPort(20001));
        runDialog(static_cast<NetworkMode>(mode),
                  [&](CNetworkDlg& dlg) { QCOMPARE(dlg.portEdit()->text(), QStringLiteral("20001")); });
        QVERIFY(messages().isEmpty());
        QVERIFY(m_gateway->requests().isEmpty());

        // Asking a slow gateway for its serial ports shows the mode's title.
        m_gateway->pushBehaviour(testsupport::gatewayBehaviour(gatewaysim::Mode::Slow, 20, 700));
        QString shown;
        runDialog(static_cast<NetworkMode>(mode), [&](CNetworkDlg& dlg) {
            setPort(dlg, m_gateway->port());
            typeComputer(dlg, kLoopback);
            whenProgressShows([&](QProgressDialog& box) { shown = box.labelText(); });
            dropDown(dlg.serialList());
        });
        QTEST(shown, "title");
    }

    // Unlocked: the read also enables Apply To Last (locked, it does not:
    // remoteCommandsThroughTheSheet).
    void readFromTheList()
    {
        gatewaysim::SimTerminal terminal;
        terminal.eeprom[10] = 0xBEEF;
        m_gateway->setTerminal(2, terminal);

        runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
            setPort(dlg, m_gateway->port());
            // Names in lower case, sorted, each with its address.
            dropDown(dlg.computerList());
            QCOMPARE(items(dlg.computerList()), (QStringList{"alpha", "gatewayone", "other-box"}));
            QCOMPARE(dlg.computerList()->itemData(1).toUInt(), kLoopbackAddress);
            dlg.computerList()->setCurrentIndex(1);
            // The gateway's ports as two digits, the first one chosen.
            dropDown(dlg.serialList());
            QCOMPARE(items(dlg.serialList()), (QStringList{"01", "02"}));
            QCOMPARE(dlg.serialList()->currentIndex(), 0);
            dlg.serialList()->setCurrentIndex(1);
            press(dlg);
        });

        QCOMPARE(messages(), QStringList{QStringLiteral("info:Configuration read successfully.")});
        QCOMPARE(m_gateway->requests(),
                 (QList<QByteArray>{"VeTr 1 0000000 plok 1 TEST.", "VeTr 1 0000000 plok 2 gEPT."}));
        QCOMPARE(m_state->eeprom[10], QStringLiteral("BEEF"));
        QCOMPARE(m_sheet->refreshes, 1);

        const QString text = QStringLiteral("gatewayone (127.0.0.1), COM2");
        QCOMPARE(m_sheet->lastRead, text);
        QCOMPARE(m_sheet->remoteText, text);
        QCOMPARE(m_page->remoteText(), text);
        QVERIFY(m_sheet->applyEnabled);
        QVERIFY(m_sheet->record.valid && m_sheet->record.remote);   // where Apply To Last writes: remoteCommandsThroughTheSheet
        QCOMPARE(m_sheet->logLines, 0);
        QCOMPARE(m_page->remoteSelection().address, kLoopbackAddress);
        QCOMPARE(Profile().ipPort(), int(m_gateway->port()));
    }

    void retries_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QList<int>>("codes");   // results of the gateway, one a request
        QTest::addColumn<int>("requests");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("write succeeds at the second")
            << 1 << true << QList<int>{9999} << 2 << QStringList{"info:Configuration written successfully."};
        // A write reports its first attempt's result, a read its last.
        QTest::newRow("write fails three times") << 1 << true << QList<int>{3, 4, 5} << 3
                                                 << QStringList{"stop:Writing error: 3"};
        QTest::newRow("read fails three times") << 0 << true << QList<int>{5, 4, 3} << 3
                                                << QStringList{"stop:Reading error: 3"};
        // A reply cut after fifteen words (code -N: a reply cut after N bytes).
        QTest::newRow("read brings words 10 to 24") << 0 << true << QList<int>{-(kDataOffset + 15 * 11)} << 1
            << QStringList{"stop:The reply brought no word for address 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, "
                           "36, 37, 38, 39: the terminal's configuration was not read."};
        QTest::newRow("status is tried once") << 2 << true << QList<int>{9} << 1 << QStringList{"plain:Status error: 9"};
        const QString r = refused();
        QTest::newRow("read, nothing listening") << 0 << false << QList<int>{} << 0
                                                 << QStringList{r, r, r, "stop:Reading error: -1"};
    }

    // After an earlier success: a failed read or write forgets the last
    // terminal, a status leaves it alone; the choice is remembered either way.
    void retries()
    {
        QFETCH(int, mode);
        QFETCH(bool, listening);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, expected);
        rememberLoopback(2);
        const QString chosen = QStringLiteral("gatewayone (127.0.0.1), COM2");
        m_sheet->record = {true, true, 2, 0, kLoopback, 15027};
        m_sheet->lastRead = chosen;
        m_sheet->applyEnabled = true;
        for (int code : codes)
            m_gateway->pushBehaviour(code < 0 ? testsupport::gatewayBehaviour(gatewaysim::Mode::Short, -code)
                                              : failing(code));
        const quint16 port = listening ? m_gateway->port() : unusedPort();

        runDialog(static_cast<NetworkMode>(mode), [&](CNetworkDlg& dlg) {
            // The terminal chosen last is offered; only the port is new.
            QCOMPARE(dlg.computerList()->currentText() + dlg.serialList()->currentText(), QStringLiteral("gatewayone02"));
            setPort(dlg, port);
            press(dlg);
        });

        QCOMPARE(messages(), expected);
        const QList<QByteArray> sent = m_gateway->requests();
        QTEST(int(sent.size()), "requests");
        QCOMPARE(sent.count(sent.value(0)), sent.size());   // every retry repeats the request
        const bool kept = mode == 2 || expected.first().startsWith(QLatin1String("info:"));
        QCOMPARE(m_sheet->record.valid, kept);
        QCOMPARE(m_sheet->applyEnabled, kept);
        QCOMPARE(m_sheet->lastRead, kept ? chosen : QStringLiteral("Not selected."));
        QCOMPARE(m_sheet->logLines, kept && mode == 1 ? 1 : 0);
        QCOMPARE(Profile().ipPort(), int(port));
    }

    // A second click while a write waits for its reply sends nothing more.
    void doubleClickSendsOneRequest()
    {
        rememberLoopback(1);
        m_gateway->pushBehaviour(testsupport::gatewayBehaviour(gatewaysim::Mode::Slow, 20, 400));
        runDialog(NetworkMode::Write, [&](CNetworkDlg& dlg) {
            setPort(dlg, m_gateway->port());
            QTimer::singleShot(50, &dlg, [&dlg] { press(dlg); });
            press(dlg);
        });
        QCOMPARE(m_gateway->requests().size(), 1);
        QCOMPARE(messages(), QStringList{"info:Configuration written successfully."});
        QCOMPARE(m_sheet->logLines, 1);
    }

    // A gateway that takes the connection and never answers: the windows stay
    // alive under the progress box, whose Cancel ends the request at once and
    // leaves out the retries.
    void cancelEndsARequestAtOnce()
    {
        rememberLoopback(1);
        m_gateway->setDefaultBehaviour({.mode = gatewaysim::Mode::Silent, .raw = {}});
        QElapsedTimer sinceCancel;
        bool cursorKept = false;
        runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
            setPort(dlg, m_gateway->port());
            whenProgressShows([&](QProgressDialog& box) {
                auto* cancel = box.findChild<QPushButton*>();
                QVERIFY(cancel);
                cursorKept = QGuiApplication::overrideCursor()
                             && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
                sinceCancel.start();
                QTest::mouseClick(cancel, Qt::LeftButton);
            });
            press(dlg);
        });
        QVERIFY(sinceCancel.isValid());
        QVERIFY2(sinceCancel.elapsed() < 5000, qPrintable(QString::number(sinceCancel.elapsed())));
        QVERIFY(cursorKept);
        QCOMPARE(m_gateway->requests().size(), 1);
        QCOMPARE(messages(), QStringList{"stop:Reading error: -1"});
        QVERIFY(!m_sheet->record.valid);
    }

    void serialPortList_data()
    {
        QTest::addColumn<QString>("computer");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing listening")
            << kLoopback << false << 0 << QStringList{refused(), "plain:Error while getting COM ports"};
        QTest::newRow("gateway error") << kLoopback << true << 6 << QStringList{"plain:Error while getting COM ports"};
        QTest::newRow("no address") << QString() << true << 0 << QStringList{};
    }

    void serialPortList()
    {
        QFETCH(QString, computer);
        QFETCH(bool, listening);
        QFETCH(int, code);
        if (code != 0)
            m_gateway->pushBehaviour(failing(code));

        runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
            setPort(dlg, listening ? m_gateway->port() : unusedPort());
            typeComputer(dlg, computer);
            dropDown(dlg.serialList());
            QCOMPARE(dlg.serialList()->count(), 0);
        });
        QTEST(messages(), "expected");
        QCOMPARE(m_gateway->requests().size(), listening && !computer.isEmpty() ? 1 : 0);
    }

    // A port out of range (which texts are ports is the parser's), no computer,
    // no serial port: each is named, nothing is sent or remembered.
    void missingChoices()
    {
        const QString rangeMessage = QStringLiteral("plain:Enter a whole number from 1024 to 65535.");
        runDialog(NetworkMode::Write, [&](CNetworkDlg& dlg) {
            typeComputer(dlg, kLoopback);
            setPort(dlg, 1023);
            dropDown(dlg.serialList());   // not even the serial port list is asked for
            QCOMPARE(dlg.serialList()->count(), 0);
            dlg.serialList()->addItem(QStringLiteral("01"), 1);
            dlg.serialList()->setCurrentIndex(0);
            press(dlg);
            QCOMPARE(messages(), (QStringList{rangeMessage, rangeMessage}));
            m_prompter->messages.clear();
            dlg.serialList()->clear();
            setPort(dlg, m_gateway->port());
            typeComputer(dlg, QString());
            press(dlg);
            typeComputer(dlg, kLoopback);
            press(dlg);
        });
        QCOMPARE(messages(), (QStringList{"plain:Select or enter computer name", "plain:Select COM port"}));
        QVERIFY(m_gateway->requests().isEmpty());
        QCOMPARE(m_page->remoteText(), QStringLiteral("Not selected."));
        QCOMPARE(Profile().ipPort(), 15027);
    }

    // Typed over the offered entry, a computer name is used by the address
    // the resolver gives it and is offered again with it; a name that cannot
    // be found is refused and nothing is sent.
    void typedComputer()
    {
        rememberLoopback(2);
        runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) {
            setPort(dlg, m_gateway->port());
            typeComputer(dlg, QStringLiteral("localhost"));
            press(dlg);
        });
        QCOMPARE(m_gateway->requests(), QList<QByteArray>{"VeTr 1 0000000 plok 2 STAT."});
        QCOMPARE(m_page->remoteText(), QStringLiteral("localhost (127.0.0.1), COM2"));
        runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) {
            QCOMPARE(items(dlg.computerList()), QStringList{"localhost"});
            QCOMPARE(dlg.computerList()->itemData(0).toUInt(), kLoopbackAddress);
            typeComputer(dlg, QStringLiteral("no-such-host.invalid"));
            press(dlg);
        });
        QCOMPARE(messages().last(), QStringLiteral("plain:The computer \"no-such-host.invalid\" cannot be found."));
        QCOMPARE(m_gateway->requests().size(), 1);
        QCOMPARE(m_page->remoteText(), QStringLiteral("localhost (127.0.0.1), COM2"));
    }

    void applyToLastFailures()
    {
        const Limits& limits = *m_options.limits;
        QCOMPARE(applyToLastRemote(*m_sheet, limits), -1);
        QCOMPARE(messages(), QStringList{"plain:No terminal selected."});

        // A gateway's error is shown without a retry; the command stays usable.
        m_prompter->messages.clear();
        m_sheet->record = {true, true, 1, 0, kLoopback, m_gateway->port()};
        m_sheet->applyEnabled = true;
        m_gateway->pushBehaviour(failing(4));
        QCOMPARE(applyToLastRemote(*m_sheet, limits), 4);
        QCOMPARE(m_gateway->requests().size(), 1);
        QCOMPARE(messages(), QStringList{"plain:Writing error: 4"});
        QCOMPARE(m_sheet->logLines, 0);
        QVERIFY(m_sheet->record.valid && m_sheet->applyEnabled);

        // A word the control will not give: nothing is sent, and the write says why.
        m_prompter->messages.clear();
        m_gateway->clearRequests();
        m_state->refuseEeprom = true;
        QCOMPARE(applyToLastRemote(*m_sheet, limits), kNotSent);
        m_state->refuseEeprom = false;
        QVERIFY(m_gateway->requests().isEmpty());
        QCOMPARE(messages(), QStringList{"stop:Nothing was written to the terminal.\nThe communication control could "
                                         "not read configuration word 10: refused by the fake"});
        QCOMPARE(m_sheet->logLines, 0);
    }

    // Through the real main sheet, which runs the dialog as its runner: a
    // remote read while locked, unlocking, Apply To Last to the same gateway
    // with its line in the transfer log.
    void remoteCommandsThroughTheSheet()
    {
        QDir(m_env->root()).mkpath(QStringLiteral("program"));
        apppaths::setProgramFolder(m_env->path(QStringLiteral("program")));
        CRK40TKPropPage::setControlFactory([state = m_state] { return std::make_unique<testpages::FakeControl>(state); });
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
            dynamic_cast<CNewPasswordDlg&>(dialog).setTexts(QStringLiteral("gate7"), QStringLiteral("gate7"));
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
        const QList<QByteArray> lines = testsupport::readAll(apppaths::transferLogPath()).split('\n');
        QCOMPARE(lines.size(), 2);   // one line and the empty rest
        QCOMPARE(lines[0].mid(20),   // after the date and time
                 QStringLiteral("   COM_PORT: 02   REMOTE: 127.0.0.1:%1\r").arg(m_gateway->port(), 5, 10, QLatin1Char('0')).toLatin1());
    }

    void screens()
    {
        // Pictures for a person to look at (make screenshots).
        const QString dir = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("TERMSET_SCREENSHOT_DIR is not set");
        QDir().mkpath(dir);
        auto save = [&](QWidget* widget, const char* name) {
            QVERIFY(widget->grab().save(QDir(dir).filePath(QString::fromLatin1(name))));
        };
        rememberLoopback(2);
        const char* names[] = {"network-read.png", "network-write.png", "network-status.png"};
        for (int mode = 0; mode <= 2; ++mode) {
            CNetworkDlg dlg(static_cast<NetworkMode>(mode), *m_sheet, *m_page);
            dlg.setDiscoverySources(m_options.discovery);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            // Every control lies inside the dialog.
            for (QWidget* child : dlg.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                QVERIFY2(dlg.rect().contains(child->geometry()), qPrintable(child->objectName()));
            save(&dlg, names[mode]);
            if (mode == 0) {
                dlg.computerList()->showPopup();   // the computer list dropped down
                save(dlg.computerList()->view()->window(), "network-computer-list.png");
                dlg.computerList()->hidePopup();
            }
        }
    }

private:
    // Runs then once the progress box of a request shows, from the event
    // loop that runs while the request waits.
    void whenProgressShows(std::function<void(QProgressDialog&)> then)
    {
        QTimer::singleShot(20, this, [this, then] {
            auto* box = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (box && box->objectName() == QLatin1String("remoteProgress") && box->isVisible())
                then(*box);
            else
                whenProgressShows(then);
        });
    }

    // Runs the dialog of a Remote command once; drive works its controls.
    void runDialog(NetworkMode mode, const std::function<void(CNetworkDlg&)>& drive)
    {
        bool ran = false;
        m_prompter->dialogHandlers.push_back([&](QDialog& dialog) {
            auto& dlg = dynamic_cast<CNetworkDlg&>(dialog);
            ran = true;
            dlg.show();
            if (QTest::qWaitForWindowExposed(&dlg))
                drive(dlg);
            return int(QDialog::Rejected);
        });
        runNetworkCommand(mode, *m_sheet, *m_page, m_options);
        QVERIFY(ran);
    }
    QStringList messages() const { return m_prompter->lookTexts(); }

    // Queues the dialog of a Remote command: gateway port, typed address,
    // serial port from the gateway's list, the action button.
    void queueNetworkDialog(int serialPort)
    {
        m_prompter->dialogHandlers.push_back([this, serialPort](QDialog& dialog) {
            auto& dlg = dynamic_cast<CNetworkDlg&>(dialog);
            setPort(dlg, m_gateway->port());
            dlg.computerList()->setEditText(QStringLiteral("127.0.0.1"));
            dropDown(dlg.serialList());
            dlg.serialList()->setCurrentIndex(dlg.serialList()->findData(serialPort));
            dlg.actionButton()->click();
            return int(QDialog::Rejected);
        });
    }

    void rememberLoopback(quint8 serialPort)
    {
        m_page->remoteSelection() = {kLoopbackAddress, QStringLiteral("gatewayone"), 15027, serialPort};
    }

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<testsupport::RecordingPrompter> m_prompter;
    std::unique_ptr<gatewaysim::GatewaySimulator> m_gateway;
    std::shared_ptr<testpages::FakeState> m_state;
    std::unique_ptr<CRK40TKPropPage> m_page;
    std::unique_ptr<TestSheet> m_sheet;
    NetworkOptions m_options;
};

QTEST_MAIN(TestNetworkDialog)
#include "tst_network_dialog.moc"
