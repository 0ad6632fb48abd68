#include "history/ShownRows.h"

#include "history/basAccess.h"
#include "history/basAccessGrid.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {
ShownRows g_shown;

void run(QSqlQuery &q, const QString &sql, bool server) {
  if (q.exec(sql))
    return;
  if (server)
    throwServerError(q.lastError());
  throwSqlError(q.lastError());
}
} // namespace

const ShownRows &basAccess_ShownRows() { return g_shown; }
void basAccess_RememberShown(ShownRows shown) { g_shown = std::move(shown); }

ShownRowsChanged::ShownRowsChanged()
    : ExpectedFailure(-1,
                      QStringLiteral("表示した後に他のPCで利用履歴が変更された"
                                     "ため、削除しませんでした。"
                                     "最新の利用履歴を表示しますので、確認して"
                                     "からもう一度操作してください。")) {}

QVariant basAccess_HighestRowKey() {
  const QString sql = QStringLiteral("SELECT MAX(") +
                      basAccess_RowKey(kTableData) +
                      QStringLiteral(") FROM ETC_DATA;");
  QSqlQuery q = basAccess_Execute(DbConnection::History, sql);
  const QVariant key = q.next() ? q.value(0) : QVariant();
  q.finish();
  return key;
}

qint64 basAccess_DeleteShown(const char *procedureName,
                             const QString &deleteStatement) {
  return guarded(procedureName, [&]() -> qint64 {
    const bool server =
        basAccess_Route(DbConnection::History, deleteStatement) ==
        DbConnection::Server;
    QSqlDatabase db = basAccess_Database(server ? DbConnection::Server
                                                : DbConnection::History);
    QSqlQuery control(db);
    // No other writer until the delete is done: SQLite's write lock, or
    // the server's lock that lets readers through but no change.
    run(control,
        server ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"),
        server);
    try {
      if (server)
        run(control,
            QStringLiteral("LOCK TABLE ETC_DATA IN SHARE ROW EXCLUSIVE MODE"),
            true);
      // Without a view (a delete that showed nothing first) there is
      // nothing to compare with.
      const ShownRows shown = g_shown;
      if (!shown.source.isEmpty()) {
        const QVariant highest = basAccess_HighestRowKey();
        QSqlQuery totals = basAccess_Execute(
            DbConnection::History, basAccess_GridTotalsSql(shown.source));
        const qint64 count = totals.next() ? totals.value(0).toLongLong() : 0;
        totals.finish();
        if (count != shown.count ||
            highest.toString() != shown.highestKey.toString())
          throw ShownRowsChanged();
      }
      QSqlQuery q = basAccess_Execute(DbConnection::History, deleteStatement);
      const qint64 deleted = q.numRowsAffected();
      q.finish();
      run(control, QStringLiteral("COMMIT"), server);
      return deleted;
    } catch (...) {
      control.exec(QStringLiteral("ROLLBACK"));
      throw;
    }
  });
}
