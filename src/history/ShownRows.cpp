#include "history/DeletedRows.h"
#include "history/HistoryCheck.h"
#include "history/ShownRows.h"
#include "history/HistoryStore.h"
#include "history/Transaction.h"

#include "history/Database.h"
#include "history/GridLoad.h"

#include <QSqlError>
#include <QSqlQuery>

const ShownRows &history::shownRows()
{
    return history::store().shown;
}
void history::rememberShown(ShownRows shown)
{
    history::store().shown = std::move(shown);
}

history::ShownRowsChanged::ShownRowsChanged()
    : ExpectedFailure(-1, QStringLiteral("表示した後に他のPCで利用履歴が変更された"
                                         "ため、削除しませんでした。"
                                         "最新の利用履歴を表示しますので、確認して"
                                         "からもう一度操作してください。"))
{
}

QVariant history::highestRowKey()
{
    const QString sql =
        QStringLiteral("SELECT MAX(") + history::rowKeyColumn(kTableData) + QStringLiteral(") FROM ETC_DATA;");
    QSqlQuery q = history::execute(DbConnection::History, sql);
    const QVariant key = q.next() ? q.value(0) : QVariant();
    q.finish();
    return key;
}

namespace {
// The checked delete on one connection: the server's, the program's own to
// the history file, or a worker's own to it.
qint64 deleteChecked(QSqlDatabase db, bool server, const ShownRows &shown, const QString &deleteStatement,
                     const std::function<bool()> &stopped, const history::KeepGoing &keepGoing = {})
{
    auto exec = [&](const QString &jet) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        history::runText(q, server ? history::serverText(jet) : history::sqliteText(jet), server);
        return q;
    };
    // No other writer until the delete is done: SQLite's write lock, or
    // the server's lock that lets readers through but no change.
    history::Transaction transaction(db, server);
    // Another PC's change in progress is waited for in short tries,
    // bounded in all, with the progress (and 中止) between them.
    if (server)
        history::lockServerTable(db, QStringLiteral("SHARE ROW EXCLUSIVE"), keepGoing);
    // Without a view (a delete that showed nothing first) there is
    // nothing to compare with.
    if (!shown.source.isEmpty()) {
        QSqlQuery highest =
            exec(QStringLiteral("SELECT MAX(") + (server ? QStringLiteral("ROW_ID") : QStringLiteral("rowid")) +
                 QStringLiteral(") FROM ETC_DATA;"));
        const QVariant key = highest.next() ? highest.value(0) : QVariant();
        highest.finish();
        QSqlQuery totals = exec(history::gridTotalsSql(shown.source));
        const qint64 count = totals.next() ? totals.value(0).toLongLong() : 0;
        totals.finish();
        if (count != shown.count || key.toString() != shown.highestKey.toString())
            throw history::ShownRowsChanged();
    }
    // What goes is kept in ETC_DELETED, in this same transaction, so
    // that the deletion can be undone for a while.
    const qint64 deleted = history::deleteKeepingCopy(
        db, server, server ? history::serverText(deleteStatement) : history::sqliteText(deleteStatement));
    // A 中止 while the server worked undoes the delete as well.
    if ((stopped && stopped()) || (server && keepGoing && !keepGoing()))
        throw history::WorkStopped();
    transaction.commit();
    return deleted;
}
} // namespace

qint64 history::deleteShown(app::Procedure procedure, const QString &deleteStatement, const history::KeepGoing &keepGoing)
{
    return app::tagged(procedure, [&]() -> qint64 {
        const bool server = history::route(DbConnection::History, deleteStatement) == DbConnection::Server;
        const ShownRows shown = history::store().shown;
        if (!server)
            history::requireSoundHistory(keepGoing);
        if (server || !keepGoing)
            return deleteChecked(history::database(server ? DbConnection::Server : DbConnection::History), server,
                                 shown, deleteStatement, {}, keepGoing);
        qint64 deleted = 0;
        history::runOnOwnHistoryConnection(
            [&](QSqlDatabase own, const std::function<bool()> &stopped) {
                deleted = deleteChecked(own, false, shown, deleteStatement, stopped);
            },
            keepGoing);
        return deleted;
    });
}
