#pragma once

// The audit trail of key changes: one line per key added to or removed
// from a terminal,
//   "08.12.2026. 11:40:02 alice COM1 added 0123456789ABCD 5" LF
// (local date and time, user name, port, added/removed, id, access),
// appended whole even when several programs append at once. An access
// that is not known (a key removed by id alone) is written "-".

#include <QDateTime>
#include <QString>

namespace terminalops {

// The line; control characters and blanks in the user and port names
// become "_" so that every line has the same fields.
QByteArray formatAuditLine(const QDateTime& when, const QString& user, const QString& port, bool added,
                           const QString& id, int access);

// The name of the user running this process ("uid N" when it has none).
QString currentUserName();

// Appends one line with a single write() in append mode, creating the file
// (mode 0644) and its folder when missing. False with the reason in *error.
bool appendAuditLine(const QString& path, const QByteArray& line, QString* error);

} // namespace terminalops
