#pragma once

// The one filler of string-table texts with arguments.

#include <QString>

#include <vector>

namespace resources {

// A printf-like formatter for texts of the string table, which a language
// library may replace: %s, %d, %i, %u, %x, %X, %c and %% with flags, width
// and precision. Arguments are taken in order; a missing argument or one of
// the other kind is rendered as empty text or 0, never read out of bounds.
struct FormatArg {
    FormatArg(const QString& text) : isText(true), text(text) {}
    FormatArg(const char* text) : isText(true), text(QString::fromLatin1(text)) {}
    FormatArg(qint64 number) : number(number) {}
    FormatArg(int number) : number(number) {}
    bool isText = false;
    QString text;
    qint64 number = 0;
};
QString formatText(const QString& format, const std::vector<FormatArg>& args);

// The text of string id with its fields filled in.
QString formatString(int id, const std::vector<FormatArg>& args);

} // namespace resources
