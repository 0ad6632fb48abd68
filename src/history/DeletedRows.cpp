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
#include <QScopeGuard>

namespace history {

namespace {

constexpr int kDefaultKeepDays = 30;
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

// The oldest deletion time still kept, by this PC's clock: what is older is
// neither listed nor put back.
QString keepFrom() { return seams::now().addDays(-deletedKeepDays()).toString(kTimeFormat); }

// The oldest deletion time that is not removed for good: by this PC's clock,
// but never later than the newest deletion already kept allows. A clock far
// ahead (a year after a wrong setting) would otherwise call every deletion
// expired and remove them all; what it hides now, a run with the right clock
// lists again. (So a deletion may stay stored for up to the keep time after
// the next one.)
QString purgeFrom(QSqlDatabase db, bool server)
{
    QDateTime reference = seams::now();
    QSqlQuery q(db);
    run(q, QStringLiteral("SELECT MAX(DELETED_AT) FROM ETC_DELETED"), server);
    if (q.next()) {
        const QDateTime newest = QDateTime::fromString(q.value(0).toString(), kTimeFormat);
        if (newest.isValid() && newest < reference)
            reference = newest;
    }
    q.finish();
    return reference.addDays(-deletedKeepDays()).toString(kTimeFormat);
}

// The rows past their keep time, with its values: by this PC's clock, and on
// the server by the server's own as well (a PC whose clock is wrong, say
// back in 2000 after a flat battery or months ahead, neither loses its own
// deletions at the next PC's delete nor removes everybody else's).
QString expiredCondition(bool server)
{
    return server ? QStringLiteral("DELETED_AT<? AND DELETED_ON_SERVER<now()-make_interval(days => ?)")
                  : QStringLiteral("DELETED_AT<?");
}
QVariantList expiredValues(bool server, const QString &from = keepFrom())
{
    QVariantList values{from};
    if (server)
        values << deletedKeepDays();
    return values;
}

void purgeExpired(QSqlDatabase db, bool server)
{
    QSqlQuery q(db);
    runPrepared(q, QStringLiteral("DELETE FROM ETC_DELETED WHERE ") + expiredCondition(server),
                expiredValues(server, purgeFrom(db, server)), server);
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
    const QStringList deletion = {QUuid::createUuid().toString(QUuid::WithoutBraces), seams::now().toString(kTimeFormat),
                                  QSysInfo::machineHostName(), loginName()};
    const QString into =
        QStringLiteral("INSERT INTO ETC_DELETED (") + storeNames(kept + kDeletionColumns, server) + QLatin1Char(')');
    QSqlQuery q(db);
    if (server) {
        // One statement: the rows the delete returns go straight into the
        // table of deleted rows, in the order they were deleted.
        QString head, del = statement;
        if (statement.startsWith(QLatin1String("WITH "), Qt::CaseInsensitive)) {
            const qsizetype at = statement.indexOf(QLatin1String(") DELETE FROM "), 0, Qt::CaseInsensitive);
            head = statement.left(at + 1) + QStringLiteral(", ");
            del = statement.mid(at + 2);
        } else {
            head = QStringLiteral("WITH ");
        }
        runPrepared(q,
                    head + QStringLiteral("gone AS (") + del + QStringLiteral(" RETURNING ") + storeNames(kept, server) +
                        QStringLiteral(") ") + into + QStringLiteral(" SELECT ") + storeNames(kept, server) +
                        QStringLiteral(",?,?,?,? FROM gone"),
                    {deletion[0], deletion[1], deletion[2], deletion[3]}, server);
        const qint64 deleted = q.numRowsAffected();
        q.finish();
        return deleted;
    }
    // The file: the rows the delete is about to remove copied in one
    // INSERT … SELECT of the same condition (the write lock is held: nothing
    // changes them meanwhile), then the delete itself, as the user's tools
    // would run it (all rows at once when it names no condition).
    const qsizetype at = statement.indexOf(QLatin1String("DELETE FROM ETC_DATA"), 0, Qt::CaseInsensitive);
    if (at < 0)
        throw Failure(-1, QStringLiteral("削除の文を読めません: ") + statement.left(80));
    const QString copy = statement.left(at) + into + QStringLiteral(" SELECT ") + storeNames(kept, false) +
                         QStringLiteral(",?,?,?,? FROM ETC_DATA") +
                         statement.mid(at + qsizetype(qstrlen("DELETE FROM ETC_DATA"))) + QStringLiteral(" ORDER BY rowid");
    // Room for the indexes the delete changes and the pages the copy adds:
    // with the default cache a large delete writes its pages to the log
    // again and again.
    run(q, QStringLiteral("PRAGMA cache_size"), false);
    const QString cacheSize = q.next() ? q.value(0).toString() : QStringLiteral("-2000");
    q.finish();
    const auto restore = qScopeGuard([&db, cacheSize] {
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size=") + cacheSize);
    });
    run(q, QStringLiteral("PRAGMA cache_size=-262144"), false);
    runPrepared(q, copy, {deletion[0], deletion[1], deletion[2], deletion[3]}, false);
    const qint64 copied = q.numRowsAffected();
    q.finish();
    run(q, statement, false);
    const qint64 deleted = q.numRowsAffected();
    q.finish();
    if (deleted != copied) // (the caller's transaction takes both back)
        throw Failure(-1, QStringLiteral("削除した行(%1件)と保管した行(%2件)の数が合いません。").arg(deleted).arg(copied));
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

namespace {
// The passage of a row as a CSV line holds it: its 17 values.
const QStringList kPassageValues = {
    QStringLiteral("カードNO"),     QStringLiteral("PASS_DATE"),    QStringLiteral("PASS_TIME"),
    QStringLiteral("CAR_CODE"),     QStringLiteral("PASS_MONEY"),   QStringLiteral("PASS_UNIT"),
    QStringLiteral("CAR_NAME"),     QStringLiteral("JID_IN"),       QStringLiteral("ITC_IN"),
    QStringLiteral("JID_OUT"),      QStringLiteral("ITC_OUT"),      QStringLiteral("JID_IN_NAME"),
    QStringLiteral("ITC_IN_ROAD"),  QStringLiteral("ITC_IN_GATE"),  QStringLiteral("JID_OUT_NAME"),
    QStringLiteral("ITC_OUT_ROAD"), QStringLiteral("ITC_OUT_GATE")};

// The deleted rows of deletion id whose passage the history holds again
// (imported or registered anew since the deletion), as the temporary table
// passlog_held: by the rule of CSV取込, a deleted copy of a passage comes
// back only once the history's new copies of it are used up. (The copies
// that were there before the deletion do not count: the copy 重複レコード削除
// kept is what its deletion's copies were removed beside.)
void markPassagesHeld(QSqlDatabase db, bool server, const QString &id)
{
    QStringList partition, same;
    const QString equal = server ? QStringLiteral(" IS NOT DISTINCT FROM ") : QStringLiteral(" IS ");
    for (const QString &c : kPassageValues) {
        const QString name = storeName(c, server);
        partition << name;
        same << QStringLiteral("h.") + name + equal + QStringLiteral("d.") + name;
    }
    // (The card and DATE_TIME find the history's copies through their index;
    // a row stored by an older version may carry a DATE_TIME of its own.)
    const QString card = storeName(QStringLiteral("カードNO"), server);
    const QString held = QStringLiteral("INSERT INTO passlog_held SELECT d.DELETED_ROW FROM (SELECT DELETED_ROW,DELETED_AT,DATE_TIME,") + partition.join(QLatin1Char(',')) +
                         QStringLiteral(",ROW_NUMBER() OVER (PARTITION BY ") + partition.join(QLatin1Char(',')) +
                         QStringLiteral(" ORDER BY DELETED_ROW) AS rn FROM ETC_DELETED WHERE DELETE_ID=?) d "
                                        "WHERE d.rn<=(SELECT COUNT(*) FROM ETC_DATA h WHERE h.") +
                         card + QStringLiteral("=d.") + card +
                         QStringLiteral(" AND h.DATE_TIME IN (d.DATE_TIME,d.PASS_DATE||'-'||d.PASS_TIME) AND h.REG_DATE||' '||h.REG_TIME>=d.DELETED_AT AND ") +
                         same.join(QStringLiteral(" AND ")) +
                         QLatin1Char(')');
    QSqlQuery q(db);
    run(q, QStringLiteral("DROP TABLE IF EXISTS passlog_held"), server);
    run(q,
        server ? QStringLiteral("CREATE TEMP TABLE passlog_held (DELETED_ROW BIGINT) ON COMMIT DROP")
               : QStringLiteral("CREATE TEMP TABLE passlog_held (DELETED_ROW INTEGER PRIMARY KEY)"),
        server);
    runPrepared(q, held, {id}, server);
    q.finish();
}
} // namespace

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
    runPrepared(q,
                QStringLiteral("SELECT COUNT(*) FROM ETC_DELETED WHERE DELETE_ID=? AND NOT (") + expiredCondition(server) +
                    QLatin1Char(')'),
                QVariantList{id} + expiredValues(server), server);
    const qint64 total = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    if (total == 0)
        throw DeletionGone();

    markPassagesHeld(db, server, id);
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
                                       "AND DELETED_ROW NOT IN (SELECT DELETED_ROW FROM passlog_held) "
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
