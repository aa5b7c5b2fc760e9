#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include "platform/resources/TextFill.h"

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

// The gateway's text protocol as plain functions: request texts, reply
// layout, field readers. Nothing here touches a socket or a widget.
//
// A request is one line "VeTr 1 <length:7> plok <port char> <command>[ body]."
// sent without line end. A reply carries its result code in bytes 22..25
// and its data from byte 32 on.
namespace remote {

inline constexpr quint16 kDefaultGatewayPort = 15027;
inline constexpr int kMinTcpPort = 1024;
inline constexpr int kMaxTcpPort = 65535;

inline constexpr int kResultCodeOffset = 22;
inline constexpr int kResultCodeWidth = 4;
inline constexpr int kDataOffset = 32;
// A reply shorter than this carries no result code.
inline constexpr int kMinReplyLength = kResultCodeOffset + kResultCodeWidth;

// The configuration words a read brings and a write carries.
inline constexpr int kFirstConfigWord = 10;
inline constexpr int kLastConfigWord = 39;
using ConfigValues = std::array<quint16, kLastConfigWord - kFirstConfigWord + 1>;

inline constexpr int kConfigItemLength = 11;   // "0010,00291;"
inline constexpr int kWriteBodyLength = 330;   // thirty items

// Largest reply taken for each request (the receive buffer less its
// terminating zero).
inline constexpr int kReplyCapacity = 4095;
inline constexpr int kPortListReplyCapacity = 256;

enum class Request { ReadConfig, WriteConfig, ListPorts, Status };

const char* commandWord(Request request);

// The character sent for a serial port: code 48 + n, wrapping past 255.
char portCharacter(quint8 serialPort);

// Request texts, byte for byte.
QByteArray readConfigRequest(quint8 serialPort);
QByteArray writeConfigRequest(quint8 serialPort, QByteArrayView body);
QByteArray listPortsRequest();
QByteArray statusRequest(quint8 serialPort);

// The write body: one "%04d,%05d;" item for each address 10..39 in
// ascending order. Always kWriteBodyLength characters.
QByteArray writeConfigBody(const ConfigValues& values);
// The item for one word, "0010,00291;".
QByteArray configItem(int address, quint16 value);

// Fixed-width field readers; neither fails. Characters that are not digits
// of the base, and characters past the end of text, count as digit 0.
int decimalField(QByteArrayView text, qsizetype start, qsizetype count);

// Reads leading digits: leading white space and a sign are accepted,
// reading stops at the first non-digit; no digits gives 0. The value is
// clamped to the int range.
int leadingNumber(QByteArrayView text);

// The reply as text: the received bytes up to the first zero byte.
QByteArrayView replyText(QByteArrayView received);
// The result code, decimalField(reply, 22, 4).
int resultCode(QByteArrayView reply);
// The data part: the reply from byte 32 on (empty when shorter).
QByteArrayView replyData(QByteArrayView reply);

// Whether a reply received so far is complete enough to be examined:
// it holds a result code, and when that code is 0 the data the request
// needs: the full stop that ends the data of a read or a port list, all
// status columns. A write needs nothing beyond the result code.
bool replyComplete(Request request, QByteArrayView replyText);

// One item of a read reply.
struct ConfigItem {
    int address = 0;      // 0..255 (the item's address modulo 256)
    quint16 value = 0;    // the item's value modulo 65536
    friend bool operator==(const ConfigItem&, const ConfigItem&) = default;
};

// The items of read data: length / 11 items of 11 characters; an item whose
// character at index 4 is not a comma is skipped.
std::vector<ConfigItem> parseConfigData(QByteArrayView data);

// The configuration words 10..39 that no item brings, ascending. A read
// that leaves any of them out did not read the terminal's configuration.
std::vector<int> missingConfigWords(const std::vector<ConfigItem>& items);

// The ports of list data such as "2,1,3.": a count, then that many port
// numbers (full stops count as commas), each taken modulo 256. A list that
// names fewer numbers than its count gives the numbers it names.
std::set<quint8> parsePortList(QByteArrayView data);

// The columns of status data.
struct RemoteStatus {
    QString time;          // 0, 5 characters
    QString date;          // 6, 8 characters
    int dayOfWeek = 0;     // 15, 1 digit; 0 = Monday
    int buffered = 0;      // 17, 4 digits
    QString version;       // 22, 5 characters
    int resetCount = 0;    // 28, 5 digits
    int fatalResets = 0;   // 34, 5 digits
    int dipSwitch = 0;     // 40, 5 digits
};
inline constexpr int kStatusDataLength = 45;

RemoteStatus parseStatus(QByteArrayView data);

// The status box text: statusFormat (string 159) filled with time, date,
// the day's name from dayNames (string 149, one name a line; an index
// without an entry gives an empty name), buffered, version and DIP switch.
QString statusText(const RemoteStatus& status, const QString& statusFormat, const QString& dayNames);


// The IPv4 address a text names, in network byte order, read the way the
// platform's address conversion reads it (dotted parts, "127.1" being
// 127.0.0.1); nullopt when the text is no address. Host names are never
// looked up. Every place that takes an address from a person uses this.
std::optional<quint32> parseIPv4(const QString& text);

// The TCP port typed by the user: decimal digits only, 1024..65535.
std::optional<quint16> parseTcpPort(const QString& text);
constexpr bool tcpPortInRange(qint64 port) { return port >= kMinTcpPort && port <= kMaxTcpPort; }

} // namespace remote
