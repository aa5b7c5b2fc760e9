#pragma once

// The program folder (the folder of the program file, with its trailing
// separator) and the files kept in it: "default.act" and the transfer log.
//
// A development build or a portable copy keeps everything in the one folder
// beside the programs. An installed tree keeps the programs in bin/ and the
// control module and language libraries in lib/termset/, and that folder is
// the program folder. An installed program folder, or one the user cannot
// write to, is shared: the user's own "default.act" then lives in
// $XDG_DATA_HOME/Veltrona/Termset/ (the shared one stays as a shipped
// default) and the transfer log in $XDG_STATE_HOME/Veltrona/Termset/.

#include <QString>

namespace apppaths {

// Where an installed tree keeps its program folder, relative to the prefix.
inline constexpr const char* kInstalledProgramFolder = "lib/termset";

// The program folder, ending in '/'. By default <program's folder>/../lib/termset
// when that folder exists, else the folder of the running program; tests point
// it elsewhere with setProgramFolder.
QString programFolder();
// Overrides the program folder (a trailing '/' is added when missing); an
// empty path restores the default.
void setProgramFolder(const QString& folder);

// Whether the program folder is shared (installed, or not writable), so that
// the files a user writes go to the per-user folders instead.
bool programFolderShared();

// The per-user folders, ending in '/': $XDG_DATA_HOME (default
// ~/.local/share) and $XDG_STATE_HOME (default ~/.local/state), each followed
// by "Veltrona/Termset/". Nothing is created.
QString userDataFolder();
QString userStateFolder();

// The "default.act" that Save As Default writes: the program folder's, or the
// user's own when the program folder is shared.
QString defaultConfigPath();
// The "default.act" that start-up and Restore Defaults read: the user's own
// when the program folder is shared and the user has one, else the program
// folder's.
QString defaultConfigReadPath();
// The transfer log "log": in the program folder, or in the user's state
// folder when the program folder is shared.
QString transferLogPath();

// The control module in the program folder.
QString controlModulePath();

} // namespace apppaths
