#include "core/PasswordChecksum.h"

namespace password {

quint16 checksum(const QByteArray& bytes)
{
    // Byte-at-a-time form of the reflected CRC: the parity of x decides
    // whether 0xC001 is folded in, and the two shifted copies of x carry the
    // remaining terms of the polynomial.
    static constexpr unsigned char kNibbleParity[16] = {0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0};
    unsigned crc = 0;
    for (const char c : bytes) {
        const unsigned x = (crc ^ static_cast<unsigned char>(c)) & 0xFFu;
        crc >>= 8;
        if (kNibbleParity[x & 0x0F] != kNibbleParity[x >> 4])
            crc ^= 0xC001u;
        crc ^= (x << 6) ^ (x << 7);
        crc &= 0xFFFFu;
    }
    return static_cast<quint16>(crc);
}

quint16 checksumOf(const QString& password)
{
    return checksum(password.toUtf8());
}

bool isSet(int param1)
{
    return (static_cast<unsigned>(param1) & 0xFFFFu) != 0;
}

bool unlocks(const QString& typed, int param1)
{
    return isSet(param1) && checksumOf(typed) == (static_cast<unsigned>(param1) & 0xFFFFu);
}

} // namespace password
