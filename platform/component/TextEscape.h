#pragma once

// Backslash escapes for values kept one per line in the registry file and
// in a property bag's text form: \\, \n and \r.
//
// And the form in which text that came from outside (a terminal's answer on
// the serial line, a gateway's reply, a file) is shown on a console: control
// characters are written as escapes instead of being obeyed by the terminal.

#include <QString>

namespace component {

QString escapeLineText(const QString& s);
QString unescapeLineText(const QString& s);

// The text with every control character shown as an escape: "\x1b" for the
// C0 controls, DEL and the C1 controls, "\u202e" for the characters that
// reorder text (bidirectional overrides, embeddings and isolates). Line ends
// ("\n", and "\r\n" as "\n") and tabs stay as they are; a carriage return on
// its own is escaped, as it would let a later text overwrite a line.
QString consoleText(const QString& s);

} // namespace component
