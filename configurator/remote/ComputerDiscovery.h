#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// Gateway candidates for the network dialog: the IPv4 hosts this computer
// knows of, as (address, name) pairs. Sources, in this order: the hosts
// database, the neighbour table (with a reverse look-up for each address),
// and this computer's own name. Order and duplicates carry no meaning.
namespace remote {

struct ServerEntry {
    quint32 address = 0;   // IPv4 address in network byte order
    QString name;
    friend bool operator==(const ServerEntry&, const ServerEntry&) = default;
};

struct DiscoverySources {
    QString hostsFile = QStringLiteral("/etc/hosts");
    QString neighbourTable = QStringLiteral("/proc/net/arp");
    bool reverseLookup = true;   // names for neighbour addresses
    bool ownHost = true;         // this computer's own name and address
};

// Runs the discovery. Unreadable sources are skipped without a message.
QList<ServerEntry> EnumerateServers(const DiscoverySources& sources = {});

// The IPv4 entries of a hosts file: one entry per line with the line's
// first name (its canonical name). Comments, IPv6 lines and lines that are
// not "address name..." are skipped.
QList<ServerEntry> parseHostsFile(const QByteArray& content);

// The addresses of complete entries of a neighbour table in the layout of
// /proc/net/arp (a heading line, then "address hwtype flags ..."), in
// network byte order. Entries whose flags say incomplete are skipped.
QList<quint32> parseNeighbourTable(const QByteArray& content);

// The first IPv4 address of a host name by the system's resolver (hosts
// database, DNS, ...), in network byte order; nothing when it has none.
// Blocks for as long as the resolver takes: call it off the interface thread.
std::optional<quint32> resolveHost(const QString& name);

// Dotted decimal text for an address in network byte order, and back
// (nullopt-like: ok false when the text is not a dotted address).
QString dottedAddress(quint32 address);
quint32 parseDottedAddress(const QString& text, bool* ok);

} // namespace remote
