#pragma once

// termset-cli's tests: the lines of a configuration file, and the password
// "secret" set in a private profile as Termset sets it.

#include "TestBytes.h"
#include "TestEnvironment.h"

#include <QDir>

#include <array>
#include <optional>

namespace testsupport {

constexpr int kChecksumOfSecret = 0x23D2;   // CRC-16/ARC of "secret", as Termset stores it
constexpr auto kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// The lines of an .act file for words 10..39.
inline QByteArray actFile(const std::array<quint16, 30>& words)
{
    QByteArray out;
    for (int i = 0; i < 30; ++i)
        out += QString::asprintf("%02d %04X\r\n", i + 10, unsigned(words[static_cast<std::size_t>(i)])).toLatin1();
    return out;
}

// Words 10..39 that are each their address with bit 15 set.
inline std::array<quint16, 30> addressWords()
{
    std::array<quint16, 30> w{};
    for (int i = 0; i < 30; ++i)
        w[static_cast<std::size_t>(i)] = static_cast<quint16>(0x8000 + 10 + i);
    return w;
}

// The profile's password checksum (none: no password set), and "secret" in
// the file pw that its owner alone may read.
inline void setPassword(const TestEnvironment& env, std::optional<int> checksum = kChecksumOfSecret)
{
    QDir().mkpath(env.path("config/Veltrona"));
    QByteArray ini = "[Settings]\n";
    if (checksum)
        ini += "Param1=" + QByteArray::number(*checksum) + "\n";
    writeFile(env.path("config/Veltrona/Termset.conf"), ini, kOwnerOnly);
    writeFile(env.path("pw"), "secret\n", kOwnerOnly);
}

} // namespace testsupport
