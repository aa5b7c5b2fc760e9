#pragma once

// The line language of rk40ctl: one call per line.
//   NAME ARG...              call a method
//   get NAME [INDEX]         read a property
//   put NAME [INDEX] VALUE   write a property
//   wait MS                  run the event loop for MS milliseconds
//   face FILE.png [W H]      save the control's face as a picture
//   # ...                    comment
// Arguments are integers (decimal, or 0x hexadecimal, optionally negative)
// or texts (bare words, or in double quotes with \" and \\ escapes); the bare
// words TRUE and FALSE are BOOL values.

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace rk40ctl {

struct ScriptLine {
    enum class Kind { Empty, Call, Get, Put, Wait, Face } kind = Kind::Empty;
    QString name;       // member name, or the file for Face
    QVariantList args;  // arguments as given: qlonglong or QString
};

// Splits a line into words; false with a message on an unterminated quote.
bool tokenize(const QString& line, QVariantList& words, QString* error);

// Parses one line; false with a message when it is malformed.
bool parseLine(const QString& line, ScriptLine& out, QString* error);

// Formats a value as rk40ctl prints it: integers in decimal, BOOL as TRUE or
// FALSE, texts verbatim.
QString formatValue(const QVariant& v);

} // namespace rk40ctl
