#pragma once
// Copies of the history file: the daily copy kept beside it, the copy the
// command line makes (passlog backup) and putting a copy back (passlog
// restore). A copy is consistent (SQLite writes it from one read
// transaction, while others may go on writing) and a file of its own, with
// no write-ahead log beside it.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace history {

// Told the pages copied and the pages in all while a copy runs; false stops it.
using CopyProgress = std::function<bool(qint64 done, qint64 total)>;

// Copies the history file at path into target, a new file: written beside
// target and moved into place once complete, so that target is never half
// written. Empty when done, else why not (Japanese).
QString copyHistoryFile(const QString &path, const QString &target, const CopyProgress &going = {});

// Why file cannot be put back as the history (Japanese), empty when it can:
// it must be an SQLite file that passes the full check and holds ETC_DATA
// with the history's columns.
QString whyNotRestorable(const QString &file);

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

// Puts file in place of the history file at historyPath (the file a
// symbolic link there points to). The current file is first copied into the
// backup folder (as "ETC_DAT-before-restore-YYYYMMDD-HHMMSS.sqlite").
// Refuses a file that is not restorable (a damaged file, another program's,
// one that carries triggers or views), the history file itself, and a
// history file another program has open. Holds the history alone for its
// whole run: the users before it are waited for a while (waiting(text) is
// told so), those after it wait for it. Indexes of another program in the
// file are dropped, and named in dropped. going() is told the progress
// (0, 0 while a file is checked); false stops the restore until the former
// file is being kept. Empty when done (kept: where the former file went),
// else why not; the history file is then as it was.
QString restoreHistoryFile(const QString &file, const QString &historyPath, const QDateTime &now, QString *kept,
                           const std::function<void(const QString &)> &waiting = {}, QStringList *dropped = nullptr,
                           const CopyProgress &going = {});

} // namespace history
