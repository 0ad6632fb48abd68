#pragma once
// What DB削除 and 重複レコード削除 remove is kept for a while in the table of
// deleted rows, ETC_DELETED, beside ETC_DATA (in the history file, or on the
// server of the shared history): every column of the row, its identity
// (ROW_UID), and which deletion took it (an id, the time, the PC and the
// user). A deletion can be put back whole from there until its keep time
// ([PASSLOG] DeletedKeepDays in the settings file, 30 days unless set) has
// passed; older ones are removed at the next deletion or restore.

#include "app/Failure.h"
#include "history/HistoryWorker.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

namespace history {

inline const QString kTableDeleted = QStringLiteral("ETC_DELETED");

// Days a deletion can be undone: DeletedKeepDays of [PASSLOG]; a missing,
// unreadable or out-of-range value (1..3650) means 30.
int deletedKeepDays();
// The line the deletion questions end with.
QString deletionUndoNote();

// One deletion that can still be undone.
struct Deletion {
    QString id;
    QString deletedAt; // "yyyy/MM/dd HH:mm:ss", the deleting PC's clock
    QString pc;
    QString user;
    qint64 rows = 0;
    QStringList cards;  // カードNO of its rows, in order
    QString firstDate;  // ご利用日 of its earliest and latest row
    QString lastDate;
};

// The deletions within the keep time, newest first (none where the store has
// no table of deleted rows yet). Reads only.
QList<Deletion> listDeletions();

// The outcome of a restore: rows back in the history, and rows that were
// there already (the same ROW_UID stored again since) and were left alone.
struct Restored {
    qint64 restored = 0;
    qint64 alreadyThere = 0;
};

// Puts every row of deletion id back into ETC_DATA with its ROW_UID and
// removes them from ETC_DELETED, in one transaction: all or nothing. Two
// PCs at once restore it once: the second finds it gone (DeletionGone).
// progress(done, total) is asked between parts of the work (and another
// PC's lock is waited for in bounded tries with it); false undoes
// everything and throws WorkStopped.
Restored restoreDeletion(const QString &id, const std::function<bool(qint64, qint64)> &progress = {});

// The deletion is not there any more: restored by someone, or past its keep time.
class DeletionGone : public ExpectedFailure {
public:
    DeletionGone();
};

// The deleting half, for the checked delete (ShownRows.cpp): runs
// storeDelete (a DELETE of ETC_DATA already in the store's dialect) in the
// caller's open transaction on db, copies every row it removed into
// ETC_DELETED under one new deletion, removes deletions past their keep time
// and returns the rows deleted. A server without the table refuses before
// anything is deleted.
qint64 deleteKeepingCopy(QSqlDatabase db, bool server, const QString &storeDelete);

} // namespace history
