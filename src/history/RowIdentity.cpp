#include "history/RowIdentity.h"

#include "history/Database.h"
#include "history/HistoryCheck.h"
#include "history/SqlDialect.h"
#include "history/Transaction.h"

#include <QSqlQuery>
#include <QStringList>

namespace {

const QString &kRowUid = history::kRowUidColumn;
const QString &kNewRowUidSql = history::kNewRowUidSql;

// The columns of the history file's ETC_DATA, by name.
QStringList tableColumns(QSqlDatabase db, const QString &table)
{
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("PRAGMA table_info(") + table + QLatin1Char(')'));
    QStringList names;
    while (q.next())
        names << q.value(1).toString();
    return names;
}

// The name under which this history file marked the rows it copied to the
// server before rows had identities of their own (none when it never did).
QString legacyPcIdOf(QSqlDatabase local)
{
    QSqlQuery q(local);
    if (!q.exec(QStringLiteral("SELECT ID FROM PASSLOG_PC LIMIT 1")) || !q.next())
        return {};
    return q.value(0).toString();
}

} // namespace

QString history::legacyPcId(QSqlDatabase local) { return legacyPcIdOf(local); }

void history::ensureRowIdentity(QSqlDatabase db)
{
    QSqlQuery q(db);
    if (!tableColumns(db, kTableData).contains(kRowUid, Qt::CaseInsensitive)) {
        history::requireSoundHistory();
        history::Transaction transaction(db, false);
        history::runText(q, QStringLiteral("ALTER TABLE ETC_DATA ADD COLUMN ") + kRowUid + QStringLiteral(" TEXT"));
        // Rows this file copied to the server earlier are known there by the
        // file's name and their row number: they keep that as their
        // identity, so that the next copy finds them there.
        const QString pc = legacyPcIdOf(db);
        history::runText(q, QStringLiteral("UPDATE ETC_DATA SET ") + kRowUid + QLatin1Char('=') +
                   (pc.isEmpty() ? kNewRowUidSql
                                 : QLatin1Char('\'') + sqldialect::quoted(pc) + QStringLiteral(":'||rowid")));
        transaction.commit();
    }
    history::runText(q, QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS ETC_DATA_ROW_UID ON ETC_DATA (") + kRowUid +
               QLatin1Char(')'));
    // Rows stored by other tools get theirs now (the index finds them at
    // once). Looked for first: an update takes the file's write lock even
    // when it changes nothing, and a start must not wait for a long import.
    history::runText(q, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ETC_DATA WHERE ") + kRowUid +
                         QStringLiteral(" IS NULL)"));
    const bool missing = q.next() && q.value(0).toBool();
    q.finish();
    if (missing) {
        history::requireSoundHistory();
        history::runText(q, QStringLiteral("UPDATE ETC_DATA SET ") + kRowUid + QLatin1Char('=') + kNewRowUidSql +
                             QStringLiteral(" WHERE ") + kRowUid + QStringLiteral(" IS NULL"));
    }
}
