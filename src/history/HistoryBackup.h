#pragma once
// Copies of the history file: the daily copy kept beside it and the copy
// the command line and the window make (passlog backup). A copy is
// consistent (SQLite writes it from one read transaction, while others may
// go on writing) and a file of its own, with no write-ahead log beside it.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace history {

// Told the pages copied and the pages in all while a copy runs; false stops it.
using CopyProgress = std::function<bool(qint64 done, qint64 total)>;

// Why target may not take a copy of the history file at path (Japanese:
// the history itself or one of its files, another file of the program, no
// regular file), empty when it may.
QString copyTargetRefusal(const QString &path, const QString &target);

// Copies the history file at path into target, a new file: written beside
// target and moved into place once complete, so that target is never half
// written. Empty when done, else why not (Japanese).
QString copyHistoryFile(const QString &path, const QString &target, const CopyProgress &going = {});
// What a copy stopped by its progress says.
QString copyStoppedText();

// The folder of the copies beside the history file, and the copies in it,
// oldest first.
QString backupFolder(const QString &historyPath);
QStringList backupFiles(const QString &historyPath);

// The daily copy, "ETC_DAT-YYYY-MM-DD.sqlite" in the backup folder: made
// when the folder has none of day (a copy that fails is tried again at the
// next start), and only the newest keep daily copies are kept. Runs on a
// thread of its own once the history file passed its full check (a damaged
// file is not copied over a good copy); stopDailyBackup() ends it.
void startDailyBackup(const QString &historyPath, const QDate &day, int keep = 7);
void stopDailyBackup();
// Why the daily copy started last could not be made (Japanese), empty while
// it runs or once it is made.
QString dailyBackupFailure();

} // namespace history
