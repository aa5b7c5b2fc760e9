// The password checksum against the plain bit-by-bit CRC-16/ARC, and the
// checksum of a typed text being that of its UTF-8 bytes.
//
// Input: the password's bytes.

#include "FuzzSupport.h"
#include "core/PasswordChecksum.h"

namespace {

quint16 bitwiseArc(const QByteArray& bytes)
{
    unsigned crc = 0;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    }
    return static_cast<quint16>(crc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(data ? size : 0));
    FUZZ_CHECK(password::checksum(bytes) == bitwiseArc(bytes));
    const QString typed = QString::fromUtf8(bytes);
    FUZZ_CHECK(password::checksumOf(typed) == bitwiseArc(typed.toUtf8()));
    return 0;
}
