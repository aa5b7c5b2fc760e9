#include "shell/CNetworkDlg.h"
#include "shell/TransferMessages.h"

#include "pages/DialogUnits.h"
#include "core/Profile.h"
#include "platform/ui/Prompt.h"
#include "platform/ui/WaitCursor.h"
#include "core/StringIds.h"
#include "platform/resources/Resources.h"

#include <QComboBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopeGuard>

#include <algorithm>
#include <functional>
#include <thread>

namespace remote {

// A list that rebuilds itself each time it drops down. A list left empty
// does not open.
class DropDownList : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> onDropDown;

    void showPopup() override
    {
        if (onDropDown)
            onDropDown();
        if (count() > 0)
            QComboBox::showPopup();
    }
};

namespace {

QString str(int id) { return resources::loadString(id); }
QString dlgText(int controlId) { return resources::dialogText(CNetworkDlg::kDialogId, controlId); }

// The wait cursor while the network is asked, restored on every way out.
struct ModeTexts {
    int title;
    int button;
};

ModeTexts textsOf(NetworkMode mode)
{
    switch (mode) {
    case NetworkMode::Write: return {strid::kWriteTitle, strid::kWriteButton};
    case NetworkMode::Status: return {strid::kStatusTitle, strid::kStatusButton};
    case NetworkMode::Read: break;
    }
    return {strid::kReadTitle, strid::kReadButton};
}

// The resolver on a thread of its own: the dialog keeps painting under the
// wait cursor, and takes no input until the answer is in.
std::optional<quint32> resolveAwayFromInterface(const QString& name)
{
    const ui::WaitCursor wait;
    std::optional<quint32> resolved;
    QEventLoop loop;
    std::thread worker([&] {
        resolved = resolveHost(name);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return resolved;
}

QLabel* makeLabel(QWidget* parent, int id, const QRect& r, QWidget* buddy)
{
    auto* label = new QLabel(dlgText(id), parent);
    label->setObjectName(QString::number(id));
    label->setGeometry(r);
    label->setBuddy(buddy);
    // The desktop's font may be wider than the dialog font: never clip.
    label->resize(std::max(r.width(), label->sizeHint().width()), r.height());
    return label;
}

} // namespace

CNetworkDlg::CNetworkDlg(NetworkMode mode, ISheetServices& sheet, CRK40TKPropPage& page, QWidget* parent)
    : QDialog(parent),
      m_mode(mode),
      m_actions(sheet, page.remoteSelection(), [&page](const QString& text) { page.setRemoteText(text); }, this)
{
    setObjectName(QString::number(kDialogId));
    const DialogUnits du(font());
    setFixedSize(du.size(216, 93));

    m_computers = new DropDownList(this);
    m_computers->setObjectName(QString::number(kComputerList));
    m_computers->setEditable(true);
    // A typed text is an address, never a new entry of the list.
    m_computers->setInsertPolicy(QComboBox::NoInsert);
    m_computers->setMaxVisibleItems(12);
    m_computers->setGeometry(du.rect(8, 20, 120, 14));
    m_computers->onDropDown = [this] { fillComputerList(); };

    m_portEdit = new QLineEdit(this);
    m_portEdit->setObjectName(QString::number(kPortEdit));
    m_portEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), m_portEdit));
    m_portEdit->setGeometry(du.rect(132, 20, 40, 14));

    m_serialPorts = new DropDownList(this);
    m_serialPorts->setObjectName(QString::number(kSerialList));
    m_serialPorts->setGeometry(du.rect(8, 52, 36, 14));
    m_serialPorts->onDropDown = [this] { fillSerialList(); };

    makeLabel(this, kComputerLabel, du.rect(8, 8, 120, 8), m_computers);
    makeLabel(this, kPortLabel, du.rect(132, 8, 39, 8), m_portEdit);
    makeLabel(this, kSerialLabel, du.rect(8, 40, 56, 8), m_serialPorts);

    m_action = new QPushButton(this);
    m_action->setObjectName(QString::number(kActionButton));
    m_action->setDefault(true);
    m_action->setGeometry(du.rect(104, 72, 50, 14));
    connect(m_action, &QPushButton::clicked, this, &CNetworkDlg::OnAction);

    auto* close = new QPushButton(dlgText(kCloseButton), this);
    close->setObjectName(QString::number(kCloseButton));
    close->setAutoDefault(false);
    close->setGeometry(du.rect(160, 72, 50, 14));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(m_computers, m_portEdit);
    setTabOrder(m_portEdit, m_serialPorts);
    setTabOrder(m_serialPorts, m_action);
    setTabOrder(m_action, close);

    // The mode names the dialog and its action.
    const ModeTexts texts = textsOf(mode);
    setWindowTitle(str(texts.title));
    m_action->setText(str(texts.button));

    // The terminal chosen last is offered again.
    const NetworkActions::Selection& remembered = page.remoteSelection();
    if (remembered.address != 0) {
        addComputer(remembered.name, remembered.address);
        m_computers->setCurrentIndex(0);
        m_serialPorts->addItem(QString::asprintf("%02d", remembered.serialPort), int{remembered.serialPort});
        m_serialPorts->setCurrentIndex(0);
    }

    m_tcpPort = static_cast<quint16>(std::clamp(Profile().ipPort(), 0, 65535));
    m_portEdit->setText(QString::number(Profile().ipPort()));
    m_computers->setFocus();
}

CNetworkDlg::~CNetworkDlg() = default;

void CNetworkDlg::setLimits(const Limits& limits)
{
    m_limits = limits;
    m_actions.setLimits(limits);
}

QComboBox* CNetworkDlg::computerList() const { return m_computers; }
QComboBox* CNetworkDlg::serialList() const { return m_serialPorts; }

void CNetworkDlg::addComputer(const QString& name, quint32 address)
{
    // The list keeps itself sorted.
    int at = 0;
    while (at < m_computers->count() && QString::compare(m_computers->itemText(at), name, Qt::CaseInsensitive) <= 0)
        ++at;
    m_computers->insertItem(at, name, address);
}

bool CNetworkDlg::readControls()
{
    m_computerText = m_computers->currentText().trimmed();
    const std::optional<quint16> port = parseTcpPort(m_portEdit->text());
    if (!port) {
        ui::prompter().message(this, str(strid::kPortRange).arg(kMinTcpPort).arg(kMaxTcpPort));
        m_portEdit->setFocus();
        m_portEdit->selectAll();
        return false;
    }
    m_tcpPort = *port;
    return true;
}

bool CNetworkDlg::addressText(QString* text, quint32* address)
{
    if (!readControls())
        return false;
    const int chosen = m_computers->currentIndex();
    // An entry counts as chosen while the edit field still shows it; once
    // the operator types over it, the typed text is what counts.
    if (chosen >= 0 && m_computers->itemText(chosen).trimmed() == m_computerText) {
        *address = m_computers->itemData(chosen).toUInt();
        *text = dottedAddress(*address);
        return true;
    }
    *text = m_computerText;
    *address = 0;
    if (m_computerText.isEmpty())
        return true;
    if (const std::optional<quint32> typed = parseIPv4(m_computerText)) {
        *address = *typed;
        return true;
    }
    // A computer name: the requests go to the address it has now.
    const std::optional<quint32> resolved = resolveAwayFromInterface(m_computerText);
    if (!resolved) {
        ui::prompter().message(this, resources::formatString(strid::kUnknownComputer, {m_computerText}));
        m_computers->setFocus();
        return false;
    }
    *address = *resolved;
    *text = dottedAddress(*resolved);
    return true;
}

void CNetworkDlg::fillComputerList()
{
    const QString shown = m_computers->currentText();
    m_computers->clear();
    QList<ServerEntry> servers;
    {
        const ui::WaitCursor wait;
        servers = EnumerateServers(m_sources);
    }
    for (const ServerEntry& server : servers)
        addComputer(server.name.toLower(), server.address);

    // Whatever the edit field showed stays; it names an entry again when
    // the fresh list has one of that name.
    m_computers->setCurrentIndex(m_computers->findText(shown.trimmed(), Qt::MatchFixedString));
    m_computers->setEditText(shown);
}

void CNetworkDlg::fillSerialList()
{
    m_serialPorts->clear();
    QString text;
    quint32 address = 0;
    if (!addressText(&text, &address) || text.isEmpty())
        return;
    std::set<quint8> ports;
    int result = 0;
    {
        const ui::WaitCursor wait;
        result = GetRemotePorts(text, m_tcpPort, ports, m_limits, nullptr, textsOf(m_mode).title);
    }
    if (result != 0) {
        ui::prompter().message(this, str(strid::kPortListError));
        return;
    }
    for (const quint8 port : ports)
        m_serialPorts->addItem(QString::asprintf("%02d", port), int{port});
    if (m_serialPorts->count() > 0)
        m_serialPorts->setCurrentIndex(0);
}

void CNetworkDlg::OnAction()
{
    // Off from the click until the request ends: a double-click sends one
    // request.
    m_action->setEnabled(false);
    const auto enable = qScopeGuard([this] { m_action->setEnabled(true); });
    RemoteTarget target;
    if (!addressText(&target.addressText, &target.address))
        return;
    if (target.addressText.isEmpty()) {
        ui::prompter().message(this, str(strid::kNoComputer));
        return;
    }
    const int chosen = m_serialPorts->currentIndex();
    if (chosen < 0) {
        ui::prompter().message(this, str(strid::kNoSerialPort));
        return;
    }
    target.name = m_computerText;
    target.tcpPort = m_tcpPort;
    target.serialPort = static_cast<quint8>(m_serialPorts->itemData(chosen).toUInt());
    m_actions.run(m_mode, target);
}

} // namespace remote
