#include "history/Database.h"
#include "app/ProgramState.h"

#include "app/CheckedSaveFile.h"
#include "app/DataFolder.h"
#include "app/Failure.h"
#include "app/Seams.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/DatabaseErrors.h"
#include "history/HistoryCheck.h"
#include "history/HistoryFileCheck.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "history/SqlDialect.h"
#include "history/ShownRows.h"
#include "history/Transaction.h"
#include "history/HistoryWorker.h"
#include "history/Registration.h"
#include "history/HistorySchemaObjects.h"
#include "history/HistoryUse.h"
#include "history/ServerCopy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <QScopeGuard>
#include <QVariant>
#include <filesystem>
#include <sys/stat.h>
#include <memory>
#include <optional>
#include <utility>

namespace {

const QString kHistoryConnection = QStringLiteral("passlog_history");
const QString kMasterConnection = QStringLiteral("passlog_master");
const QString kServerConnection = QStringLiteral("passlog_server");
const QString kServerRowKey = QStringLiteral("ROW_ID");

QString connectionName(DbConnection which)
{
    switch (which) {
    case DbConnection::History: return kHistoryConnection;
    case DbConnection::Master: return kMasterConnection;
    case DbConnection::Server: return kServerConnection;
    }
    return {};
}

// The shared history's connection, connecting first when needed (below).
bool serverConfigured();
QSqlDatabase serverConnection();

} // namespace

void history::throwSqlError(const QSqlError &error, const QString &context, const QString &file)
{
    bool ok = false;
    long number = error.nativeErrorCode().toLong(&ok);
    if (!ok)
        number = -1;
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    if (!context.isEmpty())
        text += QStringLiteral(" [") + context + QLatin1Char(']');
    // The common failures in Japanese, the engine's own text after it, and the
    // file it concerns (without one named, the history database: every other
    // statement runs on it).
    const QString concerned = !file.isEmpty()                ? file
                              : QDir::isAbsolutePath(context) ? context
                                                              : history::databasePath(kDatFile);
    const QString sentence = history::databaseErrorSentence(error, concerned);
    if (!sentence.isEmpty()) {
        const QString path = concerned;
        text = sentence + QLatin1Char(' ') + text;
        if (!path.isEmpty() && path != context)
            text += QStringLiteral(" [") + path + QLatin1Char(']');
    }
    throw Failure(number, text);
}

namespace {

// Statements of a script: split at ";" outside string literals and comments.
QStringList scriptStatements(const QString &script)
{
    QStringList out;
    QString current;
    bool inLiteral = false;
    bool inBody = false;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        if (!inLiteral && !inBody && c == QLatin1Char('-') && i + 1 < script.size() && script[i + 1] == QLatin1Char('-')) {
            while (i < script.size() && script[i] != QLatin1Char('\n'))
                ++i;
            current += QLatin1Char('\n');
            continue;
        }
        if (c == QLatin1Char('\'') && !inBody)
            inLiteral = !inLiteral; // a doubled quote toggles twice
        if (!inLiteral && c == QLatin1Char('$') && i + 1 < script.size() && script[i + 1] == QLatin1Char('$')) {
            inBody = !inBody; // a "$$ ... $$" body (the server's procedures) holds its own ";"
            current += QStringLiteral("$$");
            ++i;
            continue;
        }
        if (!inLiteral && !inBody && c == QLatin1Char(';')) {
            if (!current.trimmed().isEmpty())
                out << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

// The database files as the program keeps them on disk, with the logs
// SQLite makes beside them and the clean-end marker: no document is ever
// written onto one of them.
QStringList databaseFiles()
{
    QStringList files;
    for (const QString &file : {history::databasePath(kDatFile), history::databasePath(kMstFile)})
        files << file << file + QStringLiteral("-wal") << file + QStringLiteral("-shm")
              << file + QStringLiteral("-journal") << history::cleanEndMarkerPath(file)
              << history::historyUseLockPath(file) << history::historyUseLockPath(file) + QStringLiteral("-journal");
    files << QCoreApplication::applicationFilePath(); // the program itself
    return files;
}

// This process's use of the history file, from its open to its close.
std::unique_ptr<history::HistoryUse> g_historyUse;
std::function<void(const QString &)> g_useWaitNotice = [](const QString &text) {
    QTextStream(stderr) << text << Qt::endl;
};
QStringList g_schemaNotices;

// What the program does not make in a history file goes before the program
// writes: triggers, views and other programs' indexes are dropped and named;
// a view or the like in the place of one of the program's tables is refused.
// refuseOnly: only the refusal, before the schema script runs (it would
// trip over a view in a table's place); the drops come once the file may be
// written.
void removeForeignObjects(QSqlDatabase db, const QString &path, bool refuseOnly)
{
    QList<history::SchemaObject> catalogue;
    {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(history::kCatalogueStatement)))
            history::throwSqlError(q.lastError(), path);
        while (q.next())
            catalogue.append({q.value(0).toString(), q.value(1).toString()});
    }
    const history::ForeignObjects foreign = history::foreignObjects(catalogue);
    if (foreign.empty())
        return;
    if (!foreign.inPlaceOfTables.isEmpty())
        throw history::SchemaRefused(QStringLiteral("利用履歴ファイル '%1' の %2 がテーブルではありません(%3)。PASSLOG の利用履歴ファイルではないため、"
                               "開けません。何も変更していません。バックアップから戻してください(passlog restore)。")
                    .arg(QDir::toNativeSeparators(path), foreign.inPlaceOfTables.join(QStringLiteral("、")), foreign.describe()));
    if (refuseOnly)
        return;
    history::requireSoundHistory();
    history::Transaction transaction(db, false);
    QSqlQuery q(db);
    for (const QString &drop : foreign.dropStatements())
        history::runText(q, drop);
    transaction.commit();
    g_schemaNotices << QStringLiteral("利用履歴ファイルにあった、PASSLOG が作らないもの(%1)を取り除きました。利用履歴の行はそのままです。")
                           .arg(foreign.describe());
}

// Rows written by older versions and other tools may carry a DATE_TIME
// that is not their passage's date and time; every lookup by passage goes
// through that column, so it is mended before anything else reads it.
// Looked for first: an update takes the write lock even when it changes nothing.
void mendPassageTimes(QSqlDatabase db)
{
    const QString wrong =
        QStringLiteral(" WHERE PASS_DATE IS NOT NULL AND PASS_TIME IS NOT NULL AND DATE_TIME IS NOT PASS_DATE||'-'||PASS_TIME");
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("SELECT EXISTS (SELECT 1 FROM ETC_DATA") + wrong + QLatin1Char(')'));
    const bool found = q.next() && q.value(0).toBool();
    q.finish();
    if (!found)
        return;
    history::requireSoundHistory();
    history::Transaction transaction(db, false);
    history::runText(q, QStringLiteral("UPDATE ETC_DATA SET DATE_TIME=PASS_DATE||'-'||PASS_TIME") + wrong);
    transaction.commit();
}

// True when the file holds the history table: a file that does not is made
// by a writable open, never by a read.
bool holdsHistoryTable(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    const QString name = QStringLiteral("passlog_history_table_probe");
    bool holds = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery q(db);
            holds = q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='ETC_DATA'")) &&
                    q.next();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return holds;
}

// Whether the open history file was opened to be read only.

QString programFolder()
{
    return app::withTrailingSeparator(app::state().programFolder.isEmpty() ? seams::programFolder() : app::state().programFolder);
}

} // namespace

QString history::diskFileName(const QString &fileName)
{
    if (fileName.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive))
        return fileName.left(fileName.size() - 4) + QStringLiteral(".sqlite");
    return fileName;
}

void history::usePrivateHistory(const QString &folder) { app::state().privateHistoryFolder = folder; }

bool history::usesPrivateHistory() { return !app::state().privateHistoryFolder.isEmpty(); }

QString history::databasePath(const QString &fileName)
{
    if (fileName == kDatFile && !app::state().privateHistoryFolder.isEmpty())
        return app::withTrailingSeparator(app::state().privateHistoryFolder) + history::diskFileName(fileName);
    const QString inDataFolder = programFolder() + history::diskFileName(fileName);
    // The masters ship with the program: when the data folder has none (the
    // user's folder of an installed program), the installed copy is read.
    if (fileName == kMstFile && !QFileInfo::exists(inDataFolder)) {
        for (const QString &folder : app::shippedDataFolders()) {
            const QString shipped = app::withTrailingSeparator(folder) + history::diskFileName(fileName);
            if (QFileInfo(shipped).isFile())
                return shipped;
        }
    }
    return inDataFolder;
}

bool history::isOpen(DbConnection which)
{
    return QSqlDatabase::contains(connectionName(which)) &&
           QSqlDatabase::database(connectionName(which), false).isOpen();
}

QSqlDatabase history::database(DbConnection which)
{
    if (which == DbConnection::Server && serverConfigured())
        return serverConnection();
    if (!history::isOpen(which))
        throw Failure(3704, QStringLiteral("データベースが開かれていません。"));
    return QSqlDatabase::database(connectionName(which), false);
}

void history::runScript(QSqlDatabase db, const QString &script)
{
    for (const QString &statement : scriptStatements(script)) {
        QSqlQuery q(db);
        if (!q.exec(statement))
            history::throwSqlError(q.lastError(), statement.left(80));
    }
}

history::HistoryServer history::serverSetting()
{
    history::HistoryServer server;
    const QString file = app::settingsFileName();
    auto read = [&](const char *key) {
        const QString value = app::readProfileString(kSectionDatabase, QString::fromLatin1(key), file);
        return value == kIniMissing ? QString() : value.trimmed();
    };
    // A history of the run's own never reaches the shared one.
    server.shared = app::state().privateHistoryFolder.isEmpty() &&
                    read("Driver").compare(QLatin1String("PSQL"), Qt::CaseInsensitive) == 0;
    server.host = read("Host");
    server.port = read("Port").toInt();
    server.name = read("Name");
    server.user = read("User");
    server.sslMode = read("SSLMode");
    server.sslRootCert = read("SSLRootCert");
    return server;
}

QString history::HistoryServer::describe() const
{
    return QStringLiteral("PostgreSQL ") + (host.isEmpty() ? QStringLiteral("localhost") : host) +
           (port > 0 ? QLatin1Char(':') + QString::number(port) : QString()) + QLatin1Char('/') + name;
}

namespace {

// The shared history named by the settings when the history file was opened,
// and why the last attempt to reach it failed (empty while connected, and
// before the first attempt).
std::optional<history::HistoryServer> g_server;
std::function<void()> g_serverListener;

void serverStateChanged()
{
    if (g_serverListener)
        g_serverListener();
}

// Connection options of libpq: a server that takes the connection but does
// not answer is given up after about 5 s, and a connection whose peer
// vanished is noticed by the keepalives instead of hanging. The tables live
// in the schema public (data/schema_history_server.sql): the search path is
// public alone, so that the set-up, the grants it prints and every statement
// of the day-to-day PCs mean the same tables, whatever schemas the roles
// have of their own (temporary tables are found first all the same).
const QString kServerOptions = QStringLiteral(
    "connect_timeout=5;application_name=PASSLOG;keepalives=1;keepalives_idle=10;keepalives_interval=2;"
    "keepalives_count=3;tcp_user_timeout=10000;options=-csearch_path=public");

// A statement of the program that waits for another session's lock gives up
// after this long (the table locks of changes wait in short tries instead,
// see history::lockServerTable).
const QString kSessionLockTimeout = QStringLiteral("10s");

const QString kSqlStateLockTimeout = QStringLiteral("55P03");

QString serverAwayText(const history::HistoryServer &server, const QString &reason)
{
    return history::serverConnectSentence(reason) + QStringLiteral(" (") + server.describe() + QStringLiteral(") ") +
           reason.trimmed();
}

[[noreturn]] void refuseSetting(const QString &text)
{
    throw ExpectedFailure(-1, text + QStringLiteral(" (設定ファイル: ") + QDir::toNativeSeparators(app::settingsFileName()) +
                                  QLatin1Char(')'));
}

// A value for libpq's connection string, in quotes: the Qt driver joins the
// options with spaces, so a path with a space must be quoted.
QString conninfoValue(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The options of the connection to server; a setting the client library
// could not use is refused here, naming the key and what it takes.
QString serverOptions(const history::HistoryServer &server)
{
    QString options = kServerOptions;
    // One try of the plain connection (with TLS when the server offers it),
    // not a first one by Kerberos (GSS) that a silent server would make
    // wait as long again: unless the environment asks for it.
    if (qEnvironmentVariableIsEmpty("PGGSSENCMODE"))
        options += QStringLiteral(";gssencmode=disable");
    static const QStringList modes{QStringLiteral("disable"), QStringLiteral("allow"),     QStringLiteral("prefer"),
                                   QStringLiteral("require"), QStringLiteral("verify-ca"), QStringLiteral("verify-full")};
    if (!server.sslMode.isEmpty()) {
        const QString mode = server.sslMode.toLower();
        if (!modes.contains(mode))
            refuseSetting(QStringLiteral("設定ファイルの [DATABASE] SSLMode の値 '") + server.sslMode +
                          QStringLiteral("' は使えません。") + modes.join(QStringLiteral(", ")) +
                          QStringLiteral(" のどれかを指定してください(事務所の認証局で確かめるには verify-full)。"));
        options += QStringLiteral(";sslmode=") + mode;
    }
    if (!server.sslRootCert.isEmpty()) {
        const QFileInfo file(server.sslRootCert);
        if (server.sslRootCert.contains(QLatin1Char(';')) || !file.isFile() || !file.isReadable())
            refuseSetting(QStringLiteral("設定ファイルの [DATABASE] SSLRootCert のファイル '") + server.sslRootCert +
                          QStringLiteral("' が見つからないか、読めません。事務所の認証局(CA)の証明書ファイルの場所を"
                                         "フルパスで指定してください(パスに「;」は使えません)。"));
        options += QStringLiteral(";sslrootcert=") + conninfoValue(QDir::fromNativeSeparators(file.absoluteFilePath()));
    }
    return options;
}

QSqlDatabase addServerConnection(const history::HistoryServer &server, const QString &name)
{
    const QString options = serverOptions(server); // refused before a connection is made
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(server.host);
    if (server.port > 0)
        db.setPort(server.port);
    db.setDatabaseName(server.name);
    db.setUserName(server.user);
    // No password here: the server's own mechanisms supply it (the password
    // file ~/.pgpass or PGPASSFILE, or PGPASSWORD in the environment).
    db.setConnectOptions(options);
    return db;
}

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

// What is wrong with the shape of the table of deleted rows: empty when it
// has every column with its type, or when there is none (a server set up
// before it came: deletions then wait for the owner's next init). One of
// another shape is not used, and the set-up leaves it as it is.
QString deletedShapeProblem(QSqlDatabase db, const history::HistoryServer &server)
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
QString serverShapeProblem(QSqlDatabase db, const history::HistoryServer &server, bool withoutRowUid = false)
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

[[noreturn]] void refuseShape(const history::HistoryServer &server, const QString &problem)
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

// Connects to the shared history under the connection name given and makes
// sure its table has the program's shape, reading the catalogue only: a
// day-to-day role needs no right to create anything.
void openServer(const history::HistoryServer &server, const QString &name = kServerConnection)
{
    QSqlDatabase db = addServerConnection(server, name);
    try {
        if (!db.open())
            throw ExpectedFailure(db.lastError().nativeErrorCode().toLong(),
                                  serverAwayText(server, db.lastError().text()));
        QSqlQuery setup(db);
        if (!setup.exec(QStringLiteral("SET lock_timeout = '") + kSessionLockTimeout + QLatin1Char('\'')))
            throw ExpectedFailure(-1, serverAwayText(server, setup.lastError().text()));
        setup.finish();
        const QString problem = serverShapeProblem(db, server);
        if (!problem.isEmpty())
            refuseShape(server, problem);
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw;
    }
}

void closeServer()
{
    if (!QSqlDatabase::contains(kServerConnection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(kServerConnection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(kServerConnection);
}

// The connection the start tries on a thread of its own (see
// history::connectServerInBackground), and what became of it.
struct BackgroundTry {
    QThread *thread = nullptr;
    QString away; // empty: the server answered and its table has the right shape
    long number = 0;
};
std::unique_ptr<BackgroundTry> g_background;

// Waits for the background try (when there is one) and takes its outcome:
// true when it failed, and app::state().serverAway says why.
bool takeBackgroundTry()
{
    if (!g_background)
        return false;
    std::unique_ptr<BackgroundTry> done = std::move(g_background);
    done->thread->wait();
    delete done->thread;
    if (done->away.isEmpty())
        return false;
    app::state().serverAway = done->away;
    serverStateChanged();
    return true;
}

// Connects to the shared history when it is not connected (at the start,
// or again after it was away): each operation that needs it tries once.
QSqlDatabase serverConnection()
{
    if (!history::isOpen(DbConnection::Server)) {
        // The start's own try, still running or ended: its answer counts
        // for this operation, rather than a second wait as long.
        if (takeBackgroundTry())
            throw ExpectedFailure(-1, app::state().serverAway);
        closeServer();
        try {
            openServer(*g_server);
            app::state().serverAway.clear();
        } catch (const Failure &f) {
            app::state().serverAway = f.description();
            serverStateChanged();
            throw ExpectedFailure(f.number(), f.description());
        }
        serverStateChanged();
    }
    return QSqlDatabase::database(kServerConnection, false);
}

bool serverConfigured() { return g_server.has_value(); }

// A statement that reads or changes the history table (rather than the
// staging table) goes to the server when there is one.
bool namesHistoryTable(const QString &source)
{
    static const QRegularExpression re(QStringLiteral("\\bETC_DATA\\b"), QRegularExpression::CaseInsensitiveOption);
    for (const QString &code : sqldialect::codeParts(source))
        if (re.match(code).hasMatch())
            return true;
    return false;
}

} // namespace

void history::openDatabase(const QString &fileName, history::HistoryAccess access)
{
    guarded("basAccess_MDBOpen", [&] {
        app::setProgramFilesSource(databaseFiles);
        const bool history = fileName == kDatFile;
        if (!history && fileName != kMstFile)
            return;
        const DbConnection which = history ? DbConnection::History : DbConnection::Master;
        if (history::isOpen(which))
            return;
        const QString path = history::databasePath(fileName);
        // Used by this process until it closes it: a restore waits for that,
        // and this waits for a restore that runs.
        if (history && !g_historyUse) {
            QString why;
            g_historyUse = history::HistoryUse::take(path, history::HistoryUse::Mode::Shared, history::kWaitForRestoreMs,
                                                     &why, g_useWaitNotice);
            if (!g_historyUse)
                throw ExpectedFailure(-1, why);
        }
        // A read takes no lock and changes nothing: not the schema, not the
        // rows' identities, not the clean-end stamp. Only a folder without a
        // history yet gets one made, as by any other start.
        const bool forReading = history && access == history::HistoryAccess::ReadOnly && holdsHistoryTable(path);
        // The masters ship with the program: a missing file is a failure, and
        // opening it must not leave an empty database behind.
        if (!history && !QFileInfo(path).isFile())
            throw Failure(-2147467259, QStringLiteral("ファイル '") + path + QStringLiteral("' が見つかりません。"));
        // A new history file is readable by its owner only: it is a record of
        // the user's trips. An existing file keeps its permissions.
        if (history && !QFileInfo::exists(path)) {
            QFile created(path);
            if (created.open(QIODevice::WriteOnly))
                created.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        // A damaged file is reported before anything is written to it, so
        // that it stays exactly as it was for a repair.
        bool checkedInFull = false;
        bool vouched = false;
        if (history) {
            try {
                checkedInFull = history::checkHistoryFile(path, forReading, &vouched);
            } catch (...) {
                g_historyUse.reset();
                throw;
            }
        }
        const QString name = connectionName(which);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(history && !forReading ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000")
                                                        : QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            try {
                if (!db.open())
                    history::throwSqlError(db.lastError(), path);
                // Reading the catalogue proves that the file is a database at all.
                QSqlQuery probe(db);
                if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                    history::throwSqlError(probe.lastError(), path);
                probe.finish();
                if (history)
                    app::state().historyOpenedForReading = forReading;
                if (history && !forReading) {
                    // (Statements that find everything in place write nothing
                    // and need no lock: a start beside a long import goes on.)
                    removeForeignObjects(db, path, true);
                    history::runScript(db, history::historySchemaSql());
                    if (checkedInFull)
                        history::markCheckedSound();
                    else
                        history::startBackgroundCheck(path);
                    try {
                        removeForeignObjects(db, path, false);
                        history::ensureRowIdentity(db);
                        if (!vouched) // changed since this program closed it
                            mendPassageTimes(db);
                    } catch (const history::SchemaRefused &) {
                        throw;
                    } catch (const ExpectedFailure &damaged) { // (found by the check it waited for)
                        throw Failure(damaged.number(), damaged.description());
                    }
                    // A write-ahead log: a commit is one append and one sync of
                    // the log, so that changes stored row by row (the printed
                    // marks of the desktop printer) cost milliseconds, not a
                    // printer line each, and stay as durable as before. A
                    // file system without it keeps the rollback journal.
                    QSqlQuery wal(db);
                    wal.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
                    wal.finish();
                }
                if (history) {
                    // The shared history may be away: the program starts all
                    // the same (card reads and staging are local). The first
                    // operation that needs it connects (the window's start
                    // tries in the background), and each operation after a
                    // failure tries to reach it again.
                    const history::HistoryServer server = history::serverSetting();
                    g_server.reset();
                    app::state().serverAway.clear();
                    if (server.shared)
                        g_server = server;
                }
            } catch (...) {
                db.close();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(name);
                if (history)
                    g_historyUse.reset();
                throw;
            }
        }
    });
}

QStringList history::takeSchemaNotices() { return std::exchange(g_schemaNotices, {}); }

void history::setHistoryUseWaitNotice(std::function<void(const QString &)> notice) { g_useWaitNotice = std::move(notice); }

QStringList history::programFiles() { return databaseFiles(); }

void history::closeDatabase(const QString &fileName)
{
    guarded("basAccess_MDBClose", [&] {
        if (fileName != kDatFile && fileName != kMstFile)
            return;
        const bool vouched = fileName == kDatFile && !app::state().historyOpenedForReading && history::checkedSound();
        if (fileName == kDatFile) {
            history::stopBackgroundCheck();
            takeBackgroundTry();
            closeServer();
            g_server.reset();
            app::state().serverAway.clear();
            history::rememberShown({});
        }
        const QString name = connectionName(fileName == kDatFile ? DbConnection::History : DbConnection::Master);
        // The use of the history ends once its connection is closed.
        const auto endUse = qScopeGuard([&] {
            if (fileName == kDatFile)
                g_historyUse.reset();
        });
        if (!QSqlDatabase::contains(name))
            return;
        QString path;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            path = db.databaseName();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        // Only a file that passed the full check in this run is vouched for;
        // otherwise the next start checks it in full.
        if (vouched)
            history::stampCleanEndOfRun(path);
    });
}

QString history::sqliteText(const QString &source)
{
    if (sqldialect::isTableName(source))
        return QStringLiteral("SELECT * FROM ") + source + QStringLiteral(" ORDER BY rowid");
    return sqldialect::toSqlite(source);
}

QString history::serverText(const QString &source)
{
    if (sqldialect::isTableName(source))
        return QStringLiteral("SELECT * FROM ") + source + QStringLiteral(" ORDER BY ") + kServerRowKey;
    return sqldialect::toPostgres(source);
}

DbConnection history::route(DbConnection which, const QString &source)
{
    if (which == DbConnection::History && history::usesServer() && namesHistoryTable(source))
        return DbConnection::Server;
    return which;
}

QString history::rowKeyColumn(const QString &statement)
{
    return history::route(DbConnection::History, statement) == DbConnection::Server ? kServerRowKey
                                                                                       : QStringLiteral("rowid");
}

QSqlQuery history::execute(DbConnection which, const QString &source)
{
    const DbConnection target = history::route(which, source);
    QSqlQuery q(history::database(target));
    q.setForwardOnly(true);
    if (target == DbConnection::Server) {
        if (!q.exec(history::serverText(source)))
            history::throwServerError(q.lastError());
        return q;
    }
    if (!q.exec(history::sqliteText(source)))
        history::throwSqlError(q.lastError(), QString(), QDir::toNativeSeparators(history::database(which).databaseName()));
    return q;
}

bool history::usesServer() { return g_server.has_value(); }

QString history::serverAwayReason() { return g_server ? app::state().serverAway : QString(); }

void history::throwServerError(const QSqlError &error)
{
    // Whether the connection survived: a refused statement leaves it usable
    // (inside a transaction the server then refuses everything but its end),
    // a lost one is closed here and opened again by the next operation.
    bool alive = false;
    if (QSqlDatabase::contains(kServerConnection)) {
        QSqlDatabase db = QSqlDatabase::database(kServerConnection, false);
        if (db.isOpen() && error.type() != QSqlError::ConnectionError) {
            QSqlQuery probe(db);
            alive = probe.exec(QStringLiteral("SELECT 1")) ||
                    probe.lastError().nativeErrorCode() == QLatin1String("25P02"); // in a failed transaction
        }
    }
    const history::HistoryServer server = g_server.value_or(history::serverSetting());
    bool ok = false;
    long number = error.nativeErrorCode().toLong(&ok);
    if (!ok)
        number = -1;
    if (!alive) {
        closeServer();
        app::state().serverAway = QStringLiteral("サーバーとの接続が切れました: ") + server.describe() + QLatin1Char(' ') +
                       error.text().trimmed();
        serverStateChanged();
        throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーとの接続が切れました。操作は行われていません。"
                                                     "もう一度操作すると、つなぎ直します。 (サーバーとの接続が切れました: ") +
                                          server.describe() + QStringLiteral(") ") + error.text().trimmed());
    }
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    if (error.nativeErrorCode() == kSqlStateLockTimeout)
        throw ExpectedFailure(number, QStringLiteral("他のPCが共有の利用履歴を使用中のため、処理できませんでした。"
                                                     "何も変更していません。しばらくしてから、もう一度操作してください。 (") +
                                          server.describe() + QStringLiteral(") ") + text.trimmed());
    if (error.nativeErrorCode() == QLatin1String("42501")) // insufficient privilege
        throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーで、この操作の権限がありません。"
                                                     "データベースの管理者に、利用者のロールへの権限(passlog server init "
                                                     "が表示する GRANT)を確認してもらってください。 (") +
                                          server.describe() + QStringLiteral(") ") + text.trimmed());
    throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーが処理を受け付けませんでした。 (") +
                                      server.describe() + QStringLiteral(") ") + text.trimmed());
}

void history::throwServerSilent()
{
    const history::HistoryServer server = g_server.value_or(history::serverSetting());
    closeServer();
    const QString seconds = QString::number(kServerSilenceMs / 1000);
    app::state().serverAway = QStringLiteral("サーバーが応答しません: ") + server.describe();
    serverStateChanged();
    throw ExpectedFailure(-1, QStringLiteral("共有の利用履歴サーバーが%1秒以上応答しなくなったため、処理を中止しました。"
                                             "何も変更していません。サーバーが止まっていないか、データベースの管理者に"
                                             "確認してもらってから、もう一度操作してください。 (")
                                  .arg(seconds) +
                                  server.describe() + QLatin1Char(')'));
}

bool history::serverConnected() { return g_server && history::isOpen(DbConnection::Server); }

void history::setServerStateListener(std::function<void()> listener) { g_serverListener = std::move(listener); }

void history::connectServerInBackground(std::function<void()> done)
{
    if (!g_server || history::isOpen(DbConnection::Server) || g_background)
        return;
    auto attempt = std::make_unique<BackgroundTry>();
    BackgroundTry *raw = attempt.get();
    const history::HistoryServer server = *g_server;
    const int round = ++app::state().serverConnectRound;
    raw->thread = QThread::create([raw, server] {
        const QString name = QStringLiteral("passlog_server_background");
        try {
            openServer(server, name);
            QSqlDatabase::database(name, false).close();
        } catch (const Failure &f) {
            raw->away = f.description();
            raw->number = f.number();
        }
        QSqlDatabase::removeDatabase(name);
    });
    // The outcome is taken on the program's thread: a connection belongs to
    // the thread that made it, so a server that answered is connected again
    // there (at once, now that it answers).
    QObject::connect(raw->thread, &QThread::finished, QCoreApplication::instance(), [round, done] {
        if (round != app::state().serverConnectRound || !g_server)
            return; // the history was closed in the meantime
        if (g_background && !takeBackgroundTry())
            app::expectedFailureOf([] { serverConnection(); });
        if (done && history::isOpen(DbConnection::Server))
            done();
    }, Qt::QueuedConnection);
    g_background = std::move(attempt);
    raw->thread->start();
}

namespace {
// Takes a lock with statement in the open transaction of db, in short tries
// that let keepGoing be asked, for kServerLockWaitMs in all.
void lockInTries(QSqlDatabase db, const QString &statement, const std::function<bool()> &keepGoing)
{
    QSqlQuery q(db);
    history::runText(q, QStringLiteral("SET LOCAL lock_timeout = '%1ms'").arg(kServerLockTryMs), true);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        history::runText(q, QStringLiteral("SAVEPOINT passlog_table_lock"), true);
        if (q.exec(statement)) {
            q.finish();
            history::runText(q, QStringLiteral("RELEASE SAVEPOINT passlog_table_lock"), true);
            history::runText(q, QStringLiteral("SET LOCAL lock_timeout = '") + kSessionLockTimeout + QLatin1Char('\''), true);
            return;
        }
        const QSqlError refused = q.lastError();
        if (refused.nativeErrorCode() != kSqlStateLockTimeout || waited.elapsed() >= kServerLockWaitMs)
            history::throwServerError(refused);
        history::runText(q, QStringLiteral("ROLLBACK TO SAVEPOINT passlog_table_lock"), true);
        if (keepGoing && !keepGoing())
            throw history::WorkStopped();
    }
}
} // namespace

void history::lockServerTable(QSqlDatabase db, const QString &mode, const std::function<bool()> &keepGoing)
{
    lockInTries(db, QStringLiteral("LOCK TABLE ETC_DATA IN ") + mode + QStringLiteral(" MODE"), keepGoing);
}

void history::lockServerHistoryWriters(QSqlDatabase db, const std::function<bool()> &keepGoing)
{
    lockInTries(db, QStringLiteral("SELECT pg_advisory_xact_lock(20240502)"), keepGoing);
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
    QString sequence;
    if (q.exec(QStringLiteral("SELECT pg_get_serial_sequence('public.etc_data', 'row_id')")) && q.next())
        sequence = q.value(0).toString();
    grants += QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON public.ETC_DATA TO ") + role + QStringLiteral(";\n");
    if (!sequence.isEmpty())
        grants += QStringLiteral("GRANT USAGE ON SEQUENCE ") + sequence + QStringLiteral(" TO ") + role +
                  QStringLiteral(";\n");
    // The deleted rows: kept by a delete, put back and removed by a restore.
    QString deletedSequence;
    if (q.exec(QStringLiteral("SELECT pg_get_serial_sequence('public.etc_deleted', 'deleted_row')")) && q.next())
        deletedSequence = q.value(0).toString();
    grants += QStringLiteral("GRANT SELECT, INSERT, DELETE ON public.ETC_DELETED TO ") + role + QStringLiteral(";\n");
    if (!deletedSequence.isEmpty())
        grants += QStringLiteral("GRANT USAGE ON SEQUENCE ") + deletedSequence + QStringLiteral(" TO ") + role +
                  QStringLiteral(";\n");
    return grants;
}

QString history::initServer()
{
    return guarded("basAccess_InitServer", [&]() -> QString {
        const history::HistoryServer server = history::serverSetting();
        if (!server.shared)
            throw ExpectedFailure(-1, QStringLiteral("設定ファイルの [DATABASE] に共有の利用履歴サーバー(Driver=PSQL)が"
                                                     "設定されていません。 (設定ファイル: ") +
                                          QDir::toNativeSeparators(app::settingsFileName()) + QLatin1Char(')'));
        takeBackgroundTry();
        closeServer();
        g_server = server;
        QSqlDatabase db = addServerConnection(server, kServerConnection);
        if (!db.open()) {
            const QString reason = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(kServerConnection);
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

void history::runText(QSqlQuery &q, const QString &sql, bool server)
{
    if (q.exec(sql))
        return;
    if (server)
        history::throwServerError(q.lastError());
    history::throwSqlError(q.lastError());
}

bool history::hasRows(const QString &source)
{
    return guarded("basAccess_MDBTBLCheck", [&] {
        QSqlQuery q = history::execute(DbConnection::History, source);
        const bool any = q.next();
        q.finish();
        return any;
    });
}

void history::runStatement(const QString &statement)
{
    guarded("basAccess_MDBTBLOpen", [&] {
        static const QRegularExpression change(QStringLiteral("^\\s*(DELETE|UPDATE|INSERT)\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
        if (change.match(statement).hasMatch() &&
            history::route(DbConnection::History, statement) == DbConnection::History) {
            // Emptying an empty staging table writes nothing: no wait for the
            // check of the file.
            if (statement.simplified() == QStringLiteral("DELETE * FROM ") + kTableTemp + QLatin1Char(';') &&
                !history::hasRows(kTableTemp))
                return;
            history::requireSoundHistory();
        }
        QSqlQuery q = history::execute(DbConnection::History, statement);
        q.finish();
    });
}
