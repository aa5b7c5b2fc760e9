#pragma once

// Compares byte strings in a test and, on a mismatch, prints both in hex.

#include <QByteArray>
#include <QString>
#include <QTest>

#define COMPARE_BYTES(found, expected)                                                                   \
    do {                                                                                                 \
        const QByteArray f_ = (found), e_ = (expected);                                                  \
        if (f_ != e_)                                                                                    \
            QFAIL(qPrintable(QString("bytes differ\n expected %1\n found    %2")                       \
                                 .arg(QString::fromLatin1(e_.toHex(' ')), QString::fromLatin1(f_.toHex(' '))))); \
    } while (0)
