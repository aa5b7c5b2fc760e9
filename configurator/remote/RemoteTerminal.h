#pragma once

#include "remote/BlockingSocket.h"
#include "remote/RemoteProtocol.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <set>
#include <vector>

// One exchange with a remote gateway: a connection of its own, one request
// text, one reply, the connection closed. The requests and what their
// replies do to the register image are core's RemoteTransfer.
namespace remote {

// Time limits of one exchange, in whole seconds; 0 waits as long as the
// platform lets it. A gateway relays each request to a terminal on a serial
// line before it answers, so the reply gets the longest wait.
struct Limits {
    std::chrono::seconds connect{10};
    std::chrono::seconds send{10};
    std::chrono::seconds reply{20};   // from the end of the send to the complete reply
};

// Limits from whole seconds, as the profile keeps them.
inline Limits limitsInSeconds(int connect, int send, int reply)
{
    return {std::chrono::seconds(connect), std::chrono::seconds(send), std::chrono::seconds(reply)};
}

// A gateway that keeps the connection open after a reply without a full
// stop has finished it when nothing more came for this long.
inline constexpr std::chrono::milliseconds kReplySilence{300};

// One exchange without any user interface: connects to address:tcpPort,
// sends the request text and receives the reply until it is complete: by
// its layout (replyComplete), because the gateway closed the connection,
// because nothing came for kReplySilence once the 32-byte header was in, or
// because the receive buffer of the request is full or a zero byte arrived.
// A reply that got its result code (26 bytes) by the time the reply limit
// expires is taken as it is. Returns the reply as text (up to its first zero
// byte). Throws CBlockingSocketException when a socket call fails, when a
// wait exceeds its limit ("Connect", "Send timeout", "Receive timeout"),
// when the gateway closes the connection before the result code came
// ("Receive" with error number 0) and when cancel is cancelled
// ("Cancelled").
QByteArray exchange(const QString& address, quint16 tcpPort, Request request, const QByteArray& text,
                    const Limits& limits = {}, const CancelSignal* cancel = nullptr);

// The words of a list such as a read's missing words, "25, 26, 39".
QString addressList(const std::vector<int>& addresses);

// The result of a request that was never sent (the image refused a word).
inline constexpr int kNotSent = -3;

// A remote read or write is tried this often, this far apart, by every
// front end (the network dialog and termset-cli).
inline constexpr int kAttempts = 3;
inline constexpr std::chrono::milliseconds kRetryPause{100};

// The results of a request tried more than once.
struct Attempts {
    int first = -1;   // the first attempt's result
    int last = -1;    // the last attempt's result; 0 when one succeeded
    bool succeeded() const { return last == 0; }
};

// Runs attempt up to kAttempts times, pause apart, until it returns 0 or
// kNotSent (no attempt can change that) or stop (when given) says no further
// attempt is wanted.
Attempts withRetries(const std::function<int()>& attempt, std::chrono::milliseconds pause = kRetryPause,
                     const std::function<bool()>& stop = {});

} // namespace remote
