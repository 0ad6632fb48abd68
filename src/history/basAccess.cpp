#include "history/basAccess.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/JetSql.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QStringList>
#include <QVariant>

namespace {

const QString kHistoryConnection = QStringLiteral("passlog_history");
const QString kMasterConnection = QStringLiteral("passlog_master");

QString connectionName(DbConnection which)
{
    return which == DbConnection::History ? kHistoryConnection : kMasterConnection;
}

} // namespace

void throwSqlError(const QSqlError &error, const QString &context)
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
    throw Failure(number, text);
}

namespace {

// Statements of a script: split at ";" outside string literals and comments.
QStringList scriptStatements(const QString &script)
{
    QStringList out;
    QString current;
    bool inLiteral = false;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        if (!inLiteral && c == QLatin1Char('-') && i + 1 < script.size() && script[i + 1] == QLatin1Char('-')) {
            while (i < script.size() && script[i] != QLatin1Char('\n'))
                ++i;
            current += QLatin1Char('\n');
            continue;
        }
        if (c == QLatin1Char('\''))
            inLiteral = !inLiteral; // a doubled quote toggles twice
        if (!inLiteral && c == QLatin1Char(';')) {
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
    QSqlQuery check(db);
    check.setForwardOnly(true);
    if (!check.exec(QStringLiteral("PRAGMA quick_check")))
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

QString basAccess_FilePath(const QString &fileName) { return programFolder() + basAccess_DiskFileName(fileName); }

bool basAccess_IsOpen(DbConnection which)
{
    return QSqlDatabase::contains(connectionName(which)) &&
           QSqlDatabase::database(connectionName(which), false).isOpen();
}

QSqlDatabase basAccess_Database(DbConnection which)
{
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

void basAccess_MDBOpen(const QString &fileName)
{
    guarded("basAccess_MDBOpen", [&] {
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
                    // A damaged file is reported before anything is written to it,
                    // so that it stays exactly as it was for a repair.
                    checkIntact(db, path);
                    basAccess_RunScript(db, historySchemaSql());
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
        const QString name = connectionName(fileName == kDatFile ? DbConnection::History : DbConnection::Master);
        if (!QSqlDatabase::contains(name))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    });
}

QString basAccess_SqliteText(const QString &source)
{
    if (jetsql::isTableName(source))
        return QStringLiteral("SELECT * FROM ") + source + QStringLiteral(" ORDER BY rowid");
    return jetsql::toSqlite(source);
}

QString basAccess_RowKey(const QString &) { return QStringLiteral("rowid"); }

QSqlQuery basAccess_Execute(DbConnection which, const QString &source)
{
    QSqlQuery q(basAccess_Database(which));
    q.setForwardOnly(true);
    if (!q.exec(basAccess_SqliteText(source)))
        throwSqlError(q.lastError());
    return q;
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
