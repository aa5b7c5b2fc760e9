// The list of the gateway's serial ports: "count,port,port,...." after the
// reply's head, at most 256 bytes received. Compared with a model that
// splits the text the plain way.
//
// Input: the data part of the reply (the head is put in front of it).

#include "FuzzSupport.h"
#include "remote/RemoteProtocol.h"

#include <QList>

using namespace remote;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray reply = "VeTr 1 0000000 plok 1 0000 TEST ";
    reply.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(data ? size : 0));
    reply.truncate(kPortListReplyCapacity);
    const QByteArrayView text = replyText(reply);
    if (text.size() < kMinReplyLength || resultCode(text) != 0)
        return 0;
    const QByteArrayView payload = replyData(text);
    const std::set<quint8> ports = parsePortList(payload);

    // Model: full stops are commas; the first field is the count; the
    // numbers are the following fields, as many as the count names and the
    // text holds.
    QByteArray plain = payload.toByteArray();
    plain.replace('.', ',');
    const QList<QByteArray> fields = plain.split(',');
    std::set<quint8> expected;
    const int count = leadingNumber(fields.value(0));
    for (qsizetype i = 1; i < fields.size() && i <= count; ++i) {
        // A field starting at the very end of the text is not there.
        qsizetype start = 0;
        for (qsizetype k = 0; k < i; ++k)
            start += fields[k].size() + 1;
        if (start >= plain.size())
            break;
        expected.insert(static_cast<quint8>(static_cast<unsigned>(leadingNumber(fields[i])) % 256u));
    }
    FUZZ_CHECK(ports == expected);
    return 0;
}
