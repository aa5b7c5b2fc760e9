#pragma once

#include "BlockingSocket.h"
#include "RemoteProtocol.h"
#include "RemoteStrings.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <set>
#include <vector>

class QWidget;

namespace image {
class IRegisterImage;
}

// The four requests to a remote gateway. Each opens a connection of its own,
// sends one request text, takes one reply and closes the connection.
//
// Every operation returns
//   0   on success,
//   the gateway's result code (1..9999) when the reply's code is not 0,
//   -1  when the exchange failed: a socket operation failed or timed out,
//       or the gateway ended the reply before it was complete. The failure
//       has then already been shown to the user in a plain message box.
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

// In a program with windows, the operations below run the exchange on a
// thread of their own while a modal progress box (object name
// "remoteProgress", shown after kProgressDelay) keeps the windows painted
// and offers Cancel; Cancel ends the exchange at once and the operation
// returns -1 without a socket message. cancel, when given, is the signal
// the box's Cancel sets, so that a caller can see the request was cancelled
// (and, being cancelled before, ends the request at once). Without windows
// (termset-cli) the exchange runs on the calling thread.
inline constexpr std::chrono::milliseconds kProgressDelay{250};

// Reads the terminal's configuration words and stores each word of the reply
// into the image (nothing is stored unless the result is 0). A gateway may
// answer with part of the words: missing, when given, receives the words
// 10..39 that the reply did not bring (empty when it brought all); such a
// read is no complete read of the terminal (missingConfigWords). The caller
// reloads whatever shows the image. Shows the wait cursor.
int ReadRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort, image::IRegisterImage& image,
                     const Limits& limits = {}, CancelSignal* cancel = nullptr, std::vector<int>* missing = nullptr);

// The words of a list such as missing above, "25, 26, 39".
QString addressList(const std::vector<int>& addresses);

// Sends the thirty words 10..39 of the image. Takes them all first: a word
// the image refuses is shown in a stop box and kNotSent returned, nothing
// being sent. Shows the wait cursor.
inline constexpr int kNotSent = -3;
int WriteRemoteConfig(const QString& address, quint16 tcpPort, quint8 serialPort,
                      const image::IRegisterImage& image, const Limits& limits = {},
                    CancelSignal* cancel = nullptr);

// Adds the gateway's serial port numbers to ports (ascending, distinct).
// Leaves the cursor to its caller. progressTitle: the string the progress
// box shows, the title of the action the list is asked for.
int GetRemotePorts(const QString& address, quint16 tcpPort, std::set<quint8>& ports, const Limits& limits = {},
                   CancelSignal* cancel = nullptr, int progressTitle = strings::kReadTitle);

// Fetches the terminal's status and, on success, shows it in an information
// box owned by owner (title: string 142, text: string 159). Shows the wait
// cursor.
int GetRemoteStatus(const QString& address, quint16 tcpPort, quint8 serialPort, QWidget* owner,
                    const Limits& limits = {},
                    CancelSignal* cancel = nullptr);

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

// A text of the string table with its %d/%s fields filled in.
QString fillMessage(int stringId, const std::vector<FormatArg>& args);

} // namespace remote
