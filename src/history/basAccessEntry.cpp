#include "history/basAccessEntry.h"

#include "app/Failure.h"
#include "history/HistoryColumns.h"
#include "history/JetSql.h"
#include "history/basAccess.h"

#include <QUuid>

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

// The value of a staged column as the server's column takes it.
QVariant serverValue(const QString &column, const QVariant &value)
{
    if (column == kColumnPrintFlag)
        return value.isNull() ? QVariant(false) : QVariant(value.toLongLong() != 0);
    return value;
}

void runOnServer(QSqlQuery &q, const QString &sql)
{
    if (!q.exec(sql))
        throwServerError(q.lastError());
}

// The staged rows into the server's history, in one server transaction: a
// row the server refuses is rolled back to its savepoint and skipped; a
// server that goes away rolls the whole transaction back by itself, and the
// failure names it.
qint64 registerOnServer(QSqlDatabase local, const QString &cardNo)
{
    QSqlDatabase server = basAccess_Database(DbConnection::Server);
    const QStringList &columns = kHistoryColumnNames;
    QSqlQuery insert(server);
    if (!insert.prepare(jetsql::toPostgres(insertStatement(kTableData, columns))))
        throwServerError(insert.lastError());
    QSqlQuery staged(local);
    staged.setForwardOnly(true);
    run(staged, QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) +
                    QStringLiteral(" FROM ETC_TEMP ORDER BY rowid"));
    QSqlQuery control(server);
    runOnServer(control, QStringLiteral("BEGIN"));
    qint64 registered = 0;
    try {
        while (staged.next()) {
            runOnServer(control, QStringLiteral("SAVEPOINT staged_row"));
            for (int i = 0; i < columns.size(); ++i)
                insert.bindValue(i, isCardNumberColumn(columns[i]) ? QVariant(cardNo)
                                                                   : serverValue(columns[i], staged.value(i)));
            if (insert.exec()) {
                ++registered;
            } else {
                const QSqlError refused = insert.lastError();
                if (!control.exec(QStringLiteral("ROLLBACK TO SAVEPOINT staged_row")))
                    throwServerError(refused);
            }
            runOnServer(control, QStringLiteral("RELEASE SAVEPOINT staged_row"));
        }
        if (staged.lastError().isValid())
            throwSqlError(staged.lastError());
        staged.finish();
        runOnServer(control, QStringLiteral("COMMIT"));
    } catch (...) {
        control.exec(QStringLiteral("ROLLBACK")); // fails harmlessly when the server is gone
        throw;
    }
    return registered;
}

// This PC's name for the rows it copies to the server: made once, kept in
// the history file.
QString thisPcId(QSqlDatabase local)
{
    QSqlQuery q(local);
    run(q, QStringLiteral("CREATE TABLE IF NOT EXISTS PASSLOG_PC (ID TEXT NOT NULL)"));
    run(q, QStringLiteral("SELECT ID FROM PASSLOG_PC LIMIT 1"));
    if (q.next())
        return q.value(0).toString();
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    q.prepare(QStringLiteral("INSERT INTO PASSLOG_PC (ID) VALUES (?)"));
    q.addBindValue(id);
    if (!q.exec())
        throwSqlError(q.lastError());
    return id;
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
        control.finish();
        if (basAccess_UsesServer())
            return registerOnServer(db, cardNo);

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

qint64 basAccess_CopyHistoryToServer()
{
    return guarded("basAccess_CopyHistoryToServer", [&]() -> qint64 {
        if (!basAccess_UsesServer())
            throw Failure(3704, QStringLiteral("共有の履歴サーバーが設定されていません。 ([") + kSectionDatabase +
                                    QStringLiteral("] Driver=PSQL)"));
        QSqlDatabase local = basAccess_Database(DbConnection::History);
        QSqlDatabase server = basAccess_Database(DbConnection::Server);
        const QString pc = thisPcId(local);
        QStringList columns = kHistoryColumnNames;
        const QString sql = jetsql::toPostgres(insertStatement(kTableData, columns + QStringList{"SOURCE_PC", "SOURCE_ROW"})) +
                            QStringLiteral(" ON CONFLICT (SOURCE_PC, SOURCE_ROW) DO NOTHING");
        QSqlQuery insert(server);
        if (!insert.prepare(sql))
            throwServerError(insert.lastError());
        QSqlQuery rows(local);
        rows.setForwardOnly(true);
        run(rows, QStringLiteral("SELECT rowid,") + columns.join(QLatin1Char(',')) +
                      QStringLiteral(" FROM ETC_DATA ORDER BY rowid"));
        QSqlQuery control(server);
        runOnServer(control, QStringLiteral("BEGIN"));
        qint64 copied = 0;
        try {
            while (rows.next()) {
                for (int i = 0; i < columns.size(); ++i)
                    insert.bindValue(i, serverValue(columns[i], rows.value(i + 1)));
                insert.bindValue(int(columns.size()), pc);
                insert.bindValue(int(columns.size()) + 1, rows.value(0));
                if (!insert.exec())
                    throwServerError(insert.lastError());
                copied += qMax(0, insert.numRowsAffected());
            }
            if (rows.lastError().isValid())
                throwSqlError(rows.lastError());
            rows.finish();
            runOnServer(control, QStringLiteral("COMMIT"));
        } catch (...) {
            control.exec(QStringLiteral("ROLLBACK"));
            throw;
        }
        return copied;
    });
}
