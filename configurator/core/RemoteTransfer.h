#pragma once

// Moving the register image between the control and a terminal behind a
// remote gateway, without any window: the four requests, what their replies
// do to the image, and the outcome. Termset's windows and termset-cli
// present the outcome; a window that wants to show progress while the
// exchange runs hands in a runner.

#include "core/RegisterImage.h"
#include "remote/RemoteProtocol.h"
#include "remote/RemoteTerminal.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <set>
#include <vector>

namespace remotexfer {

// A terminal behind a gateway.
struct Gateway {
    QString address;
    quint16 tcpPort = 0;
    quint8 serialPort = 0;
};

struct RemoteOutcome {
    // 0 on success; the gateway's result code (1..9999); kFailed when the
    // exchange failed (a socket operation failed or timed out, the gateway
    // ended the reply early, or the request was cancelled); remote::kNotSent
    // when the image refused a word and nothing was sent.
    static constexpr int kFailed = -1;
    int result = 0;
    bool cancelled = false;    // kFailed because the request was cancelled
    QString socketError;       // kFailed, not cancelled: the socket's words
    int refusedAddress = 0;    // kNotSent: the word the image refused
    QString reason;            // kNotSent: why
    std::vector<int> missing;  // read: the words 10..39 the reply did not bring
    std::set<quint8> ports;    // ports: the gateway's serial ports
    QString statusText;        // status: the terminal's status in words
    bool ok() const { return result == 0; }
};

// Runs one exchange (the function given) and returns its reply; cancel is
// the signal that ends it at once, progressText the string id of what is
// being done. The default runs it on the calling thread.
using Exchange = std::function<QByteArray()>;
using ExchangeRunner =
    std::function<QByteArray(const Exchange& exchange, remote::CancelSignal& cancel, int progressText)>;

// Stores the items into the image as four upper-case hexadecimal digits.
// Returns the number of words stored.
inline int storeConfigItems(const std::vector<remote::ConfigItem>& items, image::IRegisterImage& image)
{
    int stored = 0;
    for (const remote::ConfigItem& item : items) {
        image.setWord(item.address, image::formatWord(item.value));
        ++stored;
    }
    return stored;
}

class RemoteTransfer {
public:
    explicit RemoteTransfer(const remote::Limits& limits = {}, ExchangeRunner runner = {});

    // Reads the configuration words; stores them in the image only when the
    // result is 0. A reply that leaves words out says which (missing).
    RemoteOutcome read(const Gateway& gateway, image::IRegisterImage& image, remote::CancelSignal* cancel = nullptr);
    // Sends words 10..39, taking them all from the image first.
    RemoteOutcome write(const Gateway& gateway, const image::IRegisterImage& image,
                  remote::CancelSignal* cancel = nullptr);
    // The terminal's status.
    RemoteOutcome status(const Gateway& gateway, remote::CancelSignal* cancel = nullptr);
    // The gateway's serial ports; progressText names what they are asked for.
    RemoteOutcome ports(const QString& address, quint16 tcpPort, int progressText,
                  remote::CancelSignal* cancel = nullptr);

private:
    template <typename HandleData>
    RemoteOutcome run(const QString& address, quint16 tcpPort, remote::Request request, const QByteArray& text,
                remote::CancelSignal* cancel, int progressText, HandleData&& handleData);

    remote::Limits m_limits;
    ExchangeRunner m_runner;
};

} // namespace remotexfer
