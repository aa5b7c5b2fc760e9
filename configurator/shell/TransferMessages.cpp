#include "shell/TransferMessages.h"

#include "core/CRK40Comm.h"
#include "platform/resources/TextFill.h"
#include "platform/resources/Resources.h"
#include "platform/ui/Prompt.h"
#include "platform/ui/WaitCursor.h"
#include "remote/RemoteTrace.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <optional>
#include <thread>

namespace {

QString str(int id) { return resources::loadString(id); }

// A message followed by why the port failed, when that is known.
QString withReason(const QString& text, const QString& reason)
{
    return reason.isEmpty() ? text : text + QLatin1Char('\n') + reason;
}

void showLogFailure(const QString& logPath, const QString& error, QWidget* owner)
{
    qCWarning(lcRemote) << "transfer log" << logPath << ":" << error;
    ui::prompter().message(owner, resources::formatString(strid::kLogFailed, {QDir::toNativeSeparators(logPath), error}),
                           ui::Look::Stop);
}

QString nothingWritten(int address, const QString& reason)
{
    return resources::formatString(strid::kNothingWritten, {CRK40Comm::wordFailureText(false, address, reason)});
}

} // namespace

namespace transfermsg {

void showSerialStatus(const serialxfer::StatusOutcome& out, QWidget* owner)
{
    switch (out.status) {
    case serialxfer::StatusOutcome::PortFailed:
        ui::prompter().message(owner, withReason(str(strid::kError), out.reason));
        break;
    case serialxfer::StatusOutcome::Busy:
        // Never an empty status shown as if it were one: the reason in words.
        ui::prompter().message(owner, withReason(str(strid::kError), serialxfer::describeStatusFailure(out)));
        break;
    case serialxfer::StatusOutcome::Ok:
        ui::prompter().message(owner, resources::formatString(strid::kSerialStatus, {out.firmware, out.rtc, out.inBuffer}),
                               ui::Look::Information);
        break;
    }
}

void showSerialOutcome(const serialxfer::Outcome& out, const QString& logPath, QWidget* owner)
{
    switch (out.status) {
    case serialxfer::Outcome::PortFailed:
        // The port dialog greys what it can see is unusable; what only the
        // opening found out (taken meanwhile, refused settings) is told here.
        if (!out.reason.isEmpty())
            ui::prompter().message(owner, out.reason, ui::Look::Stop);
        break;
    case serialxfer::Outcome::WordFailed:
        ui::prompter().message(owner,
                               out.imageRefused ? nothingWritten(out.failedAddress, out.reason)
                                                : withReason(str(strid::kTransmissionError), out.reason),
                               ui::Look::Stop);
        break;
    case serialxfer::Outcome::Cancelled:
        break;
    case serialxfer::Outcome::Done:
        if (!out.logged && !out.logError.isEmpty())
            showLogFailure(logPath, out.logError, owner);
        break;
    }
}

} // namespace transfermsg

namespace remote {

namespace {

QByteArray runUnderProgress(const remotexfer::Exchange& exchange, CancelSignal& cancel, QWidget* parent, int boxText)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return exchange();

    QByteArray reply;
    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            reply = exchange();
        } catch (...) {
            failure = std::current_exception();
        }
        // Runs once the loop below runs; the loop quits only this way.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    {
        // The Cancel text of the program's own dialogs (the password dialog's
        // button), so that it follows the chosen language.
        QProgressDialog box(str(boxText), resources::dialogText(150, 2), 0, 0,
                            parent ? parent : QApplication::activeWindow());
        box.setObjectName(QStringLiteral("remoteProgress"));
        box.setWindowTitle(QCoreApplication::applicationName());
        box.setWindowModality(Qt::ApplicationModal);
        box.setAutoClose(false);
        box.setAutoReset(false);
        box.setMinimumDuration(static_cast<int>(kProgressDelay.count()));
        // Cancel closes the connection: every wait of the socket ends at once.
        QObject::connect(&box, &QProgressDialog::canceled, &box, [&cancel] {
            qCDebug(lcRemote) << "request cancelled";
            cancel.cancel();
        });
        QTimer::singleShot(kProgressDelay, &box, [&box] { box.show(); });
        loop.exec();
    }
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return reply;
}

// A request under the wait cursor (when asked) and the progress box; the
// cursor ends before any box appears.
template <typename Request>
remotexfer::RemoteOutcome presented(const Limits& limits, QWidget* owner, bool waitCursor, Request&& request)
{
    std::optional<ui::WaitCursor> wait;
    if (waitCursor)
        wait.emplace();
    remotexfer::RemoteTransfer transfer(limits, progressRunner(nullptr));
    const remotexfer::RemoteOutcome out = request(transfer);
    if (wait)
        wait->end();
    showRequestFailure(out, owner);
    return out;
}

} // namespace

remotexfer::ExchangeRunner progressRunner(QWidget* parent)
{
    return [parent](const remotexfer::Exchange& exchange, CancelSignal& cancel, int progressText) {
        return runUnderProgress(exchange, cancel, parent, progressText);
    };
}

void showRequestFailure(const remotexfer::RemoteOutcome& out, QWidget* owner)
{
    if (out.result == remotexfer::RemoteOutcome::kFailed && !out.cancelled && !out.socketError.isEmpty())
        ui::prompter().message(owner, out.socketError, ui::Look::Plain);
    else if (out.result == kNotSent)
        ui::prompter().message(owner, nothingWritten(out.refusedAddress, out.reason), ui::Look::Stop);
}

int ReadRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort, image::IRegisterImage& image,
                     const Limits& limits, CancelSignal* cancel, std::vector<int>* missing)
{
    const remotexfer::RemoteOutcome out = presented(limits, nullptr, true, [&](remotexfer::RemoteTransfer& t) {
        return t.read({address, tcpPort, serialPort}, image, cancel);
    });
    if (missing)
        *missing = out.missing;
    return out.result;
}

int WriteRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort,
                      const image::IRegisterImage& image, const Limits& limits, CancelSignal* cancel)
{
    return presented(limits, nullptr, true, [&](remotexfer::RemoteTransfer& t) {
               return t.write({address, tcpPort, serialPort}, image, cancel);
           }).result;
}

int GetRemotePorts(const QString& address, quint16 tcpPort, std::set<quint8>& ports, const Limits& limits,
                   CancelSignal* cancel, int progressTitle)
{
    const remotexfer::RemoteOutcome out = presented(limits, nullptr, false, [&](remotexfer::RemoteTransfer& t) {
        return t.ports(address, tcpPort, progressTitle, cancel);
    });
    ports.insert(out.ports.begin(), out.ports.end());
    return out.result;
}

int GetRemoteStatus(const QString& address, quint16 tcpPort, quint8 serialPort, QWidget* owner,
                    const Limits& limits, CancelSignal* cancel)
{
    const remotexfer::RemoteOutcome out = presented(limits, owner, true, [&](remotexfer::RemoteTransfer& t) {
        return t.status({address, tcpPort, serialPort}, cancel);
    });
    if (out.ok())
        ui::prompter().message(owner, out.statusText, ui::Look::Information, str(strid::kStatusButton));
    return out.result;
}

int showRemoteApplyOutcome(const lastterminal::ApplyOutcome& out, const QString& logPath, QWidget* owner)
{
    if (out.kind == lastterminal::ApplyOutcome::NoTerminal) {
        ui::prompter().message(owner, str(strid::kNoTerminal));
        return -1;
    }
    const int result = out.remote.result;
    showRequestFailure(out.remote, nullptr);
    if (result == kNotSent)
        return result;   // nothing was sent; the box above said why
    if (result != 0) {
        ui::prompter().message(owner, resources::formatString(strid::kWriteError, {result}));
        return result;
    }
    if (!out.logged && !out.logError.isEmpty())
        showLogFailure(logPath, out.logError, owner);
    ui::prompter().message(owner, str(strid::kWriteDone), ui::Look::Information);
    return 0;
}

} // namespace remote
