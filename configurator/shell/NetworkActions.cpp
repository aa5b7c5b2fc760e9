#include "shell/NetworkActions.h"
#include "shell/TransferMessages.h"

#include "core/Profile.h"
#include "platform/ui/Prompt.h"
#include "core/StringIds.h"
#include "remote/RemoteTrace.h"
#include "platform/resources/Resources.h"
#include "shell/SheetServices.h"

namespace remote {

namespace {

QString str(int id) { return resources::loadString(id); }

} // namespace

QString selectionText(const QString& name, const QString& addressText, int serialPort)
{
    return QStringLiteral("%1 (%2), COM%3").arg(name, addressText).arg(serialPort);
}

NetworkActions::NetworkActions(ISheetServices& sheet, Selection& selection, SelectionDisplay display,
                               QWidget* owner)
    : m_sheet(sheet), m_selection(selection), m_display(std::move(display)), m_owner(owner)
{
}

QWidget* NetworkActions::owner() const { return m_owner ? m_owner.data() : m_sheet.sheetWindow(); }

int NetworkActions::run(NetworkMode mode, const RemoteTarget& target)
{
    remember(target);
    switch (mode) {
    case NetworkMode::Read: return read(target);
    case NetworkMode::Write: return write(target);
    case NetworkMode::Status: return status(target);
    }
    return -1;
}

void NetworkActions::remember(const RemoteTarget& target)
{
    // The request goes ahead; only the port offered next time is lost.
    if (Profile profile; !profile.setIpPort(target.tcpPort))
        ui::prompter().message(owner(), profile.failureText(), ui::Look::Stop);
    m_selection.name = target.name;
    m_selection.address = target.address;
    m_selection.port = target.tcpPort;
    m_selection.serialPort = target.serialPort;

    const QString text = selectionText(target.name, target.addressText, target.serialPort);
    if (m_display)
        m_display(text);
    m_sheet.setRemoteTerminalText(text);
}

void NetworkActions::startAttempt()
{
    m_sheet.setLastReadText(str(strid::kNotSelected));
    m_sheet.lastTerminal().valid = false;
    m_sheet.setApplyToLastEnabled(false);
}

void NetworkActions::recordSuccess(const RemoteTarget& target)
{
    m_sheet.setLastReadText(selectionText(target.name, target.addressText, target.serialPort));
    if (m_sheet.isUnlocked())
        m_sheet.setApplyToLastEnabled(true);
    LastTerminal& record = m_sheet.lastTerminal();
    record.valid = true;
    record.remote = true;
    record.serialPort = target.serialPort;
    record.address = target.addressText;
    record.tcpPort = target.tcpPort;
}

int NetworkActions::read(const RemoteTarget& target)
{
    m_cancel.reset();
    std::vector<int> missing;
    const int result = withRetries([&] {
        startAttempt();
        return ReadRemoteConfig(target.addressText, target.tcpPort, target.serialPort, m_sheet.registerImage(),
                                m_limits, &m_cancel, &missing);
    }, m_retryPause, [this] { return m_cancel.cancelled(); }).last;
    if (result != 0) {
        ui::prompter().message(owner(), resources::formatString(strid::kReadError, {result}), ui::Look::Stop);
        return result;
    }
    if (!missing.empty()) {
        // What came is kept and shown, but the terminal was not read.
        m_sheet.RefreshActivePage();
        ui::prompter().message(owner(), resources::formatString(strid::kReadIncomplete, {addressList(missing)}),
                               ui::Look::Stop);
        return kIncompleteRead;
    }
    recordSuccess(target);
    m_sheet.RefreshActivePage();
    ui::prompter().message(owner(), str(strid::kReadDone), ui::Look::Information);
    return 0;
}

int NetworkActions::write(const RemoteTarget& target)
{
    // A failed write reports what went wrong the first time; the later
    // attempts' results are in the log.
    m_cancel.reset();
    const Attempts attempts = withRetries([&] {
        startAttempt();
        return WriteRemoteConfig(target.addressText, target.tcpPort, target.serialPort, m_sheet.registerImage(),
                                 m_limits, &m_cancel);
    }, m_retryPause, [this] { return m_cancel.cancelled(); });
    if (attempts.first == kNotSent)
        return kNotSent;   // nothing was sent; the write said why
    if (!attempts.succeeded()) {
        const int result = attempts.first;
        ui::prompter().message(owner(), resources::formatString(strid::kWriteError, {result}), ui::Look::Stop);
        return result;
    }
    recordSuccess(target);
    m_sheet.AppendTransferLog(target.serialPort, target.addressText, target.tcpPort);
    ui::prompter().message(owner(), str(strid::kWriteDone), ui::Look::Information);
    return 0;
}

int NetworkActions::status(const RemoteTarget& target)
{
    m_cancel.reset();
    const int result =
        GetRemoteStatus(target.addressText, target.tcpPort, target.serialPort, owner(), m_limits, &m_cancel);
    if (result != 0)
        ui::prompter().message(owner(), resources::formatString(strid::kStatusError, {result}));
    return result;
}

} // namespace remote
