#pragma once

// The password is never stored: the profile keeps only this 16-bit checksum
// of it (CRC-16/ARC: reflected polynomial 0x8005, initial value 0, no final
// XOR). "123456789" gives 0xBB3D.

#include <QByteArray>
#include <QString>

namespace password {

quint16 checksum(const QByteArray& bytes);

// The checksum of a password as typed: its bytes in the program's 8-bit
// character set (UTF-8), so upper and lower case differ.
quint16 checksumOf(const QString& password);

} // namespace password
