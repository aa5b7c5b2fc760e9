#pragma once

// Termset's presentation of the windowless transfers: the remote requests
// under a progress box with the wait cursor, and every outcome of a serial
// transfer, a remote request or Apply To Last turned into the message boxes
// the user sees.

#include "core/ApplyToLast.h"
#include "core/RemoteTransfer.h"
#include "core/SerialTransfer.h"
#include "core/StringIds.h"

#include <chrono>
#include <set>
#include <vector>

class QWidget;

namespace transfermsg {

// A serial status query: the terminal's status (information), or "ERROR"
// with why the port failed or the terminal gave no status.
void showSerialStatus(const serialxfer::StatusOutcome& out, QWidget* owner);
// A serial read or write: why the port failed (stop; nothing when the port
// dialog has said it), the failed word or the word the control would not
// give (stop), or a write done whose log line failed (stop). Nothing for a
// cancel or a plain success.
void showSerialOutcome(const serialxfer::Outcome& out, const QString& logPath, QWidget* owner);

} // namespace transfermsg

namespace remote {

// The exchange of a request on a thread of its own while a modal progress
// box (object name "remoteProgress", shown after kProgressDelay) keeps the
// windows painted and offers Cancel, which ends the exchange at once.
// Without windows or off the GUI thread the exchange runs where it is.
inline constexpr std::chrono::milliseconds kProgressDelay{250};
remotexfer::ExchangeRunner progressRunner(QWidget* parent);

// The four requests as the network dialog makes them. Each returns the
// outcome's result: 0, the gateway's code, -1 when the exchange failed (the
// socket's words already shown in a plain box, unless it was cancelled) or
// kNotSent (the refused word shown in a stop box). A read stores its words
// and names the ones the reply did not bring (missing); the status is shown
// in an information box over owner.
int ReadRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort, image::IRegisterImage& image,
                     const Limits& limits = {}, CancelSignal* cancel = nullptr, std::vector<int>* missing = nullptr);
int WriteRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort,
                      const image::IRegisterImage& image, const Limits& limits = {}, CancelSignal* cancel = nullptr);
int GetRemotePorts(const QString& address, quint16 tcpPort, std::set<quint8>& ports, const Limits& limits = {},
                   CancelSignal* cancel = nullptr, int progressTitle = strid::kReadTitle);
int GetRemoteStatus(const QString& address, quint16 tcpPort, quint8 serialPort, QWidget* owner,
                    const Limits& limits = {}, CancelSignal* cancel = nullptr);

// The boxes of a request's failure that the request itself tells: the
// socket's words (plain) or the refused word (stop). Nothing for a result
// the caller reports.
void showRequestFailure(const remotexfer::RemoteOutcome& out, QWidget* owner);

// The boxes of Apply To Last to a remote terminal: "No terminal selected.",
// "Writing error: %d" or "Configuration written successfully." (with a
// failed log line reported first). Returns the write's result (-1 for no
// terminal).
int showRemoteApplyOutcome(const lastterminal::ApplyOutcome& out, const QString& logPath, QWidget* owner);

} // namespace remote
