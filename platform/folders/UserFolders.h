#pragma once

// The per-user folders of the programs, after the XDG base directory rules:
// $XDG_CONFIG_HOME, $XDG_DATA_HOME, $XDG_STATE_HOME and $XDG_RUNTIME_DIR,
// each ignored when empty or relative, with the usual places under the home
// folder (the temporary folder for runtime files) instead. Every program
// keeps its files in the vendor's folder inside them.

#include <QString>
#include <QStringList>

namespace userfolders {

enum class Kind { Config, Data, State, Runtime };

// The base folder of a kind, without a slash at the end: "~/.config".
QString base(Kind kind);
// The vendor's folder inside it: "~/.config/Veltrona".
QString vendor(Kind kind);
// A file or folder of the vendor's: vendor(kind) + "/" + name.
QString path(Kind kind, const QString& name);
// The system-wide configuration folders ($XDG_CONFIG_DIRS, absolute ones
// only, or /etc/xdg), each with name appended as path() does.
QStringList systemConfigPaths(const QString& name);

} // namespace userfolders
