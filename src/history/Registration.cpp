#include "history/Registration.h"

#include "app/Failure.h"
#include "history/DatabaseErrors.h"
#include "history/HistoryCheck.h"
#include "history/HistoryColumns.h"
#include "history/HistoryFileRows.h"
#include "history/HistoryWorker.h"
#include "history/SqlDialect.h"
#include "history/ServerCopy.h"
#include "history/Transaction.h"
#include "history/Database.h"
#include "history/DeletedRows.h"
#include "app/Seams.h"

#include <QElapsedTimer>
#include <algorithm>
#include <QSqlError>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QUuid>
#include <QVariant>

namespace {

const QString kRowUid = QStringLiteral("ROW_UID");
// A new random identity, in SQL, for rows the history file stores.
const QString kNewRowUidSql = QStringLiteral("lower(hex(randomblob(16)))");

bool isCardNumberColumn(const QString &column)
{
    return column == QStringLiteral("CARD_ID") || column == QStringLiteral("カードNO");
}

// The value of a stored column as the server's column takes it.
QVariant serverValue(const QString &column, const QVariant &value)
{
    if (column == kColumnPrintFlag)
        return value.isNull() ? QVariant(false) : QVariant(value.toLongLong() != 0);
    return value;
}

// "INSERT INTO ETC_DATA (<columns>) VALUES (?,...)" in the server's dialect:
// one row, for naming the row the server refuses (the rows themselves go by
// COPY).
QString serverInsertRowSql(const QStringList &columns)
{
    return sqldialect::toPostgres(QStringLiteral("INSERT INTO ") + kTableData + QStringLiteral(" (") +
                                  columns.join(QLatin1Char(',')) + QStringLiteral(") VALUES (") +
                                  QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
                                  QLatin1Char(')'));
}

// The staged columns as registration reads them: the two card-number
// columns replaced by the number registered under.
QString stagedColumns(const QString &cardNo)
{
    QStringList out;
    for (const QString &c : kHistoryColumnNames)
        out << (isCardNumberColumn(c) ? QLatin1Char('\'') + sqldialect::quoted(cardNo) + QLatin1Char('\'') : c);
    return out.join(QLatin1Char(','));
}

// A staged row as the user knows it, for the error that names it:
// "2010/06/01 10:20:30 東名 東京 → 東名 厚木".
QString describeRow(const QSqlRecord &row)
{
    return (row.value(QStringLiteral("ご利用日")).toString() + QLatin1Char(' ') +
            row.value(QStringLiteral("通過時間")).toString() + QLatin1Char(' ') +
            row.value(QStringLiteral("入口料金所")).toString() + QStringLiteral(" → ") +
            row.value(QStringLiteral("出口料金所")).toString())
        .simplified();
}

// The refusal of a registration: nothing was registered, the card read stays
// staged, and the text names the first row the store refused (when one row
// was to blame) and the store's reason.
[[noreturn]] void refuseRegistration(const QString &row, const QString &reason)
{
    QString text = QStringLiteral("DB登録できませんでした。登録された利用履歴はありません(読み込んだ利用履歴はそのまま残っています)。");
    if (!row.isEmpty())
        text += QStringLiteral(" 受け付けられなかった利用履歴: ") + row + QStringLiteral("。");
    text += QStringLiteral(" 理由: ") + reason.trimmed();
    throw ExpectedFailure(-1, text);
}

QString reasonOf(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.trimmed();
}

// A failure of the history file: the common ones in Japanese, the engine's
// text, and the file.
QString fileReason(const QSqlError &error)
{
    const QString sentence = history::databaseErrorSentence(error, history::databasePath(kDatFile));
    return (sentence.isEmpty() ? QString() : sentence + QLatin1Char(' ')) + reasonOf(error) + QStringLiteral(" [") +
           history::databasePath(kDatFile) + QLatin1Char(']');
}

// Reads the staged rows, in the order they were read from the card.
// The staging rows to leave out (their rowid) as a condition of ETC_TEMP.
QString stagedCondition(const QList<qint64> &skip)
{
    if (skip.isEmpty())
        return QString();
    QStringList ids;
    for (const qint64 id : skip)
        ids << QString::number(id);
    return QStringLiteral(" WHERE rowid NOT IN (") + ids.join(QLatin1Char(',')) + QLatin1Char(')');
}

QSqlQuery stagedRows(QSqlDatabase local, const QString &cardNo, const QList<qint64> &skip = {})
{
    QSqlQuery staged(local);
    staged.setForwardOnly(true);
    history::runText(staged, QStringLiteral("SELECT ") + stagedColumns(cardNo) + QStringLiteral(" FROM ETC_TEMP") +
                                 stagedCondition(skip) + QStringLiteral(" ORDER BY rowid"));
    return staged;
}

// After a refused copy: tries the staged rows one by one, each undone at
// once, and returns the first one the store refuses, with its reason. The
// store's state is left as it was.
template <typename Insert>
std::pair<QString, QString> firstRefusedRow(QSqlQuery &staged, Insert insertOne)
{
    while (staged.next()) {
        const QString reason = insertOne(staged);
        if (!reason.isEmpty())
            return {describeRow(staged.record()), reason};
    }
    return {};
}

qint64 registerInFile(QSqlDatabase db, const QString &cardNo, const QList<qint64> &skip,
                      const std::function<bool()> &stopped = {})
{
    const QStringList &columns = kHistoryColumnNames;
    QSqlError refused;
    {
        history::Transaction transaction(db, false);
        QSqlQuery copy(db);
        if (copy.exec(QStringLiteral("INSERT INTO ETC_DATA (") + columns.join(QLatin1Char(',')) + QLatin1Char(',') +
                      kRowUid + QStringLiteral(") SELECT ") + stagedColumns(cardNo) + QLatin1Char(',') +
                      kNewRowUidSql + QStringLiteral(" FROM ETC_TEMP") + stagedCondition(skip) +
                      QStringLiteral(" ORDER BY rowid"))) {
            const qint64 registered = copy.numRowsAffected();
            copy.finish();
            if (stopped && stopped())
                throw history::WorkStopped();
            QSqlError failed;
            if (transaction.commit(failed))
                return registered;
            refuseRegistration(QString(), fileReason(failed));
        }
        refused = copy.lastError();
    }
    // Which row: each staged row alone, inside a transaction rolled back.
    std::pair<QString, QString> first;
    try {
        history::Transaction probe(db, false);
        QSqlQuery one(db);
        one.prepare(history::insertStatement(kTableData, columns));
        QSqlQuery staged = stagedRows(db, cardNo, skip);
        first = firstRefusedRow(staged, [&](QSqlQuery &row) {
            for (int i = 0; i < columns.size(); ++i)
                one.bindValue(i, row.value(i));
            return one.exec() ? QString() : fileReason(one.lastError());
        });
        staged.finish();
    } catch (const Failure &) {
        // (no transaction to try them in: the store's own refusal is named)
    }
    refuseRegistration(first.first, first.first.isEmpty() ? fileReason(refused) : first.second);
}

// The staged rows into the server's history, in one server transaction, a
// batch of rows per statement: all of them or none. A server that goes away
// rolls the transaction back by itself.
qint64 registerOnServer(QSqlDatabase local, const QString &cardNo, const QList<qint64> &skip,
                        const history::KeepGoing &keepGoing)
{
    QSqlDatabase server = history::database(DbConnection::Server);
    const QStringList &columns = kHistoryColumnNames;
    QSqlQuery staged = stagedRows(local, cardNo, skip);
    qint64 registered = 0;
    QString refusal;
    {
        history::Transaction transaction(server, true);
        // A delete of another PC in progress holds the table: waited for
        // in short tries, bounded, with the progress between them.
        history::lockServerTable(server, QStringLiteral("ROW EXCLUSIVE"), keepGoing);
        try {
            history::ServerCopyIn copy(server, kTableData, columns);
            while (staged.next()) {
                for (int i = 0; i < columns.size(); ++i)
                    copy.field(serverValue(columns[i], staged.value(i)));
                copy.endRow();
                if (keepGoing && ++registered % 4096 == 0 && !keepGoing())
                    throw history::WorkStopped(); // rolled back by the guard
            }
            if (staged.lastError().isValid())
                history::throwSqlError(staged.lastError());
            registered = copy.finish();
        } catch (const history::WorkStopped &) {
            throw;
        } catch (const ExpectedFailure &refused) {
            refusal = refused.description();
        }
        staged.finish();
        if (refusal.isEmpty()) {
            transaction.commit();
            return registered;
        }
    } // refused: nothing is kept
    // Which row, when the server is still there.
    QSqlQuery probe(server);
    if (!probe.exec(QStringLiteral("SELECT 1")))
        history::throwServerError(probe.lastError());
    std::pair<QString, QString> first;
    try {
        history::Transaction transaction(server, true);
        QSqlQuery control(server);
        QSqlQuery one(server);
        one.prepare(serverInsertRowSql(columns));
        QSqlQuery again = stagedRows(local, cardNo, skip);
        first = firstRefusedRow(again, [&](QSqlQuery &row) {
            control.exec(QStringLiteral("SAVEPOINT staged_row"));
            for (int i = 0; i < columns.size(); ++i)
                one.bindValue(i, serverValue(columns[i], row.value(i)));
            const QString reason = one.exec() ? QString() : reasonOf(one.lastError());
            control.exec(QStringLiteral("ROLLBACK TO SAVEPOINT staged_row"));
            return reason;
        });
        again.finish();
    } catch (const Failure &) {
        // (no transaction to try them in: the server's own refusal is named)
    }
    refuseRegistration(first.first, (first.first.isEmpty() ? refusal : first.second) + QStringLiteral(" (") +
                                        history::serverSetting().describe() + QLatin1Char(')'));
}

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
QString legacyPcId(QSqlDatabase local)
{
    QSqlQuery q(local);
    if (!q.exec(QStringLiteral("SELECT ID FROM PASSLOG_PC LIMIT 1")) || !q.next())
        return {};
    return q.value(0).toString();
}

} // namespace

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
        const QString pc = legacyPcId(db);
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

history::StagedPassages history::stagedPassagesHeld(const QString &cardNo)
{
    return guarded("basAccess_MDBTBLEntry", [&] {
        StagedPassages out;
        const QStringList passage = history::passageColumns();
        QStringList read;
        for (const QString &c : passage)
            read << (isCardNumberColumn(c) ? QLatin1Char('\'') + sqldialect::quoted(cardNo) + QLatin1Char('\'') : c);
        QSqlQuery staged(history::database(DbConnection::History));
        staged.setForwardOnly(true);
        history::runText(staged, QStringLiteral("SELECT rowid,") + read.join(QLatin1Char(',')) +
                                     QStringLiteral(" FROM ETC_TEMP ORDER BY rowid"));
        // The staged rows of each passage, in their order.
        QHash<QString, QList<qint64>> rowsOf;
        QHash<QString, QVariantList> valuesOf;
        QStringList order;
        while (staged.next()) {
            QVariantList values;
            QStringList key;
            for (int i = 0; i < passage.size(); ++i) {
                values << staged.value(i + 1);
                key << (values.last().isNull() ? QStringLiteral("\x01") : values.last().toString());
            }
            const QString k = key.join(QChar(0x1f));
            if (!rowsOf.contains(k)) {
                order << k;
                valuesOf.insert(k, values);
            }
            rowsOf[k] << staged.value(0).toLongLong();
            ++out.staged;
        }
        staged.finish();
        // The copies the history holds of each, under this card number.
        const bool server = history::usesServer();
        QSqlDatabase store = history::database(server ? DbConnection::Server : DbConnection::History);
        QStringList same;
        for (const QString &c : passage) {
            const QString name = server && c.at(0).unicode() > 0x7f ? QLatin1Char('"') + c + QLatin1Char('"') : c;
            same << name + (server ? QStringLiteral(" IS NOT DISTINCT FROM ?") : QStringLiteral(" IS ?"));
        }
        const QString card = server ? QStringLiteral("\"カードNO\"") : QStringLiteral("カードNO");
        QSqlQuery held(store);
        // Found by the passage's own date and time: the DATE_TIME another
        // tool stored may disagree with them.
        if (!held.prepare(QStringLiteral("SELECT COUNT(*) FROM ETC_DATA WHERE ") + card +
                          QStringLiteral("=? AND PASS_DATE=? AND PASS_TIME=? AND ") + same.join(QStringLiteral(" AND "))))
            server ? history::throwServerError(held.lastError()) : history::throwSqlError(held.lastError());
        for (const QString &k : std::as_const(order)) {
            const QVariantList &values = valuesOf[k];
            held.addBindValue(cardNo);
            held.addBindValue(values.value(1));
            held.addBindValue(values.value(2));
            for (const QVariant &v : values)
                held.addBindValue(v);
            if (!held.exec())
                server ? history::throwServerError(held.lastError()) : history::throwSqlError(held.lastError());
            const qint64 copies = held.next() ? held.value(0).toLongLong() : 0;
            held.finish();
            const QList<qint64> &rows = rowsOf[k];
            for (qint64 i = 0; i < qMin<qint64>(copies, rows.size()); ++i)
                out.heldRows << rows[i];
        }
        return out;
    });
}

qint64 history::registerStaged(const QString &cardNo, const history::KeepGoing &keepGoing, const QList<qint64> &skip)
{
    return guarded("basAccess_MDBTBLEntry", [&]() -> qint64 {
        QSqlDatabase db = history::database(DbConnection::History);
        QSqlQuery control(db);
        history::runText(control, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ETC_TEMP)"));
        if (!control.next() || !control.value(0).toBool())
            return 0; // nothing staged: ETC_DATA is not touched
        control.finish();
        if (history::usesServer())
            return registerOnServer(db, cardNo, skip, keepGoing);
        history::requireSoundHistory(keepGoing);
        if (!keepGoing)
            return registerInFile(db, cardNo, skip);
        qint64 registered = 0;
        history::runOnOwnHistoryConnection(
            [&](QSqlDatabase own, const std::function<bool()> &stopped) {
                registered = registerInFile(own, cardNo, skip, stopped);
            },
            keepGoing);
        return registered;
    });
}

QStringList history::passageColumns()
{
    return {QStringLiteral("カードNO"),     QStringLiteral("PASS_DATE"),   QStringLiteral("PASS_TIME"),
            QStringLiteral("CAR_CODE"),     QStringLiteral("PASS_MONEY"),  QStringLiteral("PASS_UNIT"),
            QStringLiteral("CAR_NAME"),     QStringLiteral("JID_IN"),      QStringLiteral("ITC_IN"),
            QStringLiteral("JID_OUT"),      QStringLiteral("ITC_OUT"),     QStringLiteral("JID_IN_NAME"),
            QStringLiteral("ITC_IN_ROAD"),  QStringLiteral("ITC_IN_GATE"), QStringLiteral("JID_OUT_NAME"),
            QStringLiteral("ITC_OUT_ROAD"), QStringLiteral("ITC_OUT_GATE")};
}

QString history::controlCharacterIn(QStringView text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return {};
}

namespace {

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
    return guarded("basAccess_CopyHistoryToServer", [&]() -> qint64 {
        if (!history::usesServer())
            throw Failure(3704, QStringLiteral("共有の履歴サーバーが設定されていません。 ([") + kSectionDatabase +
                                    QStringLiteral("] Driver=PSQL)"));
        QSqlDatabase local = history::database(DbConnection::History);
        QSqlDatabase server = history::database(DbConnection::Server);
        history::ensureRowIdentity(local);
        const QString pc = legacyPcId(local);
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
