#pragma once

// What the network dialog does once the operator has named a remote
// terminal: remember the choice, run the read, write or status request with
// its retries, and keep the sheet's "Last read:" value, "Apply To Last"
// enabling, last-terminal record and transfer log up to date. No widget of
// its own, so that other front ends (a command-line tool) can run the same
// actions.

#include "pages/CRK40TKPropPage.h"
#include "remote/RemoteTerminal.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>

class ISheetServices;
class QWidget;

namespace remote {

// The dialog's modes, numbered as the menu commands hand them over.
enum class NetworkMode : int { Read = 0, Write = 1, Status = 2 };

// A remote terminal as the dialog's controls name it.
struct RemoteTarget {
    QString name;          // the computer text (shown in the selection text)
    QString addressText;   // the dotted address the requests go to
    quint32 address = 0;   // addressText in network byte order; 0 when it is no address
    quint16 tcpPort = kDefaultGatewayPort;
    quint8 serialPort = 0; // the gateway's serial port
};

// "name (address), COMn": the text that names a remote terminal on the
// Reader 1 page, the sheet and the "Last read:" value.
QString selectionText(const QString& name, const QString& addressText, int serialPort);

class NetworkActions {
public:
    using Selection = CRK40TKPropPage::RemoteSelection;
    // Shows the selection text where the remote selection is kept (the
    // Reader 1 page's remote-terminal label).
    using SelectionDisplay = std::function<void(const QString& text)>;


    // Messages go to owner (the dialog); without one, to the sheet's window.
    NetworkActions(ISheetServices& sheet, Selection& selection, SelectionDisplay display = {},
                   QWidget* owner = nullptr);

    // Remembers the target, then runs the mode's action. Returns the result
    // of the action: 0, the gateway's code, or -1 (socket failure, already
    // shown). Every outcome has been reported to the user.
    int run(NetworkMode mode, const RemoteTarget& target);

    // Stores the TCP port in the profile ("IPPort"), makes the target the
    // remote selection and shows the selection text on the page and on the
    // sheet's remote-terminal value.
    void remember(const RemoteTarget& target);

    // Up to three reads, 100 ms apart. Success: the image holds the words
    // read, the showing page reloads, the record names the target, "Last
    // read:" shows it and, when unlocked, "Apply To Last" is enabled; then
    // "Configuration read successfully.". Failure: "Reading error: %d" with
    // the last result. Returns the last attempt's result. A reply without
    // some of the words 10..39 stores what it brought and reloads the page,
    // but names the words that did not come, leaves "Last read:", the record
    // and "Apply To Last" as the attempt left them (nothing read) and
    // returns kIncompleteRead.
    int read(const RemoteTarget& target);
    static constexpr int kIncompleteRead = -2;
    // Up to three writes, 100 ms apart, with the same record keeping as a
    // read and a transfer log line on success ("Configuration written
    // successfully."). The pages are not reloaded. Failure: "Writing error:
    // %d" with the first attempt's result, which is returned.
    int write(const RemoteTarget& target);
    // One status request; the status box is shown by the request. Failure:
    // "Status error: %d". Labels, record and "Apply To Last" stay as they are.
    int status(const RemoteTarget& target);

    // Time limits of each request (tests shorten them).
    void setLimits(const Limits& limits) { m_limits = limits; }
    void setRetryPause(std::chrono::milliseconds pause) { m_retryPause = pause; }

private:
    // Before every read or write attempt: nothing counts as read any more.
    void startAttempt();
    // After a successful read or write.
    void recordSuccess(const RemoteTarget& target);
    QWidget* owner() const;

    // Set by the progress box's Cancel; no further attempt follows.
    CancelSignal m_cancel;
    ISheetServices& m_sheet;
    Selection& m_selection;
    SelectionDisplay m_display;
    QPointer<QWidget> m_owner;
    Limits m_limits;
    std::chrono::milliseconds m_retryPause = kRetryPause;
};

} // namespace remote
