#include "remote/RemoteProtocol.h"


#include "remote/RemoteTrace.h"

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstdio>

Q_LOGGING_CATEGORY(lcRemote, "termset.remote", QtInfoMsg)

namespace remote {

namespace {

// The character at index i, or 0 past the end.
char at(QByteArrayView text, qsizetype i)
{
    return i >= 0 && i < text.size() ? text[i] : '\0';
}

int digitValue(char c, int base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16) {
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
    }
    return 0;
}

int field(QByteArrayView text, qsizetype start, qsizetype count, int base)
{
    // Fields are at most a few digits wide; accumulate in 64 bits and clamp
    // so that a wide field cannot overflow.
    qint64 value = 0;
    for (qsizetype i = 0; i < count; ++i) {
        value = value * base + digitValue(at(text, start + i), base);
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

QByteArray request(const char* length, quint8 serialPort, const char* command)
{
    QByteArray text = "VeTr 1 ";
    text += length;
    text += " plok ";
    text += portCharacter(serialPort);
    text += ' ';
    text += command;
    return text;
}

QString latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.data(), bytes.size());
}

QByteArrayView column(QByteArrayView data, qsizetype start, qsizetype width)
{
    if (start >= data.size())
        return {};
    return data.sliced(start, std::min(width, data.size() - start));
}

} // namespace

const char* commandWord(Request request)
{
    switch (request) {
    case Request::ReadConfig: return "gEPT";
    case Request::WriteConfig: return "sEPT";
    case Request::ListPorts: return "TEST";
    case Request::Status: return "STAT";
    }
    return "";
}

char portCharacter(quint8 serialPort)
{
    // Ports past 207 wrap around, as a byte does.
    return static_cast<char>(static_cast<quint8>('0' + serialPort));
}

QByteArray readConfigRequest(quint8 serialPort)
{
    return request("0000000", serialPort, "gEPT") + '.';
}

QByteArray writeConfigRequest(quint8 serialPort, QByteArrayView body)
{
    // The length counts what follows "sEPT ": the body and the full stop.
    char length[16];
    std::snprintf(length, sizeof length, "%07d", static_cast<int>(std::min<qsizetype>(body.size() + 1, 9'999'999)));
    QByteArray text = request(length, serialPort, "sEPT");
    text += ' ';
    text += body;
    text += '.';
    return text;
}

QByteArray listPortsRequest()
{
    return request("0000000", 1, "TEST") + '.';
}

QByteArray statusRequest(quint8 serialPort)
{
    return request("0000000", serialPort, "STAT") + '.';
}

QByteArray configItem(int address, quint16 value)
{
    char item[32];
    std::snprintf(item, sizeof item, "%04d,%05d;", address, static_cast<int>(value));
    return QByteArray(item);
}

QByteArray writeConfigBody(const ConfigValues& values)
{
    QByteArray body;
    body.reserve(kWriteBodyLength);
    for (int address = kFirstConfigWord; address <= kLastConfigWord; ++address) {
        const QByteArray item = configItem(address, values[static_cast<std::size_t>(address - kFirstConfigWord)]);
        qCDebug(lcRemote) << "write item" << item;
        body += item;
    }
    return body;
}

int decimalField(QByteArrayView text, qsizetype start, qsizetype count)
{
    return field(text, start, count, 10);
}

int leadingNumber(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > qint64(INT_MAX) + 1)
            value = qint64(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);   // down to INT_MIN
    return static_cast<int>(std::min<qint64>(value, INT_MAX));
}

QByteArrayView replyText(QByteArrayView received)
{
    const qsizetype zero = received.indexOf('\0');
    return zero < 0 ? received : received.first(zero);
}

int resultCode(QByteArrayView reply)
{
    return decimalField(reply, kResultCodeOffset, kResultCodeWidth);
}

QByteArrayView replyData(QByteArrayView reply)
{
    return reply.size() > kDataOffset ? reply.sliced(kDataOffset) : QByteArrayView();
}

bool replyComplete(Request request, QByteArrayView reply)
{
    if (reply.size() < kMinReplyLength)
        return false;
    if (resultCode(reply) != 0)
        return true;
    const QByteArrayView data = replyData(reply);
    switch (request) {
    case Request::ReadConfig:
    case Request::ListPorts:
        return data.contains('.');
    case Request::Status:
        return data.size() >= kStatusDataLength;
    case Request::WriteConfig:
        return true;
    }
    return true;
}

std::vector<ConfigItem> parseConfigData(QByteArrayView data)
{
    std::vector<ConfigItem> items;
    const qsizetype count = data.size() / kConfigItemLength;
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArrayView item = data.sliced(i * kConfigItemLength, kConfigItemLength);
        if (item[4] != ',')
            continue;
        ConfigItem parsed;
        parsed.address = decimalField(item, 0, 4) % 256;
        parsed.value = static_cast<quint16>(decimalField(item, 5, 5) % 65536);
        items.push_back(parsed);
    }
    return items;
}

std::vector<int> missingConfigWords(const std::vector<ConfigItem>& items)
{
    std::set<int> brought;
    for (const ConfigItem& item : items)
        brought.insert(item.address);
    std::vector<int> missing;
    for (int a = kFirstConfigWord; a <= kLastConfigWord; ++a)
        if (!brought.count(a))
            missing.push_back(a);
    return missing;
}

std::set<quint8> parsePortList(QByteArrayView data)
{
    QByteArray text = data.toByteArray();
    text.replace('.', ',');
    std::set<quint8> ports;

    qsizetype comma = text.indexOf(',');
    const int count = leadingNumber(QByteArrayView(text).first(comma < 0 ? text.size() : comma));
    for (int n = 0; n < count && comma >= 0; ++n) {
        const qsizetype start = comma + 1;
        if (start >= text.size())
            break;   // fewer numbers than the count names
        comma = text.indexOf(',', start);
        const qsizetype end = comma < 0 ? text.size() : comma;
        const int number = leadingNumber(QByteArrayView(text).sliced(start, end - start));
        ports.insert(static_cast<quint8>(static_cast<unsigned>(number) % 256u));
    }
    return ports;
}

RemoteStatus parseStatus(QByteArrayView data)
{
    RemoteStatus status;
    status.time = latin1(column(data, 0, 5));
    status.date = latin1(column(data, 6, 8));
    status.dayOfWeek = leadingNumber(column(data, 15, 1));
    status.buffered = leadingNumber(column(data, 17, 4));
    status.version = latin1(column(data, 22, 5));
    status.resetCount = leadingNumber(column(data, 28, 5));
    status.fatalResets = leadingNumber(column(data, 34, 5));
    status.dipSwitch = leadingNumber(column(data, 40, 5));
    return status;
}

QString statusText(const RemoteStatus& status, const QString& statusFormat, const QString& dayNames)
{
    const QStringList names = dayNames.split(QLatin1Char('\n'));
    const QString day = status.dayOfWeek >= 0 && status.dayOfWeek < names.size() ? names[status.dayOfWeek] : QString();
    return resources::formatText(statusFormat,
                      {status.time, status.date, day, status.buffered, status.version, status.dipSwitch});
}

std::optional<quint32> parseIPv4(const QString& text)
{
    // A character outside Latin-1 can be part of no address; toLatin1 would
    // turn it into '?', which the conversion refuses as well.
    const QByteArray latin = text.toLatin1();
    if (text.isEmpty() || latin.contains('\0'))
        return std::nullopt;
    in_addr value{};
    if (::inet_aton(latin.constData(), &value) == 0)
        return std::nullopt;
    return value.s_addr;
}

std::optional<quint16> parseTcpPort(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (!tcpPortInRange(value))
        return std::nullopt;
    return static_cast<quint16>(value);
}

} // namespace remote
