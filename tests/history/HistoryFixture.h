#pragma once
// A program folder with a master database built from data/ and both
// database connections open, for the history tests.

#include "app/RunSettings.h"
#include "TestHarness.h"
#include "app/Constants.h"
#include "app/ProfileFile.h"
#include "history/SqlDialect.h"
#include "history/Database.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QVariant>

inline QString readSourceFile(const QString &relative)
{
    QFile f(QStringLiteral(PASSLOG_SOURCE_DIR "/") + relative);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(f.fileName()));
    return QString::fromUtf8(f.readAll());
}

// Writes the shipped master database (schema and sample rows) to path.
inline void writeMasterDatabase(const QString &path, const QString &extraSql = QString())
{
    QFile::remove(path);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fixture"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        history::runScript(db, readSourceFile(QStringLiteral("data/schema_master.sql")));
        history::runScript(db, readSourceFile(QStringLiteral("data/master_sample.sql")));
        if (!extraSql.isEmpty())
            history::runScript(db, extraSql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture"));
}

// The history suite runs twice: on the history file alone, and with the
// history table on the PostgreSQL cluster that scripts/test.sh starts
// (PASSLOG_TEST_STORE=psql, the cluster in PASSLOG_PG_*).
inline bool onServerStore() { return qEnvironmentVariable("PASSLOG_TEST_STORE") == QLatin1String("psql"); }
#define SQLITE_FILE_ONLY()                                                                                           \
    do {                                                                                                             \
        if (onServerStore())                                                                                         \
            QSKIP("a property of the SQLite history file");                                                         \
    } while (false)

// Points the settings file of h at the test cluster.
inline void pointAtServer(TestHarness &h)
{
    const QString file = h.settingsFile();
    app::writeProfileString(QStringLiteral("DATABASE"), QStringLiteral("Driver"), QStringLiteral("PSQL"), file);
    app::writeProfileString(QStringLiteral("DATABASE"), QStringLiteral("Host"), qEnvironmentVariable("PASSLOG_PG_HOST"), file);
    app::writeProfileString(QStringLiteral("DATABASE"), QStringLiteral("Port"), qEnvironmentVariable("PASSLOG_PG_PORT"), file);
    app::writeProfileString(QStringLiteral("DATABASE"), QStringLiteral("Name"), qEnvironmentVariable("PASSLOG_PG_NAME"), file);
    app::writeProfileString(QStringLiteral("DATABASE"), QStringLiteral("User"), qEnvironmentVariable("PASSLOG_PG_USER"), file);
}

// Runs plain text on the test cluster's database, outside the program.
inline void serverAdminExec(const QString &sql)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("fixture_admin"));
        db.setHostName(qEnvironmentVariable("PASSLOG_PG_HOST"));
        db.setPort(qEnvironmentVariableIntValue("PASSLOG_PG_PORT"));
        db.setDatabaseName(qEnvironmentVariable("PASSLOG_PG_NAME"));
        db.setUserName(qEnvironmentVariable("PASSLOG_PG_USER"));
        if (!db.open())
            qFatal("test cluster: %s", qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        if (!q.exec(sql))
            qFatal("test cluster: %s", qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture_admin"));
}

// The one-time set-up of the shared history (passlog server init), as the
// cluster's owner: the program itself only checks the table.
inline void initServer()
{
    history::initServer();
    history::closeDatabase(kDatFile); // its connection
}

inline void openDatabases(TestHarness &h, const QString &extraMasterSql = QString())
{
    app::runSettings().programFolder = h.programFolder() + QLatin1Char('/');
    if (onServerStore()) {
        pointAtServer(h);
        serverAdminExec(QStringLiteral("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED"));
        initServer();
    }
    writeMasterDatabase(history::databasePath(kMstFile), extraMasterSql);
    history::openDatabase(kDatFile);
    history::openDatabase(kMstFile);
}

inline void closeDatabases()
{
    history::closeDatabase(kMstFile);
    history::closeDatabase(kDatFile);
}

// Runs plain SQLite text on the history database; on the server, what names
// ETC_DATA goes there, with the Japanese names quoted.
inline void historyExec(const QString &sql)
{
    const DbConnection where = history::route(DbConnection::History, sql);
    QSqlQuery q(history::database(where));
    if (!q.exec(where == DbConnection::Server ? sqldialect::toPostgres(sql) : sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

inline QStringList column(const QString &jetSql, int index = 0)
{
    QStringList out;
    QSqlQuery q = history::execute(DbConnection::History, jetSql);
    while (q.next())
        out << q.value(index).toString();
    return out;
}

// One history row by its display columns; the other columns stay Null.
inline void addHistoryRow(const QString &card, const QString &date, const QString &time, const QString &toll,
                          const QString &car = QStringLiteral("普通車"),
                          const QString &in = QStringLiteral("東名高速道路 東京"),
                          const QString &out = QStringLiteral("東名高速道路 厚木"),
                          const QString &table = QStringLiteral("ETC_DATA"))
{
    const QString sql = QStringLiteral("INSERT INTO ") + table +
                        QStringLiteral(" (CARD_ID,カードNO,PASS_DATE,ご利用日,PASS_TIME,通過時間,DATE_TIME,通行料金,車種,"
                                       "入口料金所,出口料金所) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
    const DbConnection where = history::route(DbConnection::History, sql);
    QSqlQuery q(history::database(where));
    q.prepare(where == DbConnection::Server ? sqldialect::toPostgres(sql) : sql);
    for (const QVariant &v : {QVariant(card), QVariant(card), QVariant(date), QVariant(date), QVariant(time),
                              QVariant(time), QVariant(date + QLatin1Char('-') + time), QVariant(toll),
                              QVariant(car), QVariant(in), QVariant(out)})
        q.addBindValue(v);
    if (!q.exec())
        qFatal("insert failed");
}
