#pragma once
// Registration: every row of the staging table appended to the history
// table under one card number.

#include "history/HistoryWorker.h"
#include "history/RowIdentity.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace history {

// Copies ETC_TEMP into ETC_DATA with CARD_ID and カードNO set to cardNo and
// returns the number of rows registered: every staged row, or none. The copy
// is one statement in one transaction (on the server, one transaction of a
// few statements). When the store refuses any row, or fails in any other
// way, nothing is registered, the staging stays as it was, and an
// ExpectedFailure names the first refused row (date, time, gates) and the
// store's reason. Each registered row gets a new ROW_UID. With keepGoing the
// copy runs without blocking the caller's thread (see HistoryWorker.h); a
// "no" from it registers nothing and throws WorkStopped.
// skip: staging rows (their rowid) left out, as stagedPassagesHeld names them.
qint64 registerStaged(const QString &cardNo, const KeepGoing &keepGoing = {}, const QList<qint64> &skip = {});

// The staged card read against the history under cardNo: how many rows are
// staged, and which of them (their rowid in ETC_TEMP) the history holds
// already, by the rule of CSV取込 (the 17 values of a CSV line; a copy is new
// once the history's copies of its passage are used up). A card re-read a
// month later still holds last month's passages.
struct StagedPassages {
    qint64 staged = 0;
    QList<qint64> heldRows;
};
StagedPassages stagedPassagesHeld(const QString &cardNo);

// Copies the rows of the history file's own ETC_DATA into the shared history
// on the server, in one server transaction, and returns how many it copied.
// A row is known by its ROW_UID, so that repeated runs, reused row numbers and
// a program folder copied to another PC neither skip nor double a row.
// progress(done, total) is called after each batch of rows. Without a server
// in the settings, a failure.
qint64 copyHistoryToServer(const std::function<void(qint64, qint64)> &progress = {});

// The columns that make a passage: the 17 values a CSV line holds of it.
// Rows alike in all of them are copies of one passage.
QStringList passageColumns();

// The first control character (C0 or DEL) of text as "U+0000", or empty.
// Stored texts hold none: the staging leaves them out of the masters' names,
// CSV取込 refuses them.
QString controlCharacterIn(QStringView text);

} // namespace history
