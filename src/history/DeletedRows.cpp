#include "history/DeletedRows.h"
#include "history/Transaction.h"

#include "app/ProfileFile.h"
#include "app/Seams.h"
#include "app/Settings.h"
#include "history/HistoryCheck.h"
#include "history/HistoryColumns.h"
#include "history/Database.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>

namespace history {

namespace {

constexpr int kDefaultKeepDays = 30;
constexpr int kRowsPerInsert = 200;    // rows of one multi-row insert into ETC_DELETED
constexpr int kRowsPerRestore = 1000;  // rows put back between two progress reports
const QString kTimeFormat = QStringLiteral("yyyy/MM/dd HH:mm:ss");

// The deletion's own columns, after the kept columns of the row.
const QStringList kDeletionColumns = {QStringLiteral("DELETE_ID"), QStringLiteral("DELETED_AT"),
                                      QStringLiteral("DELETED_PC"), QStringLiteral("DELETED_USER")};

// A name as the store takes it: the server needs the Japanese ones quoted
// to keep their spelling.
QString storeName(const QString &name, bool server)
{
    for (const QChar c : name)
        if (c.unicode() > 0x7f)
            return server ? QLatin1Char('"') + name + QLatin1Char('"') : name;
    return name;
}

QString storeNames(const QStringList &names, bool server)
{
    QStringList out;
    for (const QString &n : names)
        out << storeName(n, server);
    return out.join(QLatin1Char(','));
}

// The columns of a history row that a deletion keeps: the 28, the row's
// identity, and on the server the names of a row copied from a PC's file
// before identities came. (The server's ROW_ID is given anew on the way back.)
QStringList keptColumns(bool server)
{
    QStringList columns = kHistoryColumnNames;
    columns << QStringLiteral("ROW_UID");
    if (server)
        columns << QStringLiteral("SOURCE_PC") << QStringLiteral("SOURCE_ROW");
    return columns;
}

void run(QSqlQuery &q, const QString &sql, bool server) { history::runText(q, sql, server); }

void runPrepared(QSqlQuery &q, const QString &sql, const QVariantList &values, bool server)
{
    if (!q.prepare(sql)) {
        if (server)
            history::throwServerError(q.lastError());
        history::throwSqlError(q.lastError());
    }
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        if (server)
            history::throwServerError(q.lastError());
        history::throwSqlError(q.lastError());
    }
}

bool hasDeletedTable(QSqlDatabase db, bool server)
{
    QSqlQuery q(db);
    run(q,
        server ? QStringLiteral("SELECT to_regclass('etc_deleted') IS NOT NULL")
               : QStringLiteral("SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type='table' AND name='ETC_DELETED')"),
        server);
    const bool has = q.next() && q.value(0).toBool();
    q.finish();
    return has;
}

// A shared history set up before deleted rows were kept: nothing is deleted
// until the owner has brought it up to date.
void requireDeletedTable(QSqlDatabase db, bool server)
{
    if (!hasDeletedTable(db, server))
        throw ExpectedFailure(-1, QStringLiteral("共有の利用履歴サーバーに、削除した利用履歴を保管するテーブル(ETC_DELETED)が"
                                                 "ありません。何も削除していません。データベースの所有者が passlog server init "
                                                 "をもう一度実行して、サーバーを新しい形にしてください。"));
}

// The oldest deletion time still kept.
QString keepFrom() { return seams::now().addDays(-deletedKeepDays()).toString(kTimeFormat); }

// The rows past their keep time, with its values: by this PC's clock, and on
// the server by the server's own as well (a PC whose clock is wrong, say
// back in 2000 after a flat battery or months ahead, neither loses its own
// deletions at the next PC's delete nor removes everybody else's).
QString expiredCondition(bool server)
{
    return server ? QStringLiteral("DELETED_AT<? AND DELETED_ON_SERVER<now()-make_interval(days => ?)")
                  : QStringLiteral("DELETED_AT<?");
}
QVariantList expiredValues(bool server)
{
    QVariantList values{keepFrom()};
    if (server)
        values << deletedKeepDays();
    return values;
}

void purgeExpired(QSqlDatabase db, bool server)
{
    QSqlQuery q(db);
    runPrepared(q, QStringLiteral("DELETE FROM ETC_DELETED WHERE ") + expiredCondition(server), expiredValues(server),
                server);
    q.finish();
}

QString loginName()
{
    for (const char *name : {"USERNAME", "USER", "LOGNAME"}) {
        const QString value = qEnvironmentVariable(name).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return QDir::home().dirName(); // the home folder bears the login name

}

bool useServer() { return history::usesServer(); }

QSqlDatabase store(bool server) { return history::database(server ? DbConnection::Server : DbConnection::History); }

} // namespace

DeletionGone::DeletionGone()
    : ExpectedFailure(-1, QStringLiteral("選択した削除は、既に元に戻されたか(他のPCからを含みます)、保管期間を過ぎたため、"
                                         "元に戻せませんでした。何も変更していません。一覧を確認してください。"))
{
}

int deletedKeepDays()
{
    const QString value =
        app::readProfileString(kSectionMain, QStringLiteral("DeletedKeepDays"), app::settingsFileName()).trimmed();
    bool ok = false;
    const int days = value.toInt(&ok);
    return ok && days >= 1 && days <= 3650 ? days : kDefaultKeepDays;
}

QString deletionUndoNote()
{
    return QStringLiteral("削除した利用履歴は") + QString::number(deletedKeepDays()) +
           QStringLiteral("日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。");
}

qint64 deleteKeepingCopy(QSqlDatabase db, bool server, const QString &storeDelete)
{
    if (server)
        requireDeletedTable(db, server);
    purgeExpired(db, server);
    const QStringList kept = keptColumns(server);
    QString statement = storeDelete.trimmed();
    while (statement.endsWith(QLatin1Char(';')))
        statement.chop(1);
    statement += QStringLiteral(" RETURNING ") + storeNames(kept, server);

    QSqlQuery gone(db);
    gone.setForwardOnly(!server); // the server's answer is read whole before the copy is written
    run(gone, statement, server);

    const QVariantList deletion = {QUuid::createUuid().toString(QUuid::WithoutBraces),
                                   seams::now().toString(kTimeFormat), QSysInfo::machineHostName(), loginName()};
    const QString head = QStringLiteral("INSERT INTO ETC_DELETED (") + storeNames(kept + kDeletionColumns, server) +
                         QStringLiteral(") VALUES ");
    const QString one =
        QLatin1Char('(') + QStringList(kept.size() + kDeletionColumns.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
        QLatin1Char(')');
    QSqlQuery copy(db);
    QVariantList values;
    int pending = 0;
    qint64 deleted = 0;
    auto flush = [&] {
        if (pending == 0)
            return;
        runPrepared(copy, head + QStringList(pending, one).join(QLatin1Char(',')), values, server);
        copy.finish();
        values.clear();
        pending = 0;
    };
    while (gone.next()) {
        for (int i = 0; i < kept.size(); ++i)
            values << gone.value(i);
        values << deletion;
        ++pending;
        ++deleted;
        if (pending == kRowsPerInsert)
            flush();
    }
    if (gone.lastError().isValid()) {
        if (server)
            history::throwServerError(gone.lastError());
        history::throwSqlError(gone.lastError());
    }
    gone.finish();
    flush();
    return deleted;
}

QList<Deletion> listDeletions()
{
    const bool server = useServer();
    QSqlDatabase db = store(server);
    if (!hasDeletedTable(db, server))
        return {};
    const QString kept = QStringLiteral("NOT (") + expiredCondition(server) + QLatin1Char(')');
    const QVariantList values = expiredValues(server);
    QList<Deletion> out;
    QHash<QString, qsizetype> at;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        runPrepared(q,
                    QStringLiteral("SELECT DELETE_ID,DELETED_AT,MIN(DELETED_PC),MIN(DELETED_USER),COUNT(*),") +
                        QStringLiteral("MIN(") + storeName(QStringLiteral("ご利用日"), server) + QStringLiteral("),MAX(") +
                        storeName(QStringLiteral("ご利用日"), server) +
                        QStringLiteral(") FROM ETC_DELETED WHERE ") + kept +
                        QStringLiteral(" GROUP BY DELETE_ID,DELETED_AT ORDER BY DELETED_AT DESC,MAX(DELETED_ROW) DESC"),
                    values, server);
        while (q.next()) {
            Deletion d;
            d.id = q.value(0).toString();
            d.deletedAt = q.value(1).toString();
            d.pc = q.value(2).toString();
            d.user = q.value(3).toString();
            d.rows = q.value(4).toLongLong();
            d.firstDate = q.value(5).toString();
            d.lastDate = q.value(6).toString();
            at.insert(d.id, out.size());
            out << d;
        }
    }
    {
        const QString card = storeName(QStringLiteral("カードNO"), server);
        QSqlQuery q(db);
        q.setForwardOnly(true);
        runPrepared(q,
                    QStringLiteral("SELECT DELETE_ID,") + card +
                        QStringLiteral(" FROM ETC_DELETED WHERE ") + kept + QStringLiteral(" AND ") + card +
                        QStringLiteral(" IS NOT NULL GROUP BY DELETE_ID,") + card + QStringLiteral(" ORDER BY ") + card,
                    values, server);
        while (q.next()) {
            const auto it = at.constFind(q.value(0).toString());
            if (it != at.constEnd())
                out[*it].cards << q.value(1).toString();
        }
    }
    return out;
}

Restored restoreDeletion(const QString &id, const std::function<bool(qint64, qint64)> &progress)
{
    const bool server = useServer();
    QSqlDatabase db = store(server);
    auto keepGoing = [&](qint64 done, qint64 total) { return !progress || progress(done, total); };
    if (!server)
        requireSoundHistory([&] { return keepGoing(0, 0); });
    if (!hasDeletedTable(db, server))
        throw DeletionGone();
    // One writer at a time: SQLite's write lock, or on the server the lock of
    // ETC_DATA that every delete and restore takes (another PC's restore of
    // the same deletion then finds it gone).
    Transaction transaction(db, server);
    if (server)
        history::lockServerTable(db, QStringLiteral("SHARE ROW EXCLUSIVE"), [&] { return keepGoing(0, 0); });
    purgeExpired(db, server);
    QSqlQuery q(db);
    runPrepared(q, QStringLiteral("SELECT COUNT(*) FROM ETC_DELETED WHERE DELETE_ID=?"), {id}, server);
    const qint64 total = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    if (total == 0)
        throw DeletionGone();

    const QString columns = storeNames(keptColumns(server), server);
    Restored result;
    qint64 done = 0;
    qint64 last = -1;
    for (;;) {
        if (!keepGoing(done, total))
            throw history::WorkStopped();
        // The next part, in the order the rows were deleted.
        runPrepared(q,
                    QStringLiteral("SELECT COUNT(*),MAX(DELETED_ROW) FROM (SELECT DELETED_ROW FROM ETC_DELETED "
                                   "WHERE DELETE_ID=? AND DELETED_ROW>? ORDER BY DELETED_ROW LIMIT ") +
                        QString::number(kRowsPerRestore) + QStringLiteral(") AS part"),
                    {id, last}, server);
        const qint64 rows = q.next() ? q.value(0).toLongLong() : 0;
        const qint64 upTo = rows > 0 ? q.value(1).toLongLong() : last;
        q.finish();
        if (rows == 0)
            break;
        // A row whose identity is in the history again (stored anew
        // since) stays as it is there: nothing is doubled.
        runPrepared(q,
                    QStringLiteral("INSERT INTO ETC_DATA (") + columns + QStringLiteral(") SELECT ") + columns +
                        QStringLiteral(" FROM ETC_DELETED WHERE DELETE_ID=? AND DELETED_ROW>? AND DELETED_ROW<=? "
                                       "ORDER BY DELETED_ROW ON CONFLICT (ROW_UID) DO NOTHING"),
                    {id, last, upTo}, server);
        result.restored += q.numRowsAffected();
        q.finish();
        done += rows;
        last = upTo;
    }
    runPrepared(q, QStringLiteral("DELETE FROM ETC_DELETED WHERE DELETE_ID=?"), {id}, server);
    q.finish();
    if (!keepGoing(total, total))
        throw history::WorkStopped();
    result.alreadyThere = total - result.restored;
    transaction.commit();
    return result;
}

} // namespace history
