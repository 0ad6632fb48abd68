#include "history/basAccessEntry.h"

#include "app/Failure.h"
#include "history/HistoryColumns.h"
#include "history/basAccess.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {
bool isCardNumberColumn(const QString &column)
{
    return column == QStringLiteral("CARD_ID") || column == QStringLiteral("カードNO");
}

void run(QSqlQuery &q, const QString &sql)
{
    if (!q.exec(sql))
        throwSqlError(q.lastError());
}

// Failures after which the store may have ended the whole transaction on its
// own (disk full, I/O, memory, lock, damaged file): the copy cannot go on.
bool endsTheCopy(const QSqlError &error)
{
    bool ok = false;
    const long code = error.nativeErrorCode().toLong(&ok) & 0xff; // primary code of an extended one
    if (!ok)
        return false;
    switch (code) {
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
    case 7:  // SQLITE_NOMEM
    case 8:  // SQLITE_READONLY
    case 10: // SQLITE_IOERR
    case 11: // SQLITE_CORRUPT
    case 13: // SQLITE_FULL
    case 14: // SQLITE_CANTOPEN
    case 26: // SQLITE_NOTADB
        return true;
    default:
        return false;
    }
}
} // namespace

qint64 basAccess_MDBTBLEntry(const QString &cardNo)
{
    return guarded("basAccess_MDBTBLEntry", [&]() -> qint64 {
        QSqlDatabase db = basAccess_Database(DbConnection::History);
        QSqlQuery control(db);
        run(control, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ETC_TEMP)"));
        if (!control.next() || !control.value(0).toBool())
            return 0; // nothing staged: ETC_DATA is not touched

        // Every column is copied; the two card-number columns take the registered number.
        const QStringList &columns = kHistoryColumnNames;
        QSqlQuery insert(db);
        if (!insert.prepare(insertStatement(kTableData, columns)))
            throwSqlError(insert.lastError());

        run(control, QStringLiteral("BEGIN IMMEDIATE"));
        qint64 registered = 0;
        try {
            QSqlQuery staged(db);
            staged.setForwardOnly(true);
            run(staged, QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) +
                            QStringLiteral(" FROM ETC_TEMP ORDER BY rowid"));
            QSqlQuery savepoint(db);
            while (staged.next()) {
                // A refused row is rolled back to its savepoint and skipped. A
                // savepoint that cannot be set or rolled back to means the
                // transaction is gone (the store rolled it back by itself): going
                // on would commit the remaining rows one by one, so the whole
                // registration is abandoned instead.
                run(savepoint, QStringLiteral("SAVEPOINT staged_row"));
                for (int i = 0; i < columns.size(); ++i)
                    insert.bindValue(i, isCardNumberColumn(columns[i]) ? QVariant(cardNo) : staged.value(i));
                if (insert.exec()) {
                    ++registered;
                } else {
                    const QSqlError refused = insert.lastError();
                    if (endsTheCopy(refused) || !savepoint.exec(QStringLiteral("ROLLBACK TO staged_row")))
                        throwSqlError(refused);
                }
                run(savepoint, QStringLiteral("RELEASE staged_row"));
            }
            if (staged.lastError().isValid())
                throwSqlError(staged.lastError());
            staged.finish();
            run(control, QStringLiteral("COMMIT"));
        } catch (...) {
            control.exec(QStringLiteral("ROLLBACK")); // fails harmlessly when the store already rolled back
            throw;
        }
        return registered;
    });
}
