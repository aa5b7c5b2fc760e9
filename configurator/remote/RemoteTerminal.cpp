#include "RemoteTerminal.h"

#include "Prompt.h"
#include "RegisterImage.h"
#include "RemoteStrings.h"
#include "RemoteTrace.h"
#include "Resources.h"
#include "WaitCursor.h"

#include <QGuiApplication>
#include <QWidget>

#include <arpa/inet.h>

#include <algorithm>

namespace remote {

namespace {

using Clock = std::chrono::steady_clock;

// Whole seconds left until the deadline, rounded up; 0 when it has passed.
int secondsLeft(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

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

// The common frame of the four operations: runs the exchange, reports a
// failure, returns the result code; handleData runs only on result 0.
// The wait cursor, when given, ends before anything is shown.
template <typename HandleData>
int run(const QString& address, quint16 tcpPort, Request request, const QByteArray& text, const Limits& limits,
        QWidget* parent, ui::WaitCursor* cursor, HandleData&& handleData)
{
    QByteArray reply;
    try {
        reply = exchange(address, tcpPort, request, text, limits);
    } catch (const CBlockingSocketException& error) {
        if (cursor)
            cursor->end();
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
                    const Limits& limits)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(tcpPort);
    const QByteArray dotted = address.toLatin1();
    const bool usable = !address.isEmpty() && ::inet_aton(dotted.constData(), &target.sin_addr) != 0;

    CBlockingSocket socket;
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

        // The reply may arrive in several pieces: take pieces until it is
        // complete by its layout, the buffer is full, or the gateway closes.
        const int capacity = request == Request::ListPorts ? kPortListReplyCapacity : kReplyCapacity;
        QByteArray received(capacity, '\0');
        int length = 0;
        const bool bounded = limits.reply.count() > 0;
        const auto deadline = Clock::now() + limits.reply;
        bool closed = false;
        while (length < capacity) {
            const int wait = bounded ? secondsLeft(deadline) : 0;
            if (bounded && wait == 0)
                throw CBlockingSocketException(op::kReceiveTimeout, 0);
            const int count = socket.Receive(received.data() + length, capacity - length, wait);
            if (count == 0) {
                closed = true;
                break;
            }
            length += count;
            const QByteArrayView piece(received.constData(), length);
            const QByteArrayView reply = replyText(piece);
            if (reply.size() < piece.size() || replyComplete(request, reply))
                break;   // nothing after a zero byte is ever examined
        }
        socket.Close();

        received.truncate(length);
        const QByteArray reply = replyText(received).toByteArray();
        if (length < capacity && !replyComplete(request, reply)) {
            qCWarning(lcRemote) << commandWord(request) << "reply incomplete after" << length << "bytes"
                                << (closed ? "(connection closed)" : "");
            throw CBlockingSocketException(op::kReceive, 0);
        }
        return reply;
    } catch (...) {
        socket.Close();
        throw;
    }
}

int ReadRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort, image::IRegisterImage& image,
                     const Limits& limits)
{
    ui::WaitCursor wait;
    return run(address, tcpPort, Request::ReadConfig, readConfigRequest(serialPort), limits, nullptr, &wait,
               [&](QByteArrayView data) {
                   const int stored = storeConfigItems(parseConfigData(data), image);
                   qCDebug(lcRemote) << "read stored" << stored << "words";
               });
}

int WriteRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort,
                      const image::IRegisterImage& image, const Limits& limits)
{
    ui::WaitCursor wait;
    const QByteArray text = writeConfigRequest(serialPort, writeConfigBody(image));
    return run(address, tcpPort, Request::WriteConfig, text, limits, nullptr, &wait, [](QByteArrayView) {});
}

int GetRemotePorts(const QString& address, quint16 tcpPort, std::set<quint8>& ports, const Limits& limits)
{
    return run(address, tcpPort, Request::ListPorts, listPortsRequest(), limits, nullptr, nullptr,
               [&](QByteArrayView data) { ports.merge(parsePortList(data)); });
}

int GetRemoteStatus(const QString& address, quint16 tcpPort, quint8 serialPort, QWidget* owner,
                    const Limits& limits)
{
    ui::WaitCursor wait;
    const QByteArray text = statusRequest(serialPort);
    qCDebug(lcRemote) << "status request" << text;
    return run(address, tcpPort, Request::Status, text, limits, owner, &wait, [&](QByteArrayView data) {
        const QString message = statusText(parseStatus(data), resources::loadString(strings::kStatusFormat),
                                           resources::loadString(strings::kDayNames));
        ui::prompter().message(owner, message, ui::Look::Information,
                               resources::loadString(strings::kStatusButton));
    });
}

} // namespace remote
