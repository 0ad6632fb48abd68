#pragma once
// Where the program keeps what it writes (the settings file and the history
// database) and where it finds the master database it ships with.
//
// A portable copy keeps everything in its own folder. Installed for all users
// (/usr/bin, Program Files) the program may not write its folder: the
// settings and the history then go to the user's data folder
// (~/.local/share/PASSLOG on Linux, %APPDATA%\PASSLOG on Windows), and the
// master database is read from where the installation put it.

#include <QString>

namespace app {

// True if a file can be created in the folder (tried, then removed).
bool folderIsWritable(const QString &folder);

// The user's own data folder of the program (not created here).
QString userDataFolder();

// The folder for the settings file and the history database: the program
// folder when it is writable, otherwise the user's data folder, created with
// owner-only access when missing. Native separators, no trailing separator.
QString dataFolder();

// Folders that may hold the shipped master database, in the order they are
// searched: the program folder, then the installed data folder relative to it
// (<prefix>/share/passlog for <prefix>/bin).
QStringList shippedDataFolders();

} // namespace app
