#include "history/basAccessEntry.h"

#include "app/Failure.h"
#include "history/basAccess.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {
// The history columns in the order they are assigned; the two card-number
// columns take the registered number, every other column its staged value.
const QStringList kColumns = {
    QStringLiteral("ITC_IN"),    QStringLiteral("ITC_IN_ROAD"),  QStringLiteral("ITC_IN_GATE"),
    QStringLiteral("JID_IN"),    QStringLiteral("JID_IN_NAME"),  QStringLiteral("ITC_OUT"),
    QStringLiteral("ITC_OUT_ROAD"), QStringLiteral("ITC_OUT_GATE"), QStringLiteral("JID_OUT"),
    QStringLiteral("JID_OUT_NAME"), QStringLiteral("REG_DATE"),  QStringLiteral("REG_TIME"),
    QStringLiteral("CARD_ID"),   QStringLiteral("PASS_DATE"),    QStringLiteral("PASS_TIME"),
    QStringLiteral("DATE_TIME"), QStringLiteral("CAR_CODE"),     QStringLiteral("CAR_NAME"),
    QStringLiteral("PASS_MONEY"), QStringLiteral("PASS_UNIT"),   QStringLiteral("PRINT_FLAG"),
    QStringLiteral("カードNO"),  QStringLiteral("ご利用日"),     QStringLiteral("通過時間"),
    QStringLiteral("通行料金"),  QStringLiteral("車種"),         QStringLiteral("入口料金所"),
    QStringLiteral("出口料金所")};

bool isCardNumberColumn(const QString &column)
{
    return column == QStringLiteral("CARD_ID") || column == QStringLiteral("カードNO");
}

[[noreturn]] void fail(const QSqlError &error)
{
    bool ok = false;
    const long number = error.nativeErrorCode().toLong(&ok);
    throw Failure(ok ? number : -1, error.text());
}

void run(QSqlQuery &q, const QString &sql)
{
    if (!q.exec(sql))
        fail(q.lastError());
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

        QStringList placeholders;
        for (int i = 0; i < kColumns.size(); ++i)
            placeholders << QStringLiteral("?");
        QSqlQuery insert(db);
        if (!insert.prepare(QStringLiteral("INSERT INTO ETC_DATA (") + kColumns.join(QLatin1Char(',')) +
                            QStringLiteral(") VALUES (") + placeholders.join(QLatin1Char(',')) +
                            QLatin1Char(')')))
            fail(insert.lastError());

        run(control, QStringLiteral("BEGIN IMMEDIATE"));
        qint64 registered = 0;
        try {
            QSqlQuery staged(db);
            staged.setForwardOnly(true);
            run(staged, QStringLiteral("SELECT ") + kColumns.join(QLatin1Char(',')) +
                            QStringLiteral(" FROM ETC_TEMP ORDER BY rowid"));
            QSqlQuery savepoint(db);
            while (staged.next()) {
                // A refused row is rolled back to its savepoint and skipped. A
                // savepoint that cannot be set or rolled back to means the
                // transaction is gone (the store rolled it back by itself): going
                // on would commit the remaining rows one by one, so the whole
                // registration is abandoned instead.
                run(savepoint, QStringLiteral("SAVEPOINT staged_row"));
                for (int i = 0; i < kColumns.size(); ++i)
                    insert.bindValue(i, isCardNumberColumn(kColumns[i]) ? QVariant(cardNo) : staged.value(i));
                if (insert.exec()) {
                    ++registered;
                } else {
                    const QSqlError refused = insert.lastError();
                    if (endsTheCopy(refused) || !savepoint.exec(QStringLiteral("ROLLBACK TO staged_row")))
                        fail(refused);
                }
                run(savepoint, QStringLiteral("RELEASE staged_row"));
            }
            if (staged.lastError().isValid())
                fail(staged.lastError());
            staged.finish();
            run(control, QStringLiteral("COMMIT"));
        } catch (...) {
            control.exec(QStringLiteral("ROLLBACK")); // fails harmlessly when the store already rolled back
            throw;
        }
        return registered;
    });
}
