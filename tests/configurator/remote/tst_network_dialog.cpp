// The network dialog end to end against the gateway simulator on loopback:
// read, write and status driven through the dialog's controls, retries and
// failures, what is remembered for the next time, the port range, and
// Apply To Last to a remote terminal.

#include "ApplyToLastRemote.h"
#include "CNetworkDlg.h"
#include "FakeControl.h"
#include "GatewaySimulator.h"
#include "NetworkCommands.h"
#include "Profile.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"
#include "TestNetwork.h"
#include "TestSheet.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QPainter>
#include <QPushButton>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <unistd.h>

using namespace remote;
using gatewaysim::Behaviour;
using testsupport::unusedPort;

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");
const quint32 kLoopbackAddress = htonl(INADDR_LOOPBACK);

QString refused()
{
    return QStringLiteral("plain:SOCKET ERROR function 'Connect()' Error code: %1").arg(ECONNREFUSED);
}

Behaviour failing(int code)
{
    Behaviour b;
    b.resultCode = code;
    return b;
}

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

void setPort(CNetworkDlg& dlg, const QString& text)
{
    dlg.portEdit()->setText(text);
}

void setPort(CNetworkDlg& dlg, quint16 port) { setPort(dlg, QString::number(port)); }

void chooseComputer(CNetworkDlg& dlg, const QString& name)
{
    dropDown(dlg.computerList());
    const int index = dlg.computerList()->findText(name);
    QVERIFY2(index >= 0, qPrintable(name));
    dlg.computerList()->setCurrentIndex(index);
}

void typeComputer(CNetworkDlg& dlg, const QString& text)
{
    QLineEdit* edit = dlg.computerList()->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void chooseSerialPort(CNetworkDlg& dlg, int port)
{
    dropDown(dlg.serialList());
    const int index = dlg.serialList()->findData(port);
    QVERIFY2(index >= 0, qPrintable(QString::number(port)));
    dlg.serialList()->setCurrentIndex(index);
}

void press(CNetworkDlg& dlg) { QTest::mouseClick(dlg.actionButton(), Qt::LeftButton); }

} // namespace

class TestNetworkDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opening_data();
    void opening();
    void readFromTheList_data();
    void readFromTheList();
    void writeToATypedAddress();
    void status();
    void nothingListening_data();
    void nothingListening();
    void failedReadAfterAGoodOne();
    void retries_data();
    void retries();
    void cancelEndsARequestAtOnce();
    void serialPortList_data();
    void serialPortList();
    void missingChoices();
    void portRange_data();
    void portRange();
    void remembersForTheNextTime();
    void typedAddressOfferedAgain();
    void typedName();
    void applyToLastAfterRemoteRead();
    void applyToLastRemoteFailure();
    void applyToLastWithoutRecord();
    void modeOfCommands();
    void screens();

private:
    // Runs the dialog of a Remote command once; drive works its controls.
    void runDialog(NetworkMode mode, const std::function<void(CNetworkDlg&)>& drive);
    // A successful read of the gateway's serial port through the list.
    void readThroughList(int serialPort);
    QStringList messages() const;
    void rememberLoopback(quint8 serialPort);

    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<testsupport::RecordingPrompter> m_prompter;
    std::unique_ptr<gatewaysim::GatewaySimulator> m_gateway;
    std::shared_ptr<testpages::FakeState> m_state;
    std::unique_ptr<CRK40TKPropPage> m_page;
    std::unique_ptr<TestSheet> m_sheet;
    NetworkOptions m_options;
};

void TestNetworkDialog::init()
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
    QFile hosts(m_env->path(QStringLiteral("hosts")));
    QVERIFY(hosts.open(QIODevice::WriteOnly));
    hosts.write("10.0.0.7 Other-Box\n127.0.0.1 GatewayOne gw\n10.0.0.8 ALPHA\n");
    hosts.close();
    m_options = {};
    m_options.discovery.hostsFile = hosts.fileName();
    m_options.discovery.neighbourTable = m_env->path(QStringLiteral("no-neighbours"));
    m_options.discovery.reverseLookup = false;
    m_options.discovery.ownHost = false;
    m_options.limits = Limits{std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(10)};
}

void TestNetworkDialog::cleanup()
{
    m_sheet.reset();
    m_page.reset();
    m_gateway.reset();
    m_prompter.reset();
    Profile::useFile({});
    m_env.reset();
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestNetworkDialog::runDialog(NetworkMode mode, const std::function<void(CNetworkDlg&)>& drive)
{
    bool ran = false;
    m_prompter->dialogHandlers.push_back([&](QDialog& dialog) {
        auto* dlg = qobject_cast<CNetworkDlg*>(&dialog);
        if (!dlg)
            return int(QDialog::Rejected);
        ran = true;
        dlg->show();
        if (QTest::qWaitForWindowExposed(dlg))
            drive(*dlg);
        return int(QDialog::Rejected);
    });
    runNetworkCommand(static_cast<int>(mode), *m_sheet, *m_page, m_options);
    QVERIFY(ran);
}

void TestNetworkDialog::readThroughList(int serialPort)
{
    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        chooseComputer(dlg, QStringLiteral("gatewayone"));
        chooseSerialPort(dlg, serialPort);
        press(dlg);
    });
    QCOMPARE(messages().value(messages().size() - 1), QStringLiteral("info:Configuration read successfully."));
}

QStringList TestNetworkDialog::messages() const
{
    return m_prompter->lookTexts();
}

void TestNetworkDialog::rememberLoopback(quint8 serialPort)
{
    auto& selection = m_page->remoteSelection();
    selection.address = kLoopbackAddress;
    selection.name = QStringLiteral("gatewayone");
    selection.port = 15027;
    selection.serialPort = serialPort;
}

void TestNetworkDialog::opening_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("button");
    QTest::newRow("read") << 0 << "Read remote configuration" << "Read";
    QTest::newRow("write") << 1 << "Write remote configuration" << "Write";
    QTest::newRow("status") << 2 << "Get remote status" << "Status";
}

void TestNetworkDialog::opening()
{
    QFETCH(int, mode);
    QFETCH(QString, title);
    QFETCH(QString, button);

    // Before any remote action: empty lists and the default port.
    runDialog(static_cast<NetworkMode>(mode), [&](CNetworkDlg& dlg) {
        QCOMPARE(dlg.windowTitle(), title);
        QCOMPARE(dlg.actionButton()->text(), button);
        QVERIFY(dlg.actionButton()->isDefault());
        QCOMPARE(dlg.computerList()->count(), 0);
        QCOMPARE(dlg.serialList()->count(), 0);
        QCOMPARE(dlg.portEdit()->text(), QStringLiteral("15027"));
        for (int id : {1228, 1229, 1230, 1231, 2, 65535, 65534, 65533})
            QVERIFY2(dlg.findChild<QWidget*>(QString::number(id)), qPrintable(QString::number(id)));
        QCOMPARE(dlg.findChild<QLabel*>(QStringLiteral("65535"))->text(), QStringLiteral("&Computer name or IP number"));
        QCOMPARE(dlg.findChild<QPushButton*>(QStringLiteral("2"))->text(), QStringLiteral("Close"));
    });
    QCOMPARE(m_prompter->dialogs, QStringList{QStringLiteral("145")});

    // The stored port is offered.
    Profile().setIpPort(20001);
    runDialog(static_cast<NetworkMode>(mode),
              [&](CNetworkDlg& dlg) { QCOMPARE(dlg.portEdit()->text(), QStringLiteral("20001")); });
    QVERIFY(messages().isEmpty());
    QVERIFY(m_gateway->requests().isEmpty());
}

void TestNetworkDialog::readFromTheList_data()
{
    QTest::addColumn<bool>("unlocked");
    QTest::newRow("unlocked") << true;
    QTest::newRow("locked") << false;
}

void TestNetworkDialog::readFromTheList()
{
    QFETCH(bool, unlocked);
    m_sheet->unlocked = unlocked;
    gatewaysim::SimTerminal terminal;
    terminal.eeprom[10] = 0x1234;
    terminal.eeprom[11] = 0xBEEF;
    terminal.eeprom[39] = 0x0007;
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
    QCOMPARE(m_state->eeprom[10], QStringLiteral("1234"));
    QCOMPARE(m_state->eeprom[11], QStringLiteral("BEEF"));
    QCOMPARE(m_state->eeprom[39], QStringLiteral("0007"));
    QCOMPARE(m_sheet->refreshes, 1);

    const QString text = QStringLiteral("gatewayone (127.0.0.1), COM2");
    QCOMPARE(m_sheet->lastRead, text);
    QCOMPARE(m_sheet->remoteText, text);
    QCOMPARE(m_page->remoteText(), text);
    QCOMPARE(m_sheet->applyEnabled, unlocked);
    const LastTerminal& record = m_sheet->record;
    QVERIFY(record.valid);
    QVERIFY(record.remote);
    QCOMPARE(record.serialPort, quint8(2));
    QCOMPARE(record.address, kLoopback);
    QCOMPARE(record.tcpPort, m_gateway->port());
    QVERIFY(m_sheet->log.empty());

    const auto& selection = m_page->remoteSelection();
    QCOMPARE(selection.address, kLoopbackAddress);
    QCOMPARE(selection.name, QStringLiteral("gatewayone"));
    QCOMPARE(selection.port, m_gateway->port());
    QCOMPARE(selection.serialPort, quint8(2));
    QCOMPARE(Profile().ipPort(), int(m_gateway->port()));
}

void TestNetworkDialog::writeToATypedAddress()
{
    m_page->comm().setWord(10, QStringLiteral("0123"));
    m_page->comm().setWord(39, QStringLiteral("FFFF"));
    runDialog(NetworkMode::Write, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        typeComputer(dlg, kLoopback);
        chooseSerialPort(dlg, 1);
        press(dlg);
    });

    QCOMPARE(messages(), QStringList{QStringLiteral("info:Configuration written successfully.")});
    const QList<QByteArray> requests = m_gateway->requests();
    QCOMPARE(requests.size(), 2);
    QVERIFY(requests[1].startsWith("VeTr 1 0000331 plok 1 sEPT 0010,00291;0011,00000;"));
    QVERIFY(requests[1].endsWith("0039,65535;."));
    QCOMPARE(m_gateway->terminal(1).eeprom[10], quint16(0x0123));
    QCOMPARE(m_gateway->terminal(1).eeprom[39], quint16(0xFFFF));

    QCOMPARE(m_sheet->log, (std::vector<TestSheet::LogLine>{{1, kLoopback, m_gateway->port()}}));
    QCOMPARE(m_sheet->refreshes, 0);
    QCOMPARE(m_sheet->lastRead, QStringLiteral("127.0.0.1 (127.0.0.1), COM1"));
    QVERIFY(m_sheet->applyEnabled);
    QVERIFY(m_sheet->record.valid && m_sheet->record.remote);
    QCOMPARE(m_sheet->record.address, kLoopback);
    // A typed address is remembered as the address it stands for.
    QCOMPARE(m_page->remoteSelection().address, kLoopbackAddress);
    QCOMPARE(m_page->remoteSelection().name, kLoopback);
}

// The status text itself is the remote link's (tst_remote_terminal); here
// what the dialog adds: the serial port it names and what it leaves alone.
void TestNetworkDialog::status()
{
    // An earlier serial read: the status leaves it alone.
    m_sheet->record = {true, false, 3, 9600, {}, 0};
    m_sheet->lastRead = QStringLiteral("COM3");
    m_sheet->applyEnabled = true;

    runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        chooseComputer(dlg, QStringLiteral("gatewayone"));
        chooseSerialPort(dlg, 1);
        press(dlg);
    });

    QCOMPARE(messages().size(), 1);
    QVERIFY(messages()[0].startsWith(QStringLiteral("info:Time:")));
    QCOMPARE(m_gateway->requests().last(), QByteArray("VeTr 1 0000000 plok 1 STAT."));
    QCOMPARE(m_sheet->lastRead, QStringLiteral("COM3"));
    QVERIFY(m_sheet->applyEnabled);
    QVERIFY(m_sheet->record.valid && !m_sheet->record.remote);
    QCOMPARE(m_sheet->record.serialPort, quint8(3));
    QVERIFY(m_sheet->log.empty());
    QCOMPARE(m_sheet->refreshes, 0);
    // The choice is remembered all the same.
    QCOMPARE(m_page->remoteText(), QStringLiteral("gatewayone (127.0.0.1), COM1"));
    QCOMPARE(m_page->remoteSelection().serialPort, quint8(1));
}

void TestNetworkDialog::nothingListening_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("expected");
    const QString r = refused();
    QTest::newRow("read") << 0 << QStringList{r, r, r, QStringLiteral("stop:Reading error: -1")};
    QTest::newRow("write") << 1 << QStringList{r, r, r, QStringLiteral("stop:Writing error: -1")};
    QTest::newRow("status") << 2 << QStringList{r, QStringLiteral("plain:Status error: -1")};
}

void TestNetworkDialog::nothingListening()
{
    QFETCH(int, mode);
    QFETCH(QStringList, expected);
    rememberLoopback(1);
    const LastTerminal earlier{true, true, 1, 0, kLoopback, 15027};
    m_sheet->record = earlier;
    m_sheet->lastRead = QStringLiteral("gatewayone (127.0.0.1), COM1");
    m_sheet->applyEnabled = true;
    const quint16 port = unusedPort();

    runDialog(static_cast<NetworkMode>(mode), [&](CNetworkDlg& dlg) {
        // The terminal chosen last is offered; only the port is new.
        QCOMPARE(dlg.computerList()->currentText(), QStringLiteral("gatewayone"));
        QCOMPARE(dlg.serialList()->currentText(), QStringLiteral("01"));
        setPort(dlg, port);
        press(dlg);
    });

    QCOMPARE(messages(), expected);
    // The selection and the stored port change although the request failed.
    QCOMPARE(m_page->remoteSelection().port, port);
    QCOMPARE(Profile().ipPort(), int(port));
    if (mode == 2) {
        QVERIFY(m_sheet->record.valid);
        QVERIFY(m_sheet->applyEnabled);
        QCOMPARE(m_sheet->lastRead, QStringLiteral("gatewayone (127.0.0.1), COM1"));
    } else {
        QVERIFY(!m_sheet->record.valid);
        QVERIFY(!m_sheet->applyEnabled);
        QCOMPARE(m_sheet->lastRead, QStringLiteral("Not selected."));
    }
    QVERIFY(m_sheet->log.empty());
}

void TestNetworkDialog::failedReadAfterAGoodOne()
{
    m_sheet->unlocked = true;
    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        chooseComputer(dlg, QStringLiteral("gatewayone"));
        chooseSerialPort(dlg, 1);
        press(dlg);
        QVERIFY(m_sheet->applyEnabled);
        QVERIFY(m_sheet->record.valid);
        // The dialog stays open: the next read fails three times.
        for (int i = 0; i < 3; ++i)
            m_gateway->pushBehaviour(failing(7));
        press(dlg);
    });

    QCOMPARE(messages(), (QStringList{"info:Configuration read successfully.", "stop:Reading error: 7"}));
    QCOMPARE(int(m_gateway->requests().count("VeTr 1 0000000 plok 1 gEPT.")), 4);
    QCOMPARE(m_sheet->lastRead, QStringLiteral("Not selected."));
    QVERIFY(!m_sheet->applyEnabled);
    QVERIFY(!m_sheet->record.valid);
}

void TestNetworkDialog::retries_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("codes");   // results of the gateway, one a request
    QTest::addColumn<int>("requests");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("read succeeds at the third") << 0 << QList<int>{3, 3} << 3
                                                << QStringList{"info:Configuration read successfully."};
    QTest::newRow("write succeeds at the second")
        << 1 << QList<int>{9999} << 2 << QStringList{"info:Configuration written successfully."};
    // A write reports its first attempt's result, a read its last.
    QTest::newRow("write fails three times") << 1 << QList<int>{3, 4, 5} << 3 << QStringList{"stop:Writing error: 3"};
    QTest::newRow("read fails three times") << 0 << QList<int>{5, 4, 3} << 3 << QStringList{"stop:Reading error: 3"};
    QTest::newRow("status is tried once") << 2 << QList<int>{9} << 1 << QStringList{"plain:Status error: 9"};
}

void TestNetworkDialog::retries()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, codes);
    QFETCH(int, requests);
    QFETCH(QStringList, expected);
    rememberLoopback(2);
    for (int code : codes)
        m_gateway->pushBehaviour(failing(code));

    runDialog(static_cast<NetworkMode>(mode), [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        press(dlg);
    });

    QCOMPARE(messages(), expected);
    const QList<QByteArray> sent = m_gateway->requests();
    QCOMPARE(sent.size(), requests);
    for (const QByteArray& request : sent)
        QCOMPARE(request, sent.first());   // every retry repeats the request
    const bool succeeded = expected.first().startsWith(QLatin1String("info:"));
    QCOMPARE(m_sheet->record.valid, succeeded && mode != 2);
    QCOMPARE(m_sheet->log.size(), std::size_t(succeeded && mode == 1 ? 1 : 0));
}

// A gateway that takes the connection and never answers: the windows stay
// alive under the progress box, whose Cancel ends the request at once and
// leaves out the retries.
void TestNetworkDialog::cancelEndsARequestAtOnce()
{
    rememberLoopback(1);
    Behaviour silent;
    silent.mode = gatewaysim::Mode::Silent;
    m_gateway->setDefaultBehaviour(silent);
    QElapsedTimer sinceCancel;
    bool cursorKept = false;
    // Found and pressed by the event loop that runs while the request waits.
    std::function<void()> pressCancel = [&] {
        auto* box = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("remoteProgress") || !box->isVisible()) {
            QTimer::singleShot(20, pressCancel);
            return;
        }
        auto* cancel = box->findChild<QPushButton*>();
        QVERIFY(cancel);
        cursorKept = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        sinceCancel.start();
        QTest::mouseClick(cancel, Qt::LeftButton);
    };
    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        QTimer::singleShot(0, pressCancel);
        press(dlg);
    });
    QVERIFY(sinceCancel.isValid());
    QVERIFY2(sinceCancel.elapsed() < 1000, qPrintable(QString::number(sinceCancel.elapsed())));
    QVERIFY(cursorKept);
    QCOMPARE(m_gateway->requests().size(), 1);
    QCOMPARE(messages(), QStringList{"stop:Reading error: -1"});
    QVERIFY(!m_sheet->record.valid);
}

void TestNetworkDialog::serialPortList_data()
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

void TestNetworkDialog::serialPortList()
{
    QFETCH(QString, computer);
    QFETCH(bool, listening);
    QFETCH(int, code);
    QFETCH(QStringList, expected);
    if (code != 0)
        m_gateway->pushBehaviour(failing(code));
    const quint16 port = listening ? m_gateway->port() : unusedPort();

    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        setPort(dlg, port);
        typeComputer(dlg, computer);
        dropDown(dlg.serialList());
        QCOMPARE(dlg.serialList()->count(), 0);
    });
    QCOMPARE(messages(), expected);
    QCOMPARE(m_gateway->requests().size(), listening && !computer.isEmpty() ? 1 : 0);
}

void TestNetworkDialog::missingChoices()
{
    runDialog(NetworkMode::Write, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        press(dlg);
        typeComputer(dlg, kLoopback);
        press(dlg);
    });
    QCOMPARE(messages(), (QStringList{"plain:Select or enter computer name", "plain:Select COM port"}));
    // Nothing was remembered or sent.
    QVERIFY(m_gateway->requests().isEmpty());
    QCOMPARE(m_page->remoteSelection().address, 0u);
    QCOMPARE(m_page->remoteText(), QStringLiteral("Not selected."));
    QCOMPARE(Profile().ipPort(), 15027);
}

void TestNetworkDialog::portRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("1023") << "1023" << false;
    QTest::newRow("1024") << "1024" << true;
    QTest::newRow("65535") << "65535" << true;
    QTest::newRow("65536") << "65536" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("text") << "port" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("too long") << "99999999" << false;
}

void TestNetworkDialog::portRange()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    rememberLoopback(1);
    const QString rangeMessage = QStringLiteral("plain:Enter a whole number from 1024 to 65535.");

    runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) {
        setPort(dlg, text);
        if (!accepted) {
            // Not even the serial port list is asked for.
            dropDown(dlg.serialList());
            QCOMPARE(dlg.serialList()->count(), 0);
            QCOMPARE(messages(), QStringList{rangeMessage});
            m_prompter->messages.clear();
            dlg.serialList()->addItem(QStringLiteral("01"), 1);
            dlg.serialList()->setCurrentIndex(0);
        }
        press(dlg);
    });

    if (accepted) {
        QVERIFY(!messages().contains(rangeMessage));
        QCOMPARE(int(m_page->remoteSelection().port), text.toInt());
        QCOMPARE(Profile().ipPort(), text.toInt());
    } else {
        QCOMPARE(messages(), QStringList{rangeMessage});
        QCOMPARE(m_page->remoteSelection().port, quint16(15027));
        QCOMPARE(Profile().ipPort(), 15027);
        QVERIFY(m_gateway->requests().isEmpty());
    }
}

void TestNetworkDialog::remembersForTheNextTime()
{
    readThroughList(2);
    m_gateway->clearRequests();
    m_prompter->messages.clear();

    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        // The remembered terminal and port are offered, chosen.
        QCOMPARE(items(dlg.computerList()), QStringList{"gatewayone"});
        QCOMPARE(dlg.computerList()->currentIndex(), 0);
        QCOMPARE(dlg.computerList()->itemData(0).toUInt(), kLoopbackAddress);
        QCOMPARE(items(dlg.serialList()), QStringList{"02"});
        QCOMPARE(dlg.serialList()->currentData().toInt(), 2);
        QCOMPARE(dlg.portEdit()->text(), QString::number(m_gateway->port()));
        press(dlg);
        // Opening the lists replaces the offer with fresh lists; the name
        // shown still counts as chosen.
        dropDown(dlg.computerList());
        QCOMPARE(items(dlg.computerList()).size(), 3);
        QCOMPARE(dlg.computerList()->currentText(), QStringLiteral("gatewayone"));
        QCOMPARE(dlg.computerList()->currentIndex(), 1);
        dropDown(dlg.serialList());
        QCOMPARE(items(dlg.serialList()), (QStringList{"01", "02"}));
    });
    QCOMPARE(messages(), QStringList{"info:Configuration read successfully."});
    QCOMPARE(m_gateway->requests(),
             (QList<QByteArray>{"VeTr 1 0000000 plok 2 gEPT.", "VeTr 1 0000000 plok 1 TEST."}));
}

void TestNetworkDialog::typedAddressOfferedAgain()
{
    runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        typeComputer(dlg, QStringLiteral(" 127.0.0.1 "));
        chooseSerialPort(dlg, 2);
        press(dlg);
    });
    m_prompter->messages.clear();

    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        QCOMPARE(items(dlg.computerList()), QStringList{kLoopback});
        QCOMPARE(dlg.computerList()->itemData(0).toUInt(), kLoopbackAddress);
        press(dlg);
    });
    QCOMPARE(messages(), QStringList{"info:Configuration read successfully."});
    QCOMPARE(m_sheet->record.address, kLoopback);
    QCOMPARE(m_sheet->record.serialPort, quint8(2));

    // Typing over the offered entry: the typed text counts.
    m_prompter->messages.clear();
    runDialog(NetworkMode::Read, [&](CNetworkDlg& dlg) {
        typeComputer(dlg, QStringLiteral("127.0.0.2"));
        press(dlg);
    });
    QCOMPARE(m_page->remoteSelection().name, QStringLiteral("127.0.0.2"));
    QCOMPARE(m_page->remoteSelection().address, htonl(0x7F000002));
}

void TestNetworkDialog::typedName()
{
    // Names are not looked up: the request fails at the connect step, and
    // nothing usable is remembered to offer again.
    runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) {
        setPort(dlg, m_gateway->port());
        typeComputer(dlg, QStringLiteral("gateway.example"));
        dlg.serialList()->addItem(QStringLiteral("01"), 1);
        dlg.serialList()->setCurrentIndex(0);
        press(dlg);
    });
    QCOMPARE(messages().size(), 2);
    QVERIFY(messages()[0].startsWith(QLatin1String("plain:SOCKET ERROR function 'Connect()'")));
    QCOMPARE(messages()[1], QStringLiteral("plain:Status error: -1"));
    QCOMPARE(m_page->remoteSelection().name, QStringLiteral("gateway.example"));
    QCOMPARE(m_page->remoteSelection().address, 0u);
    QCOMPARE(m_page->remoteText(), QStringLiteral("gateway.example (gateway.example), COM1"));
    runDialog(NetworkMode::Status, [&](CNetworkDlg& dlg) { QCOMPARE(dlg.computerList()->count(), 0); });
}

void TestNetworkDialog::applyToLastAfterRemoteRead()
{
    readThroughList(2);
    m_gateway->clearRequests();
    m_prompter->messages.clear();
    m_page->comm().setWord(10, QStringLiteral("4321"));

    QCOMPARE(applyToLastRemote(*m_sheet, *m_options.limits), 0);
    const QList<QByteArray> requests = m_gateway->requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY(requests[0].startsWith("VeTr 1 0000331 plok 2 sEPT 0010,17185;"));
    QCOMPARE(m_gateway->terminal(2).eeprom[10], quint16(0x4321));
    QCOMPARE(m_sheet->log, (std::vector<TestSheet::LogLine>{{2, kLoopback, m_gateway->port()}}));
    QCOMPARE(messages(), QStringList{"info:Configuration written successfully."});
}

void TestNetworkDialog::applyToLastRemoteFailure()
{
    readThroughList(1);
    m_gateway->clearRequests();
    m_prompter->messages.clear();
    m_gateway->pushBehaviour(failing(4));

    QCOMPARE(applyToLastRemote(*m_sheet, *m_options.limits), 4);
    QCOMPARE(m_gateway->requests().size(), 1);   // no retry
    QCOMPARE(messages(), QStringList{"plain:Writing error: 4"});
    QVERIFY(m_sheet->log.empty());
    // The command stays usable and works at once.
    QVERIFY(m_sheet->record.valid);
    QVERIFY(m_sheet->applyEnabled);
    QCOMPARE(applyToLastRemote(*m_sheet, *m_options.limits), 0);
    QCOMPARE(m_sheet->log.size(), std::size_t(1));

    // A gateway that went away: the socket message, then the write error.
    m_prompter->messages.clear();
    m_sheet->record.tcpPort = unusedPort();
    QCOMPARE(applyToLastRemote(*m_sheet, *m_options.limits), -1);
    QCOMPARE(messages(), (QStringList{refused(), "plain:Writing error: -1"}));
}

void TestNetworkDialog::applyToLastWithoutRecord()
{
    QCOMPARE(applyToLastRemote(*m_sheet, *m_options.limits), -1);
    QCOMPARE(messages(), QStringList{"plain:No terminal selected."});
    // A serial record is not sent to any gateway.
    m_prompter->messages.clear();
    m_sheet->record = {true, false, 3, 9600, {}, 0};
    QCOMPARE(applyToLastRemote(*m_sheet, *m_options.limits), -1);
    QVERIFY(messages().isEmpty());
    QVERIFY(m_gateway->requests().isEmpty());
}

void TestNetworkDialog::modeOfCommands()
{
    QCOMPARE(networkModeOf(32791), 0);
    QCOMPARE(networkModeOf(32792), 1);
    QCOMPARE(networkModeOf(32793), 2);
    QCOMPARE(networkModeOf(32772), -1);
    // A mode that is none of the three shows nothing.
    runNetworkCommand(3, *m_sheet, *m_page, m_options);
    QVERIFY(m_prompter->dialogs.isEmpty());
}

namespace {

// The dialog as a window manager would frame it: its title above it, and
// an open list painted where it drops down.
QImage framed(QWidget& dialog, QWidget* popup = nullptr)
{
    const int bar = dialog.fontMetrics().height() + 10;
    QRect area(dialog.mapToGlobal(QPoint(0, 0)), dialog.size());
    if (popup)
        area |= popup->geometry();
    QImage out(area.width() + 2, area.height() + bar + 2, QImage::Format_ARGB32);
    out.fill(QColor(0x50, 0x50, 0x50));
    QPainter painter(&out);
    painter.fillRect(QRect(1, 1, dialog.width(), bar), QColor(0x2b, 0x57, 0x9a));
    painter.setPen(Qt::white);
    QFont bold = dialog.font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRect(9, 1, dialog.width() - 16, bar), Qt::AlignVCenter | Qt::AlignLeft, dialog.windowTitle());
    const QPoint origin(1 - area.left(), 1 + bar - area.top());
    painter.drawPixmap(origin + dialog.mapToGlobal(QPoint(0, 0)), dialog.grab());
    if (popup)
        painter.drawPixmap(origin + popup->geometry().topLeft(), popup->grab());
    return out;
}

} // namespace

void TestNetworkDialog::screens()
{
    // Pictures for a person to look at (make screenshots).
    const QString dir = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
    if (dir.isEmpty())
        QSKIP("TERMSET_SCREENSHOT_DIR is not set");
    auto save = [&](const QImage& image, const char* name) {
        QVERIFY(!image.isNull());
        QDir().mkpath(dir);
        QVERIFY(image.save(QDir(dir).filePath(QString::fromLatin1(name))));
    };
    rememberLoopback(2);
    const char* names[] = {"network-read.png", "network-write.png", "network-status.png"};
    for (int mode = 0; mode <= 2; ++mode) {
        CNetworkDlg dlg(static_cast<NetworkMode>(mode), *m_sheet, *m_page);
        dlg.setDiscoverySources(m_options.discovery);
        dlg.move(40, 40);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        // Every control lies inside the dialog.
        for (QWidget* child : dlg.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(dlg.rect().contains(child->geometry()), qPrintable(child->objectName()));
        save(framed(dlg), names[mode]);

        if (mode == 0) {
            // The computer list dropped down.
            dlg.computerList()->showPopup();
            QWidget* popup = dlg.computerList()->view()->window();
            QVERIFY(popup->isVisible());
            save(framed(dlg, popup), "network-computer-list.png");
            dlg.computerList()->hidePopup();
        }
    }
}

QTEST_MAIN(TestNetworkDialog)
#include "tst_network_dialog.moc"
