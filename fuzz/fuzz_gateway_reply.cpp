// Gateway replies to all four requests, taken as the exchange takes them:
// at most the receive buffer's worth, read as text up to a zero byte, the
// result code from bytes 22..25 and the data from byte 32, then handled as
// each request handles it. A read reply may change only the entries its
// items name (0..255), each to four upper-case hexadecimal digits.
//
// Input: the bytes the gateway sends.

#include "FuzzSupport.h"
#include "core/RemoteTransfer.h"
#include "remote/RemoteProtocol.h"

using namespace remote;

namespace {

QByteArrayView received(const std::uint8_t* data, std::size_t size, int capacity)
{
    const auto n = static_cast<qsizetype>(std::min<std::size_t>(data ? size : 0, static_cast<std::size_t>(capacity)));
    return QByteArrayView(reinterpret_cast<const char*>(data), n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (const Request request : {Request::ReadConfig, Request::WriteConfig, Request::ListPorts, Request::Status}) {
        const int capacity = request == Request::ListPorts ? kPortListReplyCapacity : kReplyCapacity;
        const QByteArrayView reply = replyText(received(data, size, capacity));
        FUZZ_CHECK(!reply.contains('\0'));
        (void)replyComplete(request, reply);
        const int code = resultCode(reply);
        FUZZ_CHECK(code >= 0 && code <= 9999);
        if (code != 0)
            continue;
        const QByteArrayView payload = replyData(reply);
        FUZZ_CHECK(payload.size() == std::max<qsizetype>(0, reply.size() - kDataOffset) || reply.size() == kDataOffset);

        switch (request) {
        case Request::ReadConfig: {
            const auto items = parseConfigData(payload);
            FUZZ_CHECK(items.size() <= static_cast<std::size_t>(payload.size() / kConfigItemLength));
            image::MemoryImage image;
            fuzzsupport::mark(image);
            const int stored = remotexfer::storeConfigItems(items, image);
            FUZZ_CHECK(image.outOfRange() == 0);
            FUZZ_CHECK(stored == static_cast<int>(items.size()));
            for (int a = 0; a < 256; ++a) {
                const bool named = std::any_of(items.begin(), items.end(), [a](const ConfigItem& i) { return i.address == a; });
                FUZZ_CHECK(fuzzsupport::changed(image, a) == named);
                if (named)
                    FUZZ_CHECK(fuzzsupport::isUpperHexWord(image.word(a)));
            }
            // The last item naming an address wins.
            for (auto it = items.rbegin(); it != items.rend(); ++it) {
                const bool later = std::any_of(items.rbegin(), it, [&](const ConfigItem& i) { return i.address == it->address; });
                if (!later)
                    FUZZ_CHECK(image.word(it->address) == image::formatWord(it->value));
            }
            break;
        }
        case Request::WriteConfig:
            break;   // only the result code counts
        case Request::ListPorts: {
            const auto ports = parsePortList(payload);
            FUZZ_CHECK(ports.size() <= static_cast<std::size_t>(payload.size()));
            break;
        }
        case Request::Status: {
            const RemoteStatus status = parseStatus(payload);
            FUZZ_CHECK(status.time.size() <= 5 && status.date.size() <= 8 && status.version.size() <= 5);
            const QString text = statusText(status,
                                            QStringLiteral("Time:\t\t%s\nDate:\t\t%s\nDay of week:\t%s\nBuffered:\t\t%d\n"
                                                           "Version:\t\t%s\nDIP switch:\t%X\n"),
                                            QStringLiteral("Monday\nTuesday\nWednesday\nThursday\nFriday\nSaturday\nSunday"));
            FUZZ_CHECK(text.startsWith(QStringLiteral("Time:\t\t") + status.time + QLatin1Char('\n')));
            FUZZ_CHECK(text.endsWith(QStringLiteral("DIP switch:\t") + QString::number(static_cast<quint32>(status.dipSwitch), 16).toUpper()
                                      + QLatin1Char('\n')));
            break;
        }
        }
    }
    return 0;
}
