#pragma once
// Putting a copy of the history file back in its place (passlog restore,
// ファイル → バックアップから戻す…): the copy is checked, the former file kept.

#include "history/HistoryBackup.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace history {

// Why file cannot be put back as the history (Japanese), empty when it can:
// it must be an SQLite file that passes the full check and holds ETC_DATA
// with the history's columns.
QString whyNotRestorable(const QString &file);

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
