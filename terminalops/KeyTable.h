#pragma once

// Keys of a terminal's identification table and the key file that holds
// them: CSV (RFC 4180) with the header "id,access,name". The id is 14
// hexadecimal digits in the order a container writes them (either case in
// a file, kept upper case), access 0..255, name free text that only files
// keep. Pure functions, no I/O.

#include <QByteArray>
#include <QString>

#include <vector>

namespace terminalops {

inline constexpr int kKeyIdDigits = 14;
inline constexpr int kMaxAccess = 255;

struct Key {
    QString id;        // 14 upper-case hexadecimal digits
    int access = 0;    // 0..255
    QString name;      // files only; terminals keep no names
    bool operator==(const Key&) const = default;
};

using KeyList = std::vector<Key>;

// The id in upper case when it is 14 hexadecimal digits; empty otherwise.
QString normalKeyId(const QString& text);

// What reading a key file gave: every key (sorted by id), or the first
// line that is wrong and why (nothing else: a file is taken whole or not).
struct KeyFile {
    bool ok = false;
    KeyList keys;
    int line = 0;        // !ok: the line (1-based) of the fault
    QString reason;      // !ok: what is wrong there
};

// Reads a key file. Refused whole: a missing or other header, a line with
// the wrong number of fields or a badly quoted field, an id that is not 14
// hexadecimal digits, an access outside 0..255, an id given twice. Blank
// lines and a byte order mark at the start are let be.
KeyFile parseKeyCsv(const QByteArray& data);

// The keys as a key file (header first, CRLF line ends, fields quoted where
// they must be), in the order given.
QByteArray formatKeyCsv(const KeyList& keys);

// The keys sorted by id.
KeyList sortedKeys(KeyList keys);

} // namespace terminalops
