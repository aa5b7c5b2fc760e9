#pragma once

// Byte helpers of the tests: byte strings from spans and vectors, a register
// word as four hex digits, a whole file, and a comparison of byte strings
// that prints both in hex on a mismatch.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

#include <cstdint>
#include <optional>
#include <span>

namespace testsupport {

inline QByteArray bytes(std::span<const std::uint8_t> s)
{
    return QByteArray(reinterpret_cast<const char*>(s.data()), static_cast<qsizetype>(s.size()));
}

// A register word as the terminal and the files write it: "00FF".
inline QString hexWord(quint16 v) { return QString::asprintf("%04X", v); }

// Writes the whole file, failing the test when it cannot; with permissions
// when they are given.
inline void writeFile(const QString& path, const QByteArray& data,
                      std::optional<QFile::Permissions> permissions = std::nullopt)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(data), data.size());
    f.close();
    if (permissions)
        QVERIFY(f.setPermissions(*permissions));
}

// The whole file, or nothing when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace testsupport

#define COMPARE_BYTES(found, expected)                                                                   \
    do {                                                                                                 \
        const QByteArray f_ = (found), e_ = (expected);                                                  \
        if (f_ != e_)                                                                                    \
            QFAIL(qPrintable(QString("bytes differ\n expected %1\n found    %2")                       \
                                 .arg(QString::fromLatin1(e_.toHex(' ')), QString::fromLatin1(f_.toHex(' '))))); \
    } while (0)
