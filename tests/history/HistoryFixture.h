#pragma once
// A program folder with a master database built from data/ and both
// database connections open, for the history tests.

#include "TestHarness.h"
#include "app/basGlobal.h"
#include "history/basAccess.h"

#include <QFile>
#include <QSqlDatabase>
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
        basAccess_RunScript(db, readSourceFile(QStringLiteral("data/schema_master.sql")));
        basAccess_RunScript(db, readSourceFile(QStringLiteral("data/master_sample.sql")));
        if (!extraSql.isEmpty())
            basAccess_RunScript(db, extraSql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fixture"));
}

inline void openDatabases(TestHarness &h, const QString &extraMasterSql = QString())
{
    AppPath = h.programFolder() + QLatin1Char('/');
    writeMasterDatabase(basAccess_FilePath(kMstFile), extraMasterSql);
    basAccess_MDBOpen(kDatFile);
    basAccess_MDBOpen(kMstFile);
}

inline void closeDatabases()
{
    basAccess_MDBClose(kMstFile);
    basAccess_MDBClose(kDatFile);
}

// Runs plain SQLite text on the history database.
inline void historyExec(const QString &sql)
{
    QSqlQuery q(basAccess_Database(DbConnection::History));
    if (!q.exec(sql))
        qFatal("%s", qPrintable(sql));
}

inline QStringList column(const QString &jetSql, int index = 0)
{
    QStringList out;
    QSqlQuery q = basAccess_Execute(DbConnection::History, jetSql);
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
    QSqlQuery q(basAccess_Database(DbConnection::History));
    q.prepare(QStringLiteral("INSERT INTO ") + table +
              QStringLiteral(" (CARD_ID,カードNO,PASS_DATE,ご利用日,PASS_TIME,通過時間,DATE_TIME,通行料金,車種,"
                             "入口料金所,出口料金所) VALUES (?,?,?,?,?,?,?,?,?,?,?)"));
    for (const QVariant &v : {QVariant(card), QVariant(card), QVariant(date), QVariant(date), QVariant(time),
                              QVariant(time), QVariant(date + QLatin1Char('-') + time), QVariant(toll),
                              QVariant(car), QVariant(in), QVariant(out)})
        q.addBindValue(v);
    if (!q.exec())
        qFatal("insert failed");
}
