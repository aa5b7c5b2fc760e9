#pragma once

// The .act file of a cleared image: every word 10..39 "0000", one line each,
// with CR LF.

#include <QByteArray>

inline QByteArray clearedActFile()
{
    QByteArray out;
    for (int a = 10; a <= 39; ++a)
        out += QByteArray::number(a) + " 0000\r\n";
    return out;
}
