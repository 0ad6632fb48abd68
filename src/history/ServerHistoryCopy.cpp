#include "history/Registration.h"
#include "history/RowIdentity.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "history/Database.h"
#include "history/DatabaseErrors.h"
#include "history/DeletedRows.h"
#include "history/HistoryCheck.h"
#include "history/HistoryColumns.h"
#include "history/HistoryFileRows.h"
#include "history/HistoryWorker.h"
#include "history/ServerCopy.h"
#include "history/SqlDialect.h"
#include "history/Transaction.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

// The copy of a PC's history file into the shared history (passlog
// --copy-history-to-server): its rows and its deleted rows, known by their
// identity, in one server transaction.

namespace {

const QString &kRowUid = history::kRowUidColumn;

// A column of ETC_DATA as the server spells it.
QString serverColumn(const QString &column, const QString &table = QString())
{
    const bool ascii = std::all_of(column.cbegin(), column.cend(), [](QChar c) { return c.unicode() < 0x80; });
    return (table.isEmpty() ? QString() : table + QLatin1Char('.')) +
           (ascii ? column : QLatin1Char('"') + column + QLatin1Char('"'));
}

QString serverColumns(const QStringList &columns, const QString &table = QString())
{
    QStringList out;
    for (const QString &c : columns)
        out << serverColumn(c, table);
    return out.join(QLatin1Char(','));
}

// The refusal of a copy to the server: nothing was copied.
[[noreturn]] void refuseCopy(const QString &row, const QString &reason)
{
    QString text = QStringLiteral("共有の利用履歴サーバーへコピーできませんでした。何もコピーされていません。");
    if (!row.isEmpty())
        text += QStringLiteral(" 受け付けられなかった利用履歴: ") + row + QStringLiteral("。");
    throw ExpectedFailure(-1, text + QStringLiteral(" 理由: ") + reason.trimmed());
}

// One of the 28 columns of a history file's row (column of rows, named
// name) into the copy, as the server's column takes it. The server takes no
// NUL and the history keeps no control character: a row that holds one is
// named, not sent.
void copyFileValue(history::ServerCopyIn &copy, history::HistoryFileRows &rows, int column, const QString &name)
{
    switch (rows.kind(column)) {
    case history::HistoryFileRows::Kind::Null:
        if (name == kColumnPrintFlag)
            copy.boolean(false);
        else
            copy.null();
        return;
    case history::HistoryFileRows::Kind::Integer:
        if (name == kColumnPrintFlag)
            copy.boolean(rows.integer(column) != 0);
        else
            copy.integer(rows.integer(column));
        return;
    default: {
        const std::string_view v = rows.bytes(column);
        const auto bad = std::find_if(v.begin(), v.end(), [](char c) { return quint8(c) < 0x20 || c == 0x7f; });
        if (bad != v.end()) {
            const auto textOf = [&](const QString &column) {
                const int i = rows.column(column);
                const std::string_view t = i < 0 ? std::string_view() : rows.bytes(i);
                return QString::fromUtf8(t.data(), qsizetype(t.size()));
            };
            refuseCopy(QStringLiteral("%1 %2 %3 → %4")
                           .arg(textOf(QStringLiteral("ご利用日")), textOf(QStringLiteral("通過時間")),
                                textOf(QStringLiteral("入口料金所")), textOf(QStringLiteral("出口料金所")))
                           .simplified(),
                       name + QStringLiteral(" に制御文字 ") +
                           QStringLiteral("U+%1").arg(int(quint8(*bad)), 4, 16, QLatin1Char('0')).toUpper() +
                           QStringLiteral(" があります。"));
        }
        copy.text(v);
    }
    }
}

// The deletions the history file keeps within their keep time (DB削除 and
// 重複レコード削除 made before the PC joined the server) go to the server's
// table of deleted rows with its rows, in the same transaction, so that
// they can still be undone there. A deletion is known by its id: one the
// server holds already is not copied again, and each goes whole. Their time
// on the server starts with the copy (the server's clock only ever keeps a
// deletion longer). A server set up before that table came gets them at a
// copy after its owner's next init.
void copyDeletionsToServer(QSqlDatabase local, QSqlDatabase server)
{
    QSqlQuery q(server);
    history::runText(q, QStringLiteral("SELECT to_regclass('public.etc_deleted') IS NOT NULL"), true);
    const bool serverKeeps = q.next() && q.value(0).toBool();
    q.finish();
    QSqlQuery l(local);
    history::runText(l, QStringLiteral("SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type='table' AND "
                                       "name='ETC_DELETED')"));
    const bool fileKeeps = l.next() && l.value(0).toBool();
    l.finish();
    if (!serverKeeps || !fileKeeps)
        return;
    const QStringList columns = kHistoryColumnNames + QStringList{kRowUid,
                                                                  QStringLiteral("DELETE_ID"),
                                                                  QStringLiteral("DELETED_AT"),
                                                                  QStringLiteral("DELETED_PC"),
                                                                  QStringLiteral("DELETED_USER")};
    const QString keptFrom =
        seams::now().addDays(-history::deletedKeepDays()).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    history::HistoryFileRows rows(QStringLiteral("SELECT ") + columns.join(QLatin1Char(',')) +
                                  QStringLiteral(" FROM ETC_DELETED WHERE DELETED_AT >= '") + keptFrom +
                                  QStringLiteral("' ORDER BY DELETED_ROW"));
    const QString staging = QStringLiteral("passlog_copy_deleted");
    history::runText(q, QStringLiteral("CREATE TEMP TABLE ") + staging + QStringLiteral(" ON COMMIT DROP AS SELECT ") +
                            serverColumns(columns) +
                            QStringLiteral(", 0::bigint AS passlog_nth FROM public.ETC_DELETED WITH NO DATA"),
                     true);
    history::ServerCopyIn copy(server, staging, columns + QStringList{QStringLiteral("passlog_nth")});
    qint64 nth = 0;
    while (rows.next()) {
        for (int i = 0; i < kHistoryColumnNames.size(); ++i)
            copyFileValue(copy, rows, i, kHistoryColumnNames[i]);
        for (int i = int(kHistoryColumnNames.size()); i < columns.size(); ++i) {
            if (rows.kind(i) == history::HistoryFileRows::Kind::Null)
                copy.null();
            else
                copy.text(rows.bytes(i));
        }
        copy.integer(++nth);
        copy.endRow();
    }
    copy.finish();
    if (nth == 0)
        return;
    history::runText(q, QStringLiteral("INSERT INTO public.ETC_DELETED (") + serverColumns(columns) +
                            QStringLiteral(") SELECT ") +
                            serverColumns(columns, QStringLiteral("c"))
                                .replace(QStringLiteral("c.ROW_UID"),
                                         QStringLiteral("COALESCE(c.ROW_UID, gen_random_uuid()::text)")) +
                            QStringLiteral(" FROM ") + staging +
                            QStringLiteral(" c WHERE NOT EXISTS (SELECT 1 FROM public.ETC_DELETED e WHERE "
                                           "e.DELETE_ID = c.DELETE_ID) ORDER BY c.passlog_nth"),
                     true);
    q.finish();
}

} // namespace

qint64 history::copyHistoryToServer(const std::function<void(qint64, qint64)> &progress)
{
    return app::tagged(app::Procedure::CopyHistoryToServer, [&]() -> qint64 {
        if (!history::usesServer())
            throw Failure(3704, QStringLiteral("共有の履歴サーバーが設定されていません。 ([") + kSectionDatabase +
                                    QStringLiteral("] Driver=PSQL)"));
        QSqlDatabase local = history::database(DbConnection::History);
        QSqlDatabase server = history::database(DbConnection::Server);
        history::ensureRowIdentity(local);
        const QString pc = history::legacyPcId(local);
        // The rows go to a table of this transaction first; one statement then
        // adds those the server lacks. A row is there when its identity is
        // (repeated runs, reused row numbers, a program folder copied to
        // another PC); a passage stored from another source (the same CSV
        // imported on two PCs) counts as CSV取込 counts it: the server's
        // copies of it are used up first, only the rest are added.
        const QString staging = QStringLiteral("passlog_copy");
        const QStringList columns = kHistoryColumnNames + QStringList{kRowUid, QStringLiteral("SOURCE_PC"),
                                                                      QStringLiteral("SOURCE_ROW")};
        QSqlQuery count(local);
        history::runText(count, QStringLiteral("SELECT COUNT(*) FROM ETC_DATA"));
        const qint64 total = count.next() ? count.value(0).toLongLong() : 0;
        count.finish();
        // Straight from SQLite: a text's UTF-8 bytes go to the server as they are.
        history::HistoryFileRows rows(QStringLiteral("SELECT rowid,") + kHistoryColumnNames.join(QLatin1Char(',')) +
                             QLatin1Char(',') + kRowUid + QStringLiteral(" FROM ETC_DATA ORDER BY rowid"));
        QSqlQuery control(server);
        history::Transaction transaction(server, true);
        qint64 copied = 0;
        qint64 done = 0;
        history::lockServerHistoryWriters(server);
        history::runText(control, QStringLiteral("CREATE TEMP TABLE ") + staging + QStringLiteral(" ON COMMIT DROP AS SELECT ") +
                                   serverColumns(columns) + QStringLiteral(" FROM ETC_DATA WITH NO DATA"),
                      true);
        const QByteArray sourcePc = pc.toUtf8();
        history::ServerCopyIn copy(server, staging, columns);
        while (rows.next()) {
            for (int i = 0; i < kHistoryColumnNames.size(); ++i)
                copyFileValue(copy, rows, i + 1, kHistoryColumnNames[i]);
            const int uid = int(kHistoryColumnNames.size()) + 1;
            if (rows.kind(uid) == history::HistoryFileRows::Kind::Null)
                copy.null();
            else
                copy.text(rows.bytes(uid));
            if (pc.isEmpty())
                copy.null();
            else
                copy.text(std::string_view(sourcePc.constData(), size_t(sourcePc.size())));
            copy.integer(rows.integer(0));
            copy.endRow();
            if (progress && ++done % 4096 == 0)
                progress(done, total);
        }
        copy.finish();
        if (progress)
            progress(done, total);
        history::runText(control, QStringLiteral("ANALYZE ") + staging, true);
        // More rows than the server holds: its indexes are built once, after.
        history::ServerBulkLoad bulk(server, done, {});
        // The passage of a row: the values the CSV file holds of it.
        const QStringList passage = history::passageColumns();
        const QString key = QStringLiteral("ROW(") + serverColumns(passage, QStringLiteral("%1")) +
                            QStringLiteral(")::text");
        QSqlQuery add(server);
        // The server cannot foresee how many rows each part keeps, and a
        // nested loop over two parts that keep many is quadratic (minutes
        // for 20,000 rows): every join here hashes or merges.
        history::runText(add, QStringLiteral("SET LOCAL enable_nestloop = off"), true);
        history::runText(add,
                         QStringLiteral("WITH fresh AS (SELECT c.*, ") + key.arg(QStringLiteral("c")) +
                         QStringLiteral(" AS passlog_key, row_number() OVER (PARTITION BY ") +
                         key.arg(QStringLiteral("c")) + QStringLiteral(" ORDER BY c.SOURCE_ROW) AS passlog_nth FROM ") +
                         staging + QStringLiteral(" c WHERE NOT EXISTS (SELECT 1 FROM ETC_DATA d WHERE d.") + kRowUid +
                         QStringLiteral(" = c.") + kRowUid +
                         QStringLiteral(")), held AS (SELECT ") + key.arg(QStringLiteral("d")) +
                         QStringLiteral(" AS passlog_key, count(*) AS n FROM ETC_DATA d WHERE NOT EXISTS (SELECT 1 FROM ") +
                         staging + QStringLiteral(" c WHERE c.") + kRowUid + QStringLiteral(" = d.") + kRowUid +
                          // (only where the copied passages lie: the cost is the copy's, not the server's)
                          QStringLiteral(") AND EXISTS (SELECT 1 FROM ") + staging +
                          // (by the passage's date and time: a server row's DATE_TIME may say otherwise)
                          QStringLiteral(" c WHERE c.\"カードNO\" = d.\"カードNO\" AND c.PASS_DATE = d.PASS_DATE "
                                         "AND c.PASS_TIME = d.PASS_TIME)"
                                         " GROUP BY 1) INSERT INTO ETC_DATA (") + serverColumns(columns) +
                          QStringLiteral(") SELECT ") + serverColumns(columns, QStringLiteral("f")) +
                          QStringLiteral(" FROM fresh f LEFT JOIN held h ON h.passlog_key = f.passlog_key"
                                         " WHERE f.passlog_nth > COALESCE(h.n, 0)"),
                      true);
        copied = qMax(0, add.numRowsAffected());
        add.finish();
        copyDeletionsToServer(local, server);
        bulk.rebuild({});
        transaction.commit();
        return copied;
    });
}
