#pragma once

// The program folder (the folder of the program file, with its trailing
// separator) and the files kept in it.

#include <QString>

namespace apppaths {

// The program folder, ending in '/'. By default the folder of the running
// program; tests point it elsewhere with setProgramFolder.
QString programFolder();
// Overrides the program folder (a trailing '/' is added when missing); an
// empty path restores the default.
void setProgramFolder(const QString& folder);

// "default.act" in the program folder.
QString defaultConfigPath();
// The transfer log "log" in the program folder.
QString transferLogPath();

} // namespace apppaths
