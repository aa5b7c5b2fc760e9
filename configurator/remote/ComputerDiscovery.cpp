#include "remote/ComputerDiscovery.h"

#include "remote/RemoteTrace.h"

#include <QFile>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace remote {

namespace {

QByteArray readSource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcRemote) << "discovery: cannot read" << path;
        return {};
    }
    // These sources are small; a bound keeps a strange file from costing much.
    return file.read(4 * 1024 * 1024);
}

bool strictDotted(const QByteArray& text, in_addr* out)
{
    return ::inet_pton(AF_INET, text.constData(), out) == 1;
}

// The host name of an address by reverse look-up, or an empty text.
QString reverseName(quint32 address)
{
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host, sizeof host,
                      nullptr, 0, NI_NAMEREQD)
        != 0)
        return {};
    return QString::fromLocal8Bit(host);
}

// The first IPv4 address of a host name, or 0 when it has none.
quint32 firstAddress(const QByteArray& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || found == nullptr)
        return 0;
    quint32 address = 0;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    ::freeaddrinfo(found);
    return address;
}

} // namespace

std::optional<quint32> resolveHost(const QString& name)
{
    const QByteArray text = name.trimmed().toLocal8Bit();
    if (text.isEmpty())
        return std::nullopt;
    const quint32 address = firstAddress(text);
    if (address == 0)
        return std::nullopt;
    return address;
}

QString dottedAddress(quint32 address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    ::inet_ntop(AF_INET, &value, text, sizeof text);
    return QString::fromLatin1(text);
}

quint32 parseDottedAddress(const QString& text, bool* ok)
{
    in_addr value{};
    const bool parsed = strictDotted(text.trimmed().toLatin1(), &value);
    if (ok)
        *ok = parsed;
    return parsed ? value.s_addr : 0;
}

QList<ServerEntry> parseHostsFile(const QByteArray& content)
{
    QList<ServerEntry> entries;
    for (QByteArray line : content.split('\n')) {
        const qsizetype hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2 || words[0].isEmpty())
            continue;
        in_addr value{};
        if (!strictDotted(words[0], &value))
            continue;   // IPv6 and malformed lines
        entries.append({value.s_addr, QString::fromLocal8Bit(words[1])});
    }
    return entries;
}

QList<quint32> parseNeighbourTable(const QByteArray& content)
{
    QList<quint32> addresses;
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {   // line 0 is the heading
        const QList<QByteArray> words = lines[i].simplified().split(' ');
        if (words.size() < 3)
            continue;
        in_addr value{};
        if (!strictDotted(words[0], &value))
            continue;
        bool ok = false;
        const uint flags = words[2].toUInt(&ok, 0);
        if (!ok || (flags & 0x2) == 0)   // 0x2: the entry is complete
            continue;
        addresses.append(value.s_addr);
    }
    return addresses;
}

QList<ServerEntry> EnumerateServers(const DiscoverySources& sources)
{
    QList<ServerEntry> entries;
    if (!sources.hostsFile.isEmpty())
        entries += parseHostsFile(readSource(sources.hostsFile));

    if (!sources.neighbourTable.isEmpty()) {
        for (const quint32 address : parseNeighbourTable(readSource(sources.neighbourTable))) {
            QString name = sources.reverseLookup ? reverseName(address) : QString();
            if (name.isEmpty())
                name = dottedAddress(address);   // still a usable choice
            entries.append({address, name});
        }
    }

    if (sources.ownHost) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
            const quint32 address = firstAddress(QByteArray(host));
            if (address != 0)
                entries.append({address, QString::fromLocal8Bit(host)});
        }
    }
    qCDebug(lcRemote) << "discovery found" << entries.size() << "hosts";
    return entries;
}

} // namespace remote
