#include "RemoteTerminal.h"

#include "CRK40Comm.h"
#include "Prompt.h"
#include "RegisterImage.h"
#include "RemoteStrings.h"
#include "RemoteTrace.h"
#include "Resources.h"
#include "WaitCursor.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressDialog>
#include <QStringList>
#include <QTimer>
#include <QThread>
#include <QWidget>

#include <arpa/inet.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace remote {

namespace {

using Clock = std::chrono::steady_clock;


int wholeSeconds(std::chrono::seconds limit)
{
    return static_cast<int>(std::clamp<std::chrono::seconds::rep>(limit.count(), 0, 24 * 3600));
}

void showSocketError(const CBlockingSocketException& error, QWidget* parent)
{
    char text[200];
    error.GetErrorMessage(text, sizeof text);
    qCWarning(lcRemote) << text;
    ui::prompter().message(parent, QString::fromLatin1(text), ui::Look::Plain);
}

int progressText(Request request)
{
    switch (request) {
    case Request::ReadConfig: return strings::kReadTitle;
    case Request::WriteConfig: return strings::kWriteTitle;
    case Request::Status: return strings::kStatusTitle;
    case Request::ListPorts: break;   // the caller's title
    }
    return strings::kReadTitle;
}

// Runs the exchange, on a thread of its own under a progress box when the
// program has windows.
QByteArray runExchange(const QString& address, quint16 tcpPort, Request request, const QByteArray& text,
                       const Limits& limits, CancelSignal& cancel, QWidget* parent, int boxText)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return exchange(address, tcpPort, request, text, limits, &cancel);

    QByteArray reply;
    std::optional<CBlockingSocketException> failure;
    std::exception_ptr otherFailure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            reply = exchange(address, tcpPort, request, text, limits, &cancel);
        } catch (const CBlockingSocketException& error) {
            failure = error;
        } catch (...) {
            otherFailure = std::current_exception();
        }
        // Runs once the loop below runs; the loop quits only this way.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });

    {
        // The Cancel text of the program's own dialogs (the password dialog's
        // button), so that it follows the chosen language.
        QProgressDialog box(resources::loadString(boxText), resources::dialogText(150, 2), 0, 0,
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
    if (otherFailure)
        std::rethrow_exception(otherFailure);
    if (failure)
        throw *failure;
    return reply;
}

// The common frame of the four operations: runs the exchange, reports a
// failure, returns the result code; handleData runs only on result 0.
// The wait cursor, when given, ends before anything is shown.
template <typename HandleData>
int run(const QString& address, quint16 tcpPort, Request request, const QByteArray& text, const Limits& limits,
        CancelSignal* cancel, QWidget* parent, ui::WaitCursor* cursor, HandleData&& handleData, int boxText = 0)
{
    // A signal of our own only when the caller brought none: each one holds a descriptor.
    std::optional<CancelSignal> own;
    CancelSignal& signal = cancel ? *cancel : own.emplace();
    QByteArray reply;
    try {
        reply = runExchange(address, tcpPort, request, text, limits, signal, parent,
                            boxText != 0 ? boxText : progressText(request));
    } catch (const CBlockingSocketException& error) {
        if (cursor)
            cursor->end();
        // The operator who cancelled knows; anything else is shown.
        if (!signal.cancelled())
            showSocketError(error, parent);
        return -1;
    }
    if (cursor)
        cursor->end();
    const int code = resultCode(reply);
    if (code != 0) {
        qCDebug(lcRemote) << commandWord(request) << "result" << code;
        return code;
    }
    handleData(replyData(reply));
    return 0;
}

} // namespace

QByteArray exchange(const QString& address, quint16 tcpPort, Request request, const QByteArray& text,
                    const Limits& limits, const CancelSignal* cancel)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(tcpPort);
    const std::optional<quint32> parsed = parseIPv4(address);
    if (parsed)
        target.sin_addr.s_addr = *parsed;
    const bool usable = parsed.has_value();

    CBlockingSocket socket;
    socket.setCancelSignal(cancel);
    try {
        socket.Create(SOCK_STREAM);
        // A text that is not a dotted address names no host: the request
        // fails at the connect step, as a connection to nowhere would.
        if (!usable)
            throw CBlockingSocketException(op::kConnect, EADDRNOTAVAIL);
        socket.Connect(target, wholeSeconds(limits.connect));

        // The platform may take a request in more than one piece; the rest
        // is sent until the whole text is out.
        qsizetype sent = 0;
        while (sent < text.size()) {
            const int chunk = static_cast<int>(std::min<qsizetype>(text.size() - sent, 1 << 20));
            const int accepted = socket.Send(text.constData() + sent, chunk, wholeSeconds(limits.send));
            if (accepted <= 0)
                throw CBlockingSocketException(op::kSend);
            sent += accepted;
        }

        // The reply may arrive in several pieces. It is complete when its
        // layout says so, when the gateway closes the connection, or when
        // nothing more came for a while once the header is in: a gateway
        // need not end its data with a full stop.
        const int capacity = request == Request::ListPorts ? kPortListReplyCapacity : kReplyCapacity;
        QByteArray received(capacity, '\0');
        int length = 0;
        const bool bounded = limits.reply.count() > 0;
        const auto deadline = Clock::now() + limits.reply;
        const char* ending = "buffer full";   // for the log
        bool expired = false;
        while (length < capacity) {
            auto wait = std::chrono::milliseconds(-1);
            if (bounded) {
                wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                if (wait.count() <= 0) {
                    ending = "time limit";
                    expired = true;
                    break;
                }
            }
            const bool headerIn = length >= kDataOffset;
            const bool idleWait = headerIn && (wait.count() < 0 || wait > kReplySilence);
            if (idleWait)
                wait = kReplySilence;
            if (!socket.WaitReadable(wait)) {
                ending = idleWait ? "silence" : "time limit";
                expired = !idleWait;
                break;
            }
            const int count = socket.Receive(received.data() + length, capacity - length, 0);
            if (count == 0) {
                ending = "connection closed";
                break;
            }
            length += count;
            const QByteArrayView piece(received.constData(), length);
            const QByteArrayView reply = replyText(piece);
            if (reply.size() < piece.size()) {
                ending = "zero byte";   // nothing after a zero byte is ever examined
                break;
            }
            if (replyComplete(request, reply)) {
                ending = "layout";
                break;
            }
        }
        socket.Close();

        received.truncate(length);
        const QByteArray reply = replyText(received).toByteArray();
        qCDebug(lcRemote) << commandWord(request) << "reply of" << reply.size() << "bytes ended by" << ending;
        // Only a reply without its result code is a failure.
        if (reply.size() < kMinReplyLength) {
            qCWarning(lcRemote) << commandWord(request) << "reply incomplete after" << length << "bytes (" << ending
                                << ")";
            if (expired)
                throw CBlockingSocketException(op::kReceiveTimeout, 0);
            throw CBlockingSocketException(op::kReceive, 0);
        }
        return reply;
    } catch (...) {
        socket.Close();
        throw;
    }
}

int ReadRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort, image::IRegisterImage& image,
                     const Limits& limits, CancelSignal* cancel, std::vector<int>* missing)
{
    ui::WaitCursor wait;
    if (missing)
        missing->clear();
    return run(address, tcpPort, Request::ReadConfig, readConfigRequest(serialPort), limits, cancel, nullptr, &wait,
               [&](QByteArrayView data) {
                   const std::vector<ConfigItem> items = parseConfigData(data);
                   const int stored = storeConfigItems(items, image);
                   qCDebug(lcRemote) << "read stored" << stored << "words";
                   if (missing)
                       *missing = missingConfigWords(items);
               });
}

QString addressList(const std::vector<int>& addresses)
{
    QStringList words;
    for (const int a : addresses)
        words << QString::number(a);
    return words.join(QStringLiteral(", "));
}

int WriteRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort,
                      const image::IRegisterImage& image, const Limits& limits, CancelSignal* cancel)
{
    int refused = 0;
    const std::optional<image::Words> words = image::readAllWords(image, &refused);
    if (!words) {
        qCWarning(lcRemote) << "write not sent: word" << refused << "refused:" << image.whyNot();
        ui::prompter().message(nullptr,
                               formatText(resources::loadString(strings::kNothingWritten),
                                          {CRK40Comm::wordFailureText(false, refused, image.whyNot())}),
                               ui::Look::Stop);
        return kNotSent;
    }
    ui::WaitCursor wait;
    const QByteArray text = writeConfigRequest(serialPort, writeConfigBody(*words));
    return run(address, tcpPort, Request::WriteConfig, text, limits, cancel, nullptr, &wait, [](QByteArrayView) {});
}

int GetRemotePorts(const QString& address, quint16 tcpPort, std::set<quint8>& ports, const Limits& limits,
                   CancelSignal* cancel, int progressTitle)
{
    return run(address, tcpPort, Request::ListPorts, listPortsRequest(), limits, cancel, nullptr, nullptr,
               [&](QByteArrayView data) { ports.merge(parsePortList(data)); }, progressTitle);
}

int GetRemoteStatus(const QString& address, quint16 tcpPort, quint8 serialPort, QWidget* owner,
                    const Limits& limits, CancelSignal* cancel)
{
    ui::WaitCursor wait;
    const QByteArray text = statusRequest(serialPort);
    qCDebug(lcRemote) << "status request" << text;
    return run(address, tcpPort, Request::Status, text, limits, cancel, owner, &wait, [&](QByteArrayView data) {
        const QString message = statusText(parseStatus(data), resources::loadString(strings::kStatusFormat),
                                           resources::loadString(strings::kDayNames));
        ui::prompter().message(owner, message, ui::Look::Information,
                               resources::loadString(strings::kStatusButton));
    });
}

Attempts withRetries(const std::function<int()>& attempt, std::chrono::milliseconds pause,
                     const std::function<bool()>& stop)
{
    Attempts out;
    for (int n = 0; n < kAttempts; ++n) {
        if (n > 0) {
            if (stop && stop())
                break;
            QThread::msleep(static_cast<unsigned long>(std::max<qint64>(pause.count(), 0)));
        }
        out.last = attempt();
        if (n == 0)
            out.first = out.last;
        if (out.last == 0 || out.last == kNotSent)
            break;
        qCDebug(lcRemote) << "attempt" << n + 1 << "failed with" << out.last;
    }
    return out;
}

QString fillMessage(int stringId, const std::vector<FormatArg>& args)
{
    return formatText(resources::loadString(stringId), args);
}

} // namespace remote
