#pragma once

// Files that hold personal data or secrets are created readable and
// writable by their owner alone, and the folders the service creates for
// them by their owner alone, whatever the umask.

#include <QByteArray>
#include <QString>

namespace collector {

// Creates the folder and its missing parents with mode 0700 (existing ones
// are left as they are). False with `error` set.
bool makePrivateFolder(const QString& path, QString* error);

// Creates the file with mode 0600 when missing (an existing file keeps its mode).
bool touchPrivateFile(const QString& path, QString* error);

// Writes the file anew through a temporary file beside it (mode 0600),
// renamed over it once complete.
bool writePrivateFile(const QString& path, const QByteArray& data, QString* error);

} // namespace collector
