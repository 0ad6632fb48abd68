#include "history/Database.h"
#include "app/RunSettings.h"
#include "history/ServerConnection.h"

#include "app/Constants.h"
#include "app/DataFolder.h"
#include "app/Failure.h"
#include "history/HistoryStore.h"
#include "app/Seams.h"
#include "app/Common.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "history/DatabaseErrors.h"
#include "history/HistoryFileCheck.h"
#include "history/HistoryCheck.h"
#include "history/SqlDialect.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString kServerRowKey = QStringLiteral("ROW_ID");

QString programFolder()
{
    return app::withTrailingSeparator(app::runSettings().programFolder.isEmpty() ? seams::programFolder() : app::runSettings().programFolder);
}

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

} // namespace

QString history::diskFileName(const QString &fileName)
{
    if (fileName.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive))
        return fileName.left(fileName.size() - 4) + QStringLiteral(".sqlite");
    return fileName;
}

void history::usePrivateHistory(const QString &folder) { history::store().privateFolder = folder; }

bool history::usesPrivateHistory() { return !history::store().privateFolder.isEmpty(); }

QString history::databasePath(const QString &fileName)
{
    if (fileName == kDatFile && !history::store().privateFolder.isEmpty())
        return app::withTrailingSeparator(history::store().privateFolder) + history::diskFileName(fileName);
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

QSqlQuery history::execute(DbConnection which, const QString &source, const QVariantList &values)
{
    const DbConnection target = history::route(which, source);
    QSqlQuery q(history::database(target));
    q.setForwardOnly(true);
    const QString sql = target == DbConnection::Server ? history::serverText(source) : history::sqliteText(source);
    bool ran = false;
    if (values.isEmpty()) {
        ran = q.exec(sql);
    } else if (q.prepare(sql)) {
        for (const QVariant &value : values)
            q.addBindValue(value);
        ran = q.exec();
    }
    if (ran)
        return q;
    if (target == DbConnection::Server)
        history::throwServerError(q.lastError());
    history::throwSqlError(q.lastError(), QString(), QDir::toNativeSeparators(history::database(which).databaseName()));
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
    return app::tagged(app::Procedure::CheckRows, [&] {
        QSqlQuery q = history::execute(DbConnection::History, source);
        const bool any = q.next();
        q.finish();
        return any;
    });
}

void history::runStatement(const QString &statement)
{
    app::tagged(app::Procedure::RunStatement, [&] {
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
