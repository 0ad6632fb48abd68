#include "history/Registration.h"
#include "history/RowIdentity.h"

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

const QString &kRowUid = history::kRowUidColumn;
const QString &kNewRowUidSql = history::kNewRowUidSql;

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

} // namespace

history::StagedPassages history::stagedPassagesHeld(const QString &cardNo)
{
    return app::tagged(app::Procedure::RegisterCardRead, [&] {
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
    return app::tagged(app::Procedure::RegisterCardRead, [&]() -> qint64 {
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
