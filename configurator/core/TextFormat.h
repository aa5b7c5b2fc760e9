#pragma once

// Fills the printf-style placeholders of a string table text ("%s", "%d")
// in order. A translated text with fewer placeholders keeps what it has; the
// arguments left over are dropped.

#include <QString>

#include <initializer_list>

inline QString fillText(QString text, std::initializer_list<QString> args)
{
    qsizetype from = 0;
    for (const QString& a : args) {
        qsizetype at = -1;
        for (qsizetype i = from; i + 1 < text.size(); ++i) {
            if (text[i] == QLatin1Char('%') && (text[i + 1] == QLatin1Char('s') || text[i + 1] == QLatin1Char('d'))) {
                at = i;
                break;
            }
        }
        if (at < 0)
            break;
        text.replace(at, 2, a);
        from = at + a.size();
    }
    return text;
}
