#pragma once

// Whether a file may decide, or be, code that this process runs: a component
// registry, a component module, a language library.

#include <QString>

namespace component {

// Why the file at `path` cannot be trusted to say what code to run, or to be
// run: empty when it can. The file, and every folder from the root down to
// it (the folders a symbolic link leads through as well), must belong to
// this user or to root and be writable by nobody else; a folder with the
// sticky bit (as /tmp) may be writable by all, as there no one can replace
// another user's entries.
QString untrustedReason(const QString& path);

// Why `modulePath` may not be loaded as code: empty when it may. It must be
// an absolute path (a relative one would be looked up from the current
// folder) to a module untrustedReason() accepts.
QString moduleRefusal(const QString& modulePath);

} // namespace component
