#include "history/basAccess.h"

#include "app/CheckedSaveFile.h"
#include "app/DataFolder.h"
#include "app/Failure.h"
#include "app/Seams.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/DatabaseErrors.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "history/JetSql.h"
#include "history/ShownRows.h"
#include "history/basAccessEntry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <filesystem>
#include <optional>

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

void throwSqlError(const QSqlError &error, const QString &context, const QString &file)
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
    const QString sentence = databaseErrorSentence(error);
    if (!sentence.isEmpty()) {
        const QString path = !file.isEmpty()                ? file
                             : QDir::isAbsolutePath(context) ? QString() // already named
                                                             : basAccess_FilePath(kDatFile);
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

// Reads every page of the file (without writing) and fails when its structure
// is damaged, naming the file.
void checkIntact(QSqlDatabase db, const QString &path)
{
    // Reading the catalogue proves that the file is a database at all.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        throwSqlError(probe.lastError(), path);
    probe.finish();
    QSqlQuery check(db);
    check.setForwardOnly(true);
    // The first problem found is enough to report (the full list of a badly
    // damaged file runs to a hundred lines).
    if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")))
        throwSqlError(check.lastError(), path);
    QStringList problems;
    while (check.next())
        problems << check.value(0).toString();
    if (check.lastError().isValid())
        throwSqlError(check.lastError(), path);
    check.finish();
    if (problems == QStringList{QStringLiteral("ok")})
        return;
    throw Failure(11, QStringLiteral("ファイル '") + path + QStringLiteral("' が壊れています。 (") +
                          problems.value(0) + QLatin1Char(')'));
}

// Opens the file on a connection of its own (read-only unless told
// otherwise), checks it and closes it again.
void checkOnOwnConnection(const QString &path, bool readOnly)
{
    const QString name = QStringLiteral("passlog_history_check");
    std::optional<Failure> failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                      : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        try {
            if (!db.open())
                throwSqlError(db.lastError(), path);
            checkIntact(db, path);
        } catch (const Failure &f) {
            failure = f;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (failure)
        throw *failure;
}

// What a clean end of the program leaves beside the history file: the
// file's size, modification time and a digest of its first page, as they were
// when the program closed it. A file that still matches, without a log left
// over, is the file the program checked at its start and changed soundly
// since: the next start need not read every page again. Any other change (a
// crash's log, a copy from elsewhere, a write by another program) fails the
// match and brings the full check back.
QString cleanEndMarkerPath(const QString &path) { return path + QStringLiteral("-closed"); }

// The database files as the program keeps them on disk, with the logs
// SQLite makes beside them and the clean-end marker: no document is ever
// written onto one of them.
QStringList databaseFiles()
{
    QStringList files;
    for (const QString &file : {basAccess_FilePath(kDatFile), basAccess_FilePath(kMstFile)})
        files << file << file + QStringLiteral("-wal") << file + QStringLiteral("-shm")
              << file + QStringLiteral("-journal") << cleanEndMarkerPath(file);
    return files;
}

QByteArray cleanEndStamp(const QString &path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray firstPage = file.read(4096);
    // The modification time to the file system's own precision (nanoseconds
    // on Linux), so that a write right after the close still shows.
    std::error_code error;
    const auto modified = std::filesystem::last_write_time(std::filesystem::path(path.toStdWString()), error);
    if (error)
        return {};
    return QByteArray::number(info.size()) + ' ' +
           QByteArray::number(qint64(modified.time_since_epoch().count())) + ' ' +
           QCryptographicHash::hash(firstPage, QCryptographicHash::Sha256).toHex();
}

bool logLeftOver(const QString &path)
{
    return QFileInfo::exists(path + QStringLiteral("-wal")) || QFileInfo::exists(path + QStringLiteral("-journal"));
}

bool endedCleanly(const QString &path)
{
    QFile marker(cleanEndMarkerPath(path));
    if (logLeftOver(path) || !marker.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stamp = cleanEndStamp(path);
    return !stamp.isEmpty() && marker.readAll().trimmed() == stamp;
}

void markCleanEnd(const QString &path)
{
    if (logLeftOver(path))
        return;
    QFile marker(cleanEndMarkerPath(path));
    if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        marker.write(cleanEndStamp(path) + '\n');
        marker.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

// The history file is checked before the program writes to it. A writable
// connection would, on closing, copy a write-ahead log left by a run that
// did not end (a crash, a power cut) into the file and remove the log, also
// when the file turns out to be damaged. A read-only connection never does:
// the file and its log stay byte for byte as they were, for a repair.
//
// A read-only connection needs the log's index file (-shm) writable when a
// log is there. When it cannot have it (a folder or index file the user may
// not write), the file and its logs are checked as a copy in a private
// temporary folder instead.
void checkHistoryFile(const QString &path)
{
    // After a clean end only the header and the catalogue are read (SQLite
    // still reports damage on any page it touches later, before writing it).
    if (endedCleanly(path)) {
        QFile::remove(cleanEndMarkerPath(path)); // this run has not ended yet
        const QString name = QStringLiteral("passlog_history_probe");
        std::optional<Failure> failure;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            QSqlQuery probe(db);
            if (!db.open())
                failure = Failure(14, db.lastError().text());
            else if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                failure = Failure(11, probe.lastError().text());
            probe = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (!failure)
            return;
    }
    QFile::remove(cleanEndMarkerPath(path));
    try {
        checkOnOwnConnection(path, true);
        return;
    } catch (const Failure &f) {
        const long code = f.number() & 0xff;
        const bool logLeft = QFileInfo::exists(path + QStringLiteral("-wal")) ||
                             QFileInfo::exists(path + QStringLiteral("-journal"));
        if (!logLeft || (code != 14 && code != 8)) // 14 cannot open, 8 read-only
            throw;
    }
    QTemporaryDir copy;
    if (!copy.isValid())
        throw Failure(14, QStringLiteral("ファイル '") + path + QStringLiteral("' を確認できません。 (") +
                              copy.errorString() + QLatin1Char(')'));
    const QString copied = copy.filePath(QStringLiteral("check.sqlite"));
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (QFileInfo::exists(path + suffix) && !QFile::copy(path + suffix, copied + suffix))
            throw Failure(14, QStringLiteral("ファイル '") + path + suffix + QStringLiteral("' を読めません。"));
    }
    try {
        checkOnOwnConnection(copied, false);
    } catch (const Failure &f) {
        // The report names the user's file, not the copy.
        QString text = f.description();
        text.replace(QDir::toNativeSeparators(copied), path).replace(copied, path);
        throw Failure(f.number(), text);
    }
}

QString programFolder()
{
    return basCommon_CheckPath(AppPath.isEmpty() ? seams::programFolder() : AppPath);
}

} // namespace

QString basAccess_DiskFileName(const QString &fileName)
{
    if (fileName.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive))
        return fileName.left(fileName.size() - 4) + QStringLiteral(".sqlite");
    return fileName;
}

QString basAccess_FilePath(const QString &fileName)
{
    const QString inDataFolder = programFolder() + basAccess_DiskFileName(fileName);
    // The masters ship with the program: when the data folder has none (the
    // user's folder of an installed program), the installed copy is read.
    if (fileName == kMstFile && !QFileInfo::exists(inDataFolder)) {
        for (const QString &folder : shippedDataFolders()) {
            const QString shipped = basCommon_CheckPath(folder) + basAccess_DiskFileName(fileName);
            if (QFileInfo(shipped).isFile())
                return shipped;
        }
    }
    return inDataFolder;
}

bool basAccess_IsOpen(DbConnection which)
{
    return QSqlDatabase::contains(connectionName(which)) &&
           QSqlDatabase::database(connectionName(which), false).isOpen();
}

QSqlDatabase basAccess_Database(DbConnection which)
{
    if (which == DbConnection::Server && serverConfigured())
        return serverConnection();
    if (!basAccess_IsOpen(which))
        throw Failure(3704, QStringLiteral("データベースが開かれていません。"));
    return QSqlDatabase::database(connectionName(which), false);
}

void basAccess_RunScript(QSqlDatabase db, const QString &script)
{
    for (const QString &statement : scriptStatements(script)) {
        QSqlQuery q(db);
        if (!q.exec(statement))
            throwSqlError(q.lastError(), statement.left(80));
    }
}

HistoryServer basAccess_ServerSetting()
{
    HistoryServer server;
    const QString file = settingsFileName();
    auto read = [&](const char *key) {
        const QString value = basCommon_GetIniString(kSectionDatabase, QString::fromLatin1(key), file);
        return value == kIniMissing ? QString() : value.trimmed();
    };
    server.shared = read("Driver").compare(QLatin1String("PSQL"), Qt::CaseInsensitive) == 0;
    server.host = read("Host");
    server.port = read("Port").toInt();
    server.name = read("Name");
    server.user = read("User");
    return server;
}

QString HistoryServer::describe() const
{
    return QStringLiteral("PostgreSQL ") + (host.isEmpty() ? QStringLiteral("localhost") : host) +
           (port > 0 ? QLatin1Char(':') + QString::number(port) : QString()) + QLatin1Char('/') + name;
}

namespace {

// The shared history named by the settings when the history file was opened,
// and why the last attempt to reach it failed (empty while connected).
std::optional<HistoryServer> g_server;
QString g_serverAway;

// Connection options of libpq: a server that takes the connection but does
// not answer is given up after about 5 s, and a connection whose peer
// vanished is noticed by the keepalives instead of hanging.
const QString kServerOptions = QStringLiteral(
    "connect_timeout=5;application_name=PASSLOG;keepalives=1;keepalives_idle=10;keepalives_interval=2;"
    "keepalives_count=3;tcp_user_timeout=10000");

QString serverAwayText(const HistoryServer &server, const QString &reason)
{
    return QStringLiteral("共有の利用履歴サーバーに接続できません。ネットワークとサーバーを確認してから、もう一度操作してください。"
                          " (") +
           server.describe() + QStringLiteral(") ") + reason.trimmed();
}

// Connects to the shared history and makes sure its table exists. Two PCs
// connecting at once take turns for the schema (an advisory lock of the
// server), since creating a table is not safe to race.
void openServer(const HistoryServer &server)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kServerConnection);
    db.setHostName(server.host);
    if (server.port > 0)
        db.setPort(server.port);
    db.setDatabaseName(server.name);
    db.setUserName(server.user);
    // No password here: the server's own mechanisms supply it (the password
    // file ~/.pgpass or PGPASSFILE, or PGPASSWORD in the environment).
    db.setConnectOptions(kServerOptions);
    try {
        if (!db.open())
            throw ExpectedFailure(db.lastError().nativeErrorCode().toLong(),
                                  serverAwayText(server, db.lastError().text()));
        QSqlQuery lock(db);
        if (!lock.exec(QStringLiteral("SELECT pg_advisory_lock(20240501)")))
            throw ExpectedFailure(-1, serverAwayText(server, lock.lastError().text()));
        try {
            basAccess_RunScript(db, serverSchemaSql());
        } catch (...) {
            lock.exec(QStringLiteral("SELECT pg_advisory_unlock(20240501)"));
            throw;
        }
        lock.exec(QStringLiteral("SELECT pg_advisory_unlock(20240501)"));
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(kServerConnection);
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

// Connects to the shared history when it is not connected (at the start,
// or again after it was away): each operation that needs it tries once.
QSqlDatabase serverConnection()
{
    if (!basAccess_IsOpen(DbConnection::Server)) {
        closeServer();
        try {
            openServer(*g_server);
            g_serverAway.clear();
        } catch (const Failure &f) {
            g_serverAway = f.description();
            throw ExpectedFailure(f.number(), f.description());
        }
    }
    return QSqlDatabase::database(kServerConnection, false);
}

bool serverConfigured() { return g_server.has_value(); }

// A statement that reads or changes the history table (rather than the
// staging table) goes to the server when there is one.
bool namesHistoryTable(const QString &source)
{
    static const QRegularExpression re(QStringLiteral("\\bETC_DATA\\b"), QRegularExpression::CaseInsensitiveOption);
    for (const QString &code : jetsql::codeParts(source))
        if (re.match(code).hasMatch())
            return true;
    return false;
}

} // namespace

void basAccess_MDBOpen(const QString &fileName)
{
    guarded("basAccess_MDBOpen", [&] {
        setProgramFilesSource(databaseFiles);
        const bool history = fileName == kDatFile;
        if (!history && fileName != kMstFile)
            return;
        const DbConnection which = history ? DbConnection::History : DbConnection::Master;
        if (basAccess_IsOpen(which))
            return;
        const QString path = basAccess_FilePath(fileName);
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
        if (history)
            checkHistoryFile(path);
        const QString name = connectionName(which);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            db.setConnectOptions(history ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000")
                                         : QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
            try {
                if (!db.open())
                    throwSqlError(db.lastError(), path);
                // Reading the catalogue proves that the file is a database at all.
                QSqlQuery probe(db);
                if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                    throwSqlError(probe.lastError(), path);
                probe.finish();
                if (history) {
                    basAccess_RunScript(db, historySchemaSql());
                    basAccess_EnsureRowIdentity(db);
                    // A write-ahead log: a commit is one append and one sync of
                    // the log, so that changes stored row by row (the printed
                    // marks of the desktop printer) cost milliseconds, not a
                    // printer line each, and stay as durable as before. A
                    // file system without it keeps the rollback journal.
                    QSqlQuery wal(db);
                    wal.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
                    wal.finish();
                    // The shared history may be away: the program starts all
                    // the same (card reads and staging are local), and each
                    // operation on the history tries to reach it again.
                    const HistoryServer server = basAccess_ServerSetting();
                    g_server.reset();
                    g_serverAway.clear();
                    if (server.shared) {
                        g_server = server;
                        try {
                            serverConnection();
                        } catch (const ExpectedFailure &) {
                        }
                    }
                }
            } catch (...) {
                db.close();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(name);
                throw;
            }
        }
    });
}

void basAccess_MDBClose(const QString &fileName)
{
    guarded("basAccess_MDBClose", [&] {
        if (fileName != kDatFile && fileName != kMstFile)
            return;
        if (fileName == kDatFile) {
            closeServer();
            g_server.reset();
            g_serverAway.clear();
            basAccess_RememberShown({});
        }
        const QString name = connectionName(fileName == kDatFile ? DbConnection::History : DbConnection::Master);
        if (!QSqlDatabase::contains(name))
            return;
        QString path;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            path = db.databaseName();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (fileName == kDatFile)
            markCleanEnd(path);
    });
}

QString basAccess_SqliteText(const QString &source)
{
    if (jetsql::isTableName(source))
        return QStringLiteral("SELECT * FROM ") + source + QStringLiteral(" ORDER BY rowid");
    return jetsql::toSqlite(source);
}

QString basAccess_ServerText(const QString &source)
{
    if (jetsql::isTableName(source))
        return QStringLiteral("SELECT * FROM ") + source + QStringLiteral(" ORDER BY ") + kServerRowKey;
    return jetsql::toPostgres(source);
}

DbConnection basAccess_Route(DbConnection which, const QString &source)
{
    if (which == DbConnection::History && basAccess_UsesServer() && namesHistoryTable(source))
        return DbConnection::Server;
    return which;
}

QString basAccess_RowKey(const QString &statement)
{
    return basAccess_Route(DbConnection::History, statement) == DbConnection::Server ? kServerRowKey
                                                                                       : QStringLiteral("rowid");
}

QSqlQuery basAccess_Execute(DbConnection which, const QString &source)
{
    const DbConnection target = basAccess_Route(which, source);
    QSqlQuery q(basAccess_Database(target));
    q.setForwardOnly(true);
    if (target == DbConnection::Server) {
        if (!q.exec(basAccess_ServerText(source)))
            throwServerError(q.lastError());
        return q;
    }
    if (!q.exec(basAccess_SqliteText(source)))
        throwSqlError(q.lastError(), QString(), QDir::toNativeSeparators(basAccess_Database(which).databaseName()));
    return q;
}

bool basAccess_UsesServer() { return g_server.has_value(); }

QString basAccess_ServerAway() { return g_server ? g_serverAway : QString(); }

void throwServerError(const QSqlError &error)
{
    // Whether the connection survived: a refused statement leaves it usable,
    // a lost one is closed here and opened again by the next operation.
    bool alive = false;
    if (QSqlDatabase::contains(kServerConnection)) {
        QSqlDatabase db = QSqlDatabase::database(kServerConnection, false);
        if (db.isOpen()) {
            QSqlQuery probe(db);
            alive = error.type() != QSqlError::ConnectionError && probe.exec(QStringLiteral("SELECT 1"));
        }
    }
    const HistoryServer server = g_server.value_or(basAccess_ServerSetting());
    bool ok = false;
    long number = error.nativeErrorCode().toLong(&ok);
    if (!ok)
        number = -1;
    if (!alive) {
        closeServer();
        g_serverAway = QStringLiteral("サーバーとの接続が切れました: ") + server.describe() + QLatin1Char(' ') +
                       error.text().trimmed();
        throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーとの接続が切れました。操作は行われていません。"
                                                     "もう一度操作すると、つなぎ直します。 (サーバーとの接続が切れました: ") +
                                          server.describe() + QStringLiteral(") ") + error.text().trimmed());
    }
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    throw ExpectedFailure(number, QStringLiteral("共有の利用履歴サーバーが処理を受け付けませんでした。 (") +
                                      server.describe() + QStringLiteral(") ") + text.trimmed());
}

void basAccess_Run(QSqlQuery &q, const QString &sql, bool server)
{
    if (q.exec(sql))
        return;
    if (server)
        throwServerError(q.lastError());
    throwSqlError(q.lastError());
}

bool basAccess_MDBTBLCheck(const QString &source)
{
    return guarded("basAccess_MDBTBLCheck", [&] {
        QSqlQuery q = basAccess_Execute(DbConnection::History, source);
        const bool any = q.next();
        q.finish();
        return any;
    });
}

void basAccess_MDBTBLOpen(const QString &statement)
{
    guarded("basAccess_MDBTBLOpen", [&] {
        QSqlQuery q = basAccess_Execute(DbConnection::History, statement);
        q.finish();
    });
}
