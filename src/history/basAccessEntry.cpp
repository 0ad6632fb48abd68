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
} // namespace

void basAccess_MDBTBLEntry(const QString &cardNo)
{
    guarded("basAccess_MDBTBLEntry", [&] {
        QSqlDatabase db = basAccess_Database(DbConnection::History);
        QSqlQuery control(db);
        run(control, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ETC_TEMP)"));
        if (!control.next() || !control.value(0).toBool())
            return; // nothing staged: ETC_DATA is not touched

        // Every column is copied; the two card-number columns take the registered number.
        const QStringList &columns = kHistoryColumnNames;
        QSqlQuery insert(db);
        if (!insert.prepare(insertStatement(kTableData, columns)))
            throwSqlError(insert.lastError());

        run(control, QStringLiteral("BEGIN IMMEDIATE"));
        try {
            QSqlQuery staged(db);
            staged.setForwardOnly(true);
            run(staged, QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) +
                            QStringLiteral(" FROM ETC_TEMP ORDER BY rowid"));
            QSqlQuery savepoint(db);
            while (staged.next()) {
                // A refused row is rolled back to its savepoint and skipped.
                if (!savepoint.exec(QStringLiteral("SAVEPOINT staged_row")))
                    continue;
                for (int i = 0; i < columns.size(); ++i)
                    insert.bindValue(i, isCardNumberColumn(columns[i]) ? QVariant(cardNo) : staged.value(i));
                if (!insert.exec())
                    savepoint.exec(QStringLiteral("ROLLBACK TO staged_row"));
                savepoint.exec(QStringLiteral("RELEASE staged_row"));
            }
            if (staged.lastError().isValid())
                throwSqlError(staged.lastError());
            staged.finish();
            run(control, QStringLiteral("COMMIT"));
        } catch (...) {
            control.exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    });
}
