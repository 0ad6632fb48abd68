#include "history/ServerConnection.h"

#include "app/Common.h"
#include "app/Failure.h"
#include "app/Settings.h"
#include "history/Transaction.h"

#include <QDir>
#include <QHash>
#include <QSqlQuery>

namespace {

// The columns of the shared history, as the catalogue names their types: the 28 of the history and the server's own four.
struct ServerColumn {
    const char *name;
    const char *type;
};
const ServerColumn kServerColumns[] = {
    {"itc_in", "text"},        {"itc_in_road", "text"},  {"itc_in_gate", "text"},   {"jid_in", "integer"},
    {"jid_in_name", "text"},   {"itc_out", "text"},      {"itc_out_road", "text"},  {"itc_out_gate", "text"},
    {"jid_out", "integer"},    {"jid_out_name", "text"}, {"reg_date", "text"},      {"reg_time", "text"},
    {"card_id", "text"},       {"pass_date", "text"},    {"pass_time", "text"},     {"date_time", "text"},
    {"car_code", "integer"},   {"car_name", "text"},     {"pass_money", "integer"}, {"pass_unit", "text"},
    {"print_flag", "boolean"}, {"カードNO", "text"},     {"ご利用日", "text"},      {"通過時間", "text"},
    {"通行料金", "text"},      {"車種", "text"},         {"入口料金所", "text"},    {"出口料金所", "text"},
    {"row_id", "bigint"},      {"source_pc", "text"},    {"source_row", "bigint"},  {"row_uid", "text"},
};

// The table of deleted rows (ETC_DELETED): the 28, the row's identity and
// the names of a copied row, then the deletion's own columns.
const ServerColumn kDeletedColumns[] = {
    {"row_uid", "text"},      {"source_pc", "text"},  {"source_row", "bigint"}, {"delete_id", "text"},
    {"deleted_at", "text"},   {"deleted_pc", "text"}, {"deleted_user", "text"}, {"deleted_row", "bigint"},
    {"deleted_on_server", "timestamp with time zone"},
};

const QString kNoServerTable = QStringLiteral("テーブル ETC_DATA がありません");
const QString kDeletedTableProblem = QStringLiteral("ETC_DELETED の列: ");

// The columns of table with their types, as the catalogue names them.
QHash<QString, QString> serverColumnTypes(QSqlDatabase db, const history::HistoryServer &server, const QString &table)
{
    QSqlQuery q(db);
    // (From the system catalogue itself: information_schema's view of it
    // costs more than the rest of a short command's talk with the server.)
    if (!q.exec(QStringLiteral("SELECT a.attname, format_type(a.atttypid, NULL) FROM pg_catalog.pg_attribute a "
                               "WHERE a.attrelid = to_regclass('public.") +
                table + QStringLiteral("') AND a.attnum > 0 AND NOT a.attisdropped")))
        throw ExpectedFailure(-1, serverAwayText(server, q.lastError().text()));
    QHash<QString, QString> types;
    while (q.next())
        types.insert(q.value(0).toString(), q.value(1).toString());
    return types;
}

void checkColumn(const QHash<QString, QString> &types, const ServerColumn &c, QStringList &wrong, bool optional = false)
{
    const QString name = QString::fromUtf8(c.name);
    const auto it = types.constFind(name);
    if (it == types.constEnd()) {
        if (!optional)
            wrong << name + QStringLiteral(" がありません");
    } else if (*it != QLatin1String(c.type)) {
        wrong << name + QStringLiteral(" の型が ") + *it + QStringLiteral(" です(") + QLatin1String(c.type) +
                     QStringLiteral(" のはず)");
    }
}

} // namespace

// What is wrong with the shape of the table of deleted rows: empty when it
// has every column with its type, or when there is none (a server set up
// before it came: deletions then wait for the owner's next init). One of
// another shape is not used, and the set-up leaves it as it is.
QString history::deletedShapeProblem(QSqlDatabase db, const history::HistoryServer &server)
{
    const QHash<QString, QString> deleted = serverColumnTypes(db, server, QStringLiteral("etc_deleted"));
    if (deleted.isEmpty())
        return QString();
    QStringList wrong;
    for (int i = 0; i < 28; ++i)
        checkColumn(deleted, kServerColumns[i], wrong);
    for (const ServerColumn &c : kDeletedColumns)
        checkColumn(deleted, c, wrong);
    return wrong.isEmpty() ? QString() : kDeletedTableProblem + wrong.join(QStringLiteral("、"));
}

// What is wrong with the shape of the shared history's table, read from
// the catalogue only: empty when it has every column with its type.
// withoutRowUid: a table from before row identities passes (the set-up
// brings it up to date).
// (Also run on the start's background thread: nothing here touches the
// program's own connection or state.)
QString history::serverShapeProblem(QSqlDatabase db, const history::HistoryServer &server, bool withoutRowUid)
{
    const QHash<QString, QString> types = serverColumnTypes(db, server, QStringLiteral("etc_data"));
    if (types.isEmpty())
        return kNoServerTable;
    QStringList wrong;
    for (const ServerColumn &c : kServerColumns)
        checkColumn(types, c, wrong, withoutRowUid && qstrcmp(c.name, "row_uid") == 0);
    if (!wrong.isEmpty())
        return QStringLiteral("ETC_DATA の列: ") + wrong.join(QStringLiteral("、"));
    return deletedShapeProblem(db, server);
}

void history::refuseShape(const history::HistoryServer &server, const QString &problem)
{
    const bool missing = problem == kNoServerTable;
    if (problem.startsWith(kDeletedTableProblem))
        throw ExpectedFailure(
            -1, QStringLiteral("共有の利用履歴サーバーの、削除した利用履歴を保管するテーブル(ETC_DELETED)が、このプログラムの"
                               "使う形ではないため、使えません。何も変更していません。データベースの所有者が、このテーブルの"
                               "名前を変えるか別の場所に移してから、passlog server init を実行してください。 (") +
                    server.describe() + QStringLiteral(") ") + problem);
    throw ExpectedFailure(
        -1, (missing ? QStringLiteral("共有の利用履歴サーバーに利用履歴のテーブル(ETC_DATA)がありません。何も変更していません。"
                                      "データベースの所有者が一度だけ passlog server init を実行して、テーブルを用意してください。")
                     : QStringLiteral("共有の利用履歴サーバーの利用履歴テーブル(ETC_DATA)が、このプログラムの使う形ではないため、"
                                      "使えません。何も変更していません。データベースの所有者が、このテーブルの名前を変えるか"
                                      "別の場所に移してから、passlog server init を実行してください。")) +
                QStringLiteral(" (") + server.describe() + QStringLiteral(") ") + problem);
}


QString history::serverGrants(const QString &role)
{
    QSqlQuery q(history::database(DbConnection::Server));
    // The temporary tables the program makes on its connection (the
    // passages CSV取込 looks up, the rows a copy brings) need TEMPORARY on
    // the database, which an administrator may have taken from PUBLIC.
    QString database;
    if (q.exec(QStringLiteral("SELECT quote_ident(current_database())")) && q.next())
        database = q.value(0).toString();
    QString grants = QStringLiteral("GRANT USAGE ON SCHEMA public TO ") + role + QStringLiteral(";\n");
    if (!database.isEmpty())
        grants += QStringLiteral("GRANT CONNECT, TEMPORARY ON DATABASE ") + database + QStringLiteral(" TO ") + role +
                  QStringLiteral(";\n");
    // Each table's rights, and the use of the sequence that numbers its rows.
    const auto grantTable = [&](const QString &table, const QString &rights, const char *serialColumn) {
        QString sequence;
        if (q.exec(QStringLiteral("SELECT pg_get_serial_sequence('public.%1', '%2')")
                       .arg(table.toLower(), QLatin1String(serialColumn))) &&
            q.next())
            sequence = q.value(0).toString();
        grants += QStringLiteral("GRANT ") + rights + QStringLiteral(" ON public.") + table + QStringLiteral(" TO ") + role +
                  QStringLiteral(";\n");
        if (!sequence.isEmpty())
            grants += QStringLiteral("GRANT USAGE ON SEQUENCE ") + sequence + QStringLiteral(" TO ") + role +
                      QStringLiteral(";\n");
    };
    grantTable(QStringLiteral("ETC_DATA"), QStringLiteral("SELECT, INSERT, UPDATE, DELETE"), "row_id");
    // The deleted rows: kept by a delete, put back and removed by a restore.
    grantTable(QStringLiteral("ETC_DELETED"), QStringLiteral("SELECT, INSERT, DELETE"), "deleted_row");
    return grants;
}

QString history::initServer()
{
    return app::tagged(app::Procedure::SetUpServer, [&]() -> QString {
        const history::HistoryServer server = history::serverSetting();
        if (!server.shared)
            throw ExpectedFailure(-1, QStringLiteral("設定ファイルの [DATABASE] に共有の利用履歴サーバー(Driver=PSQL)が"
                                                     "設定されていません。 (設定ファイル: ") +
                                          QDir::toNativeSeparators(app::settingsFileName()) + QLatin1Char(')'));
        history::forgetServer();
        history::useServerOf(server);
        const QString name = history::connectionName(DbConnection::Server);
        QSqlDatabase db = history::addServerConnection(server, name);
        if (!db.open()) {
            const QString reason = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw ExpectedFailure(-1, serverAwayText(server, reason));
        }
        // One transaction: a table of another shape, or any refusal, leaves
        // the server as it was. Two set-ups at once take turns.
        QSqlQuery q(db);
        try {
            history::Transaction transaction(db, true);
            history::runText(q, QStringLiteral("SELECT pg_advisory_xact_lock(20240501)"), true);
            QSqlQuery exists(db);
            history::runText(exists, QStringLiteral("SELECT to_regclass('public.etc_data') IS NOT NULL"), true);
            const bool hasTable = exists.next() && exists.value(0).toBool();
            exists.finish();
            // Either table of another shape is refused before the script
            // touches it (its indexes would name columns it lacks).
            const QString before = hasTable ? serverShapeProblem(db, server, true) : deletedShapeProblem(db, server);
            if (!before.isEmpty())
                refuseShape(server, before);
            history::runScript(db, history::serverSchemaSql());
            const QString problem = serverShapeProblem(db, server);
            if (!problem.isEmpty())
                refuseShape(server, problem);
            transaction.commit();
        } catch (const Failure &f) { // (rolled back by then)
            // A refused statement of the set-up (no right to create, ...).
            if (dynamic_cast<const ExpectedFailure *>(&f) == nullptr)
                throw ExpectedFailure(f.number(), QStringLiteral("共有の利用履歴サーバーにテーブルを用意できませんでした"
                                                                 "(何も変更していません)。データベースの所有者として実行してください。 (") +
                                                      server.describe() + QStringLiteral(") ") + f.description());
            throw;
        }
        q.finish();
        return history::serverGrants(QStringLiteral("passlog_user"));
    });
}

