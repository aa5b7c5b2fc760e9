#include "remote/RemoteTerminal.h"

#include "remote/RemoteTrace.h"
#include "platform/resources/Resources.h"

#include <QStringList>
#include <QThread>

#include <arpa/inet.h>

#include <algorithm>
#include <optional>

namespace remote {

namespace {

using Clock = std::chrono::steady_clock;

int wholeSeconds(std::chrono::seconds limit)
{
    return static_cast<int>(std::clamp<std::chrono::seconds::rep>(limit.count(), 0, 24 * 3600));
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

QString addressList(const std::vector<int>& addresses)
{
    QStringList words;
    for (const int a : addresses)
        words << QString::number(a);
    return words.join(QStringLiteral(", "));
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


} // namespace remote
