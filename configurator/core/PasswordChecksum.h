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

// The profile keeps the checksum in Param1; only its low 16 bits count.
// A password has been set when they are not 0.
bool isSet(int param1);

// Whether the typed password unlocks writing: one has been set and the
// typed one's checksum is the low 16 bits of param1. Termset and
// termset-cli both decide by this rule.
bool unlocks(const QString& typed, int param1);

} // namespace password
