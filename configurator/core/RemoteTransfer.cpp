#include "core/RemoteTransfer.h"

#include "platform/resources/Resources.h"
#include "remote/RemoteProtocol.h"
#include "core/StringIds.h"
#include "remote/RemoteTrace.h"

#include <optional>

namespace remotexfer {

namespace {

int progressTextOf(remote::Request request)
{
    switch (request) {
    case remote::Request::WriteConfig: return strid::kWriteTitle;
    case remote::Request::Status: return strid::kStatusTitle;
    case remote::Request::ReadConfig:
    case remote::Request::ListPorts: break;
    }
    return strid::kReadTitle;
}

} // namespace

static_assert(remote::kFirstConfigWord == image::kFirstWord && remote::kLastConfigWord == image::kLastWord);

RemoteTransfer::RemoteTransfer(const remote::Limits& limits, ExchangeRunner runner)
    : m_limits(limits), m_runner(std::move(runner))
{
}

// The common frame of the four requests: runs the exchange, records a
// failure, keeps the result code; handleData runs only on result 0.
template <typename HandleData>
RemoteOutcome RemoteTransfer::run(const QString& address, quint16 tcpPort, remote::Request request,
                            const QByteArray& text, remote::CancelSignal* cancel, int progressText,
                            HandleData&& handleData)
{
    // A signal of our own only when the caller brought none: each one holds a descriptor.
    std::optional<remote::CancelSignal> own;
    remote::CancelSignal& signal = cancel ? *cancel : own.emplace();
    const Exchange exchange = [&] { return remote::exchange(address, tcpPort, request, text, m_limits, &signal); };
    RemoteOutcome out;
    QByteArray reply;
    try {
        reply = m_runner ? m_runner(exchange, signal, progressText != 0 ? progressText : progressTextOf(request))
                         : exchange();
    } catch (const remote::CBlockingSocketException& error) {
        out.result = RemoteOutcome::kFailed;
        // The operator who cancelled knows; anything else is told.
        out.cancelled = signal.cancelled();
        if (!out.cancelled) {
            char words[200];
            error.GetErrorMessage(words, sizeof words);
            out.socketError = QString::fromLatin1(words);
            qCWarning(lcRemote) << words;
        }
        return out;
    }
    out.result = remote::resultCode(reply);
    if (out.result != 0) {
        qCDebug(lcRemote) << remote::commandWord(request) << "result" << out.result;
        return out;
    }
    handleData(out, remote::replyData(reply));
    return out;
}

RemoteOutcome RemoteTransfer::read(const Gateway& gateway, image::IRegisterImage& image, remote::CancelSignal* cancel)
{
    return run(gateway.address, gateway.tcpPort, remote::Request::ReadConfig,
               remote::readConfigRequest(gateway.serialPort), cancel, 0, [&](RemoteOutcome& out, QByteArrayView data) {
                   const std::vector<remote::ConfigItem> items = remote::parseConfigData(data);
                   const int stored = storeConfigItems(items, image);
                   qCDebug(lcRemote) << "read stored" << stored << "words";
                   out.missing = remote::missingConfigWords(items);
               });
}

RemoteOutcome RemoteTransfer::write(const Gateway& gateway, const image::IRegisterImage& image,
                              remote::CancelSignal* cancel)
{
    int refused = 0;
    const std::optional<image::Words> words = image::readAllWords(image, &refused);
    if (!words) {
        qCWarning(lcRemote) << "write not sent: word" << refused << "refused:" << image.whyNot();
        RemoteOutcome out;
        out.result = remote::kNotSent;
        out.refusedAddress = refused;
        out.reason = image.whyNot();
        return out;
    }
    remote::ConfigValues values;
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = image::scanWord((*words)[i]).value_or(0);
    const QByteArray text = remote::writeConfigRequest(gateway.serialPort, remote::writeConfigBody(values));
    return run(gateway.address, gateway.tcpPort, remote::Request::WriteConfig, text, cancel, 0,
               [](RemoteOutcome&, QByteArrayView) {});
}

RemoteOutcome RemoteTransfer::status(const Gateway& gateway, remote::CancelSignal* cancel)
{
    const QByteArray text = remote::statusRequest(gateway.serialPort);
    qCDebug(lcRemote) << "status request" << text;
    return run(gateway.address, gateway.tcpPort, remote::Request::Status, text, cancel, 0,
               [](RemoteOutcome& out, QByteArrayView data) {
                   out.statusText = remote::statusText(remote::parseStatus(data),
                                                       resources::loadString(strid::kStatusFormat),
                                                       resources::loadString(strid::kDayNames));
               });
}

RemoteOutcome RemoteTransfer::ports(const QString& address, quint16 tcpPort, int progressText, remote::CancelSignal* cancel)
{
    return run(address, tcpPort, remote::Request::ListPorts, remote::listPortsRequest(), cancel, progressText,
               [](RemoteOutcome& out, QByteArrayView data) { out.ports = remote::parsePortList(data); });
}

} // namespace remotexfer
