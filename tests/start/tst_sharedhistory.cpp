// Two PCs on one shared history, as two program folders and two processes of
// the real program: CSV取込 of the same file at the same moment, and the copy
// of two history files that hold the same passages, each add what one PC
// alone would; a history row the server cannot take is named when the copy
// refuses it. A server process halted in the middle of an export is given
// up within a bound; "server init --role public" is refused; a role given
// exactly the printed grants imports, exports and copies; rows whose
// DATE_TIME disagrees with their PASS_DATE and PASS_TIME are not imported
// again.

#include "TestHarness.h"
#include "app/Cp932.h"
#include "history/Database.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTime>
#include <QtTest>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <memory>

#include <signal.h>

namespace {

bool haveCluster() { return !qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"); }

// Runs text on the test cluster as its owner; the first column of the rows.
QStringList onServer(const QString &sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
        db.setHostName(qEnvironmentVariable("PASSLOG_PG_HOST"));
        db.setPort(qEnvironmentVariableIntValue("PASSLOG_PG_PORT"));
        db.setDatabaseName(qEnvironmentVariable("PASSLOG_PG_NAME"));
        db.setUserName(qEnvironmentVariable("PASSLOG_PG_USER"));
        if (!db.open())
            qFatal("test cluster: %s", qPrintable(db.lastError().text()));
        if (sql.isEmpty()) { // a new, empty shared history
            history::runScript(db, QStringLiteral("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED"));
            history::runScript(db, history::serverSchemaSql());
        } else {
            QSqlQuery q(db);
            if (!q.exec(sql))
                qFatal("test cluster: %s", qPrintable(q.lastError().text()));
            while (q.next())
                out << q.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    return out;
}

int serverRows() { return onServer(QStringLiteral("SELECT COUNT(*) FROM ETC_DATA")).value(0).toInt(); }

// n lines of card 1234 as CSV出力 writes them, each passage its own.
QByteArray csvLines(int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += cp932::encode(QStringLiteral("\"1234\",\"2024/05/%1\",\"%2\",1,%3,\"円\",\"普通車\",101,\"01001\",104,"
                                            "\"01005\",\"中日本高速道路\",\"東名高速道路\",\"東京\",\"中日本高速道路\","
                                            "\"東名高速道路\",\"厚木\"\r\n")
                                 .arg(i / 86400 + 1, 2, 10, QLatin1Char('0'))
                                 .arg(QTime(0, 0).addSecs(i % 86400).toString(QStringLiteral("HH:mm:ss")))
                                 .arg(1000 + i));
    return out;
}

// Writes bytes to a new file; false when it could not.
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A PC: the program as a portable copy in a folder of its own.
struct Pc {
    QTemporaryDir dir;

    Pc() { QFile::copy(QStringLiteral(PASSLOG_PROGRAM), path(QStringLiteral("passlog"))); }
    QString path(const QString &name) const { return dir.filePath(name); }
    // Its settings: the shared history on the test cluster, or none.
    void useServer(bool shared)
    {
        QFile ini(path(QStringLiteral("passlog.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (shared)
            ini.write(QStringLiteral("[DATABASE]\r\nDriver=PSQL\r\nHost=%1\r\nPort=%2\r\nName=%3\r\nUser=%4\r\n")
                          .arg(qEnvironmentVariable("PASSLOG_PG_HOST"), qEnvironmentVariable("PASSLOG_PG_PORT"),
                               qEnvironmentVariable("PASSLOG_PG_NAME"), qEnvironmentVariable("PASSLOG_PG_USER"))
                          .toUtf8());
    }
    // With a user other than the cluster's owner: that role, and its own password file.
    void useServerAs(const QString &user, const QString &password)
    {
        useServer(true);
        QFile ini(path(QStringLiteral("passlog.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[DATABASE]\r\nDriver=PSQL\r\nHost=%1\r\nPort=%2\r\nName=%3\r\nUser=%4\r\n")
                      .arg(qEnvironmentVariable("PASSLOG_PG_HOST"), qEnvironmentVariable("PASSLOG_PG_PORT"),
                           qEnvironmentVariable("PASSLOG_PG_NAME"), user)
                      .toUtf8());
        QFile pass(path(QStringLiteral("pgpass")));
        QVERIFY(pass.open(QIODevice::WriteOnly | QIODevice::Truncate));
        pass.write(QStringLiteral("%1:%2:*:%3:%4\n")
                       .arg(qEnvironmentVariable("PASSLOG_PG_HOST"), qEnvironmentVariable("PASSLOG_PG_PORT"), user, password)
                       .toUtf8());
        pass.close();
        pass.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        passwordFile = pass.fileName();
    }
    QString passwordFile; // empty: the cluster's own
    std::unique_ptr<QProcess> start(const QStringList &args) const
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!passwordFile.isEmpty())
            env.insert(QStringLiteral("PGPASSFILE"), passwordFile);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setWorkingDirectory(dir.path());
        p->start(path(QStringLiteral("passlog")), args);
        return p;
    }
};

// Starts the command on both PCs at the same moment; their outputs once both
// ended. Each has done its work (status 0) or, when the other held the
// shared history for longer than a PC waits, said so and done nothing.
QStringList atOnce(const Pc &a, const Pc &b, const QStringList &args)
{
    auto one = a.start(args), two = b.start(args);
    QStringList outputs;
    for (QProcess *p : {one.get(), two.get()}) {
        const bool ended = p->waitForFinished(180000) && p->exitStatus() == QProcess::NormalExit;
        const QString output = QString::fromUtf8(p->readAll());
        if (!ended || (p->exitCode() != 0 && !output.contains(QStringLiteral("他のPCが共有の利用履歴を使用中"))))
            return {QStringLiteral("failed: ") + output};
        outputs << output;
    }
    return outputs;
}

} // namespace

class TestSharedHistory : public QObject {
    Q_OBJECT

    static constexpr int kLines = 20000;
    QTemporaryDir files;

private slots:
    void init()
    {
        if (!haveCluster())
            QSKIP("no PostgreSQL cluster (scripts/test.sh starts one)");
        onServer(QString());
    }

    // The same file imported on two PCs at once: the server holds it once,
    // and together the two say they added it once.
    void sameFileImportedOnTwoPcsAtOnce()
    {
        const QString csv = files.filePath(QStringLiteral("may.csv"));
        QVERIFY(writeFile(csv, csvLines(kLines)));
        Pc a, b;
        a.useServer(true);
        b.useServer(true);
        const QStringList outputs = atOnce(a, b, {QStringLiteral("import"), QStringLiteral("csv"), csv});
        QCOMPARE(outputs.size(), 2);
        QCOMPARE(serverRows(), kLines);
        const QString added = QStringLiteral("\n%1件の利用履歴を取り込みました。").arg(QLocale(QLocale::Japanese).toString(kLines));
        const QString none = QStringLiteral("\n0件の利用履歴を取り込みました。");
        const QString busy = QStringLiteral("他のPCが共有の利用履歴を使用中");
        const int first = outputs[0].contains(added) ? 0 : 1;
        QVERIFY2(outputs[first].contains(added) &&
                     (outputs[1 - first].contains(none) || outputs[1 - first].contains(busy)),
                 qPrintable(outputs.join(QStringLiteral("\n---\n"))));
    }

    // The same file imported into the history files of two PCs (each row an
    // identity of its own), then both copied to the server at once: each
    // passage is stored once. A copy of the same history again adds nothing,
    // and a passage only one of them holds arrives.
    void historiesWithTheSamePassagesCopiedOnce()
    {
        const QString csv = files.filePath(QStringLiteral("june.csv"));
        QVERIFY(writeFile(csv, csvLines(kLines)));
        Pc a, b;
        for (Pc *pc : {&a, &b}) {
            pc->useServer(false);
            auto p = pc->start({QStringLiteral("import"), QStringLiteral("csv"), csv});
            QVERIFY(p->waitForFinished(120000) && p->exitCode() == 0);
            pc->useServer(true);
        }
        const QStringList copy{QStringLiteral("--copy-history-to-server")};
        QVERIFY2(atOnce(a, b, copy).size() == 2, qPrintable(atOnce(a, b, copy).join(' ')));
        QCOMPARE(serverRows(), kLines);
        QCOMPARE(onServer(QStringLiteral("SELECT COUNT(DISTINCT (\"通過時間\", PASS_MONEY)) FROM ETC_DATA")).value(0).toInt(),
                 kLines);

        // One passage more on b: it alone arrives.
        const QString more = files.filePath(QStringLiteral("more.csv"));
        QVERIFY(writeFile(more, csvLines(kLines + 1).mid(csvLines(kLines).size())));
        b.useServer(false);
        auto p = b.start({QStringLiteral("import"), QStringLiteral("csv"), more});
        QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        b.useServer(true);
        p = b.start(copy);
        QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        QVERIFY2(p->readAll().contains("1件の利用履歴をサーバーにコピーしました"), "one row copied");
        QCOMPARE(serverRows(), kLines + 1);
    }

    // A row of the history file with a NUL (stored by an older version or
    // another tool): the copy names the row and why, and copies nothing.
    // The server's process halted (SIGSTOP) while "passlog export csv" reads
    // the rows: the connection stays up and the kernel still acknowledges,
    // so only the program's own bound ends the wait. The export ends with
    // status 1, names the server and says it stopped answering; no file is
    // left behind.
    // A server that refuses the connection: every export says so and ends
    // with status 1 (the totals ended the program with an abort).
    void exportsToAServerThatIsAwayEndCleanly()
    {
        Pc a;
        QFile ini(a.path(QStringLiteral("passlog.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[DATABASE]\r\nDriver=PSQL\r\nHost=127.0.0.1\r\nPort=1\r\nName=none\r\nUser=none\r\n");
        ini.close();
        for (const char *kind : {"csv", "totals", "statement"}) {
            auto p = a.start({QStringLiteral("export"), QString::fromLatin1(kind), QStringLiteral("--out"), a.path(QStringLiteral("out"))});
            QVERIFY(p->waitForFinished(60000));
            const QString output = QString::fromUtf8(p->readAll());
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 1 &&
                         output.contains(QStringLiteral("共有の利用履歴サーバー")),
                     qPrintable(QString::fromLatin1(kind) + ": " + output));
        }
    }

    void exportFromAHaltedServerEnds()
    {
        constexpr int kRows = 300000;
        onServer(QStringLiteral(
                     "INSERT INTO ETC_DATA (CARD_ID,\"カードNO\",PASS_DATE,PASS_TIME,DATE_TIME,\"ご利用日\",\"通過時間\","
                     "\"通行料金\",PASS_MONEY,PASS_UNIT,CAR_NAME,ITC_IN_ROAD,ITC_IN_GATE,ITC_OUT_ROAD,ITC_OUT_GATE) "
                     "SELECT '1234','1234','2024/05/01',t,'2024/05/01-'||t,'2024/05/01',t,g||'円',g,'円','普通車',"
                     "'東名高速道路','東京料金所','東名高速道路','厚木料金所' FROM generate_series(1,%1) g, "
                     "LATERAL (SELECT to_char(make_interval(secs => g % 86400), 'HH24:MI:SS') AS t) x")
                     .arg(kRows));
        QCOMPARE(serverRows(), kRows);
        Pc a;
        a.useServer(true);
        const QString out = a.path(QStringLiteral("out.csv"));
        // The watcher: another session of the owner, asking what the program's does.
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("watcher"));
        admin.setHostName(qEnvironmentVariable("PASSLOG_PG_HOST"));
        admin.setPort(qEnvironmentVariableIntValue("PASSLOG_PG_PORT"));
        admin.setDatabaseName(qEnvironmentVariable("PASSLOG_PG_NAME"));
        admin.setUserName(qEnvironmentVariable("PASSLOG_PG_USER"));
        QVERIFY(admin.open());
        qint64 halted = 0;
        const auto resume = qScopeGuard([&] {
            if (halted > 0)
                ::kill(pid_t(halted), SIGCONT);
            admin.close();
            admin = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("watcher"));
        });
        auto p = a.start({QStringLiteral("export"), QStringLiteral("csv"), QStringLiteral("--out"), out});
        QElapsedTimer t;
        t.start();
        QSqlQuery q(admin);
        while (halted == 0 && p->state() != QProcess::NotRunning && t.elapsed() < 60000) {
            QVERIFY(q.exec(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = 'PASSLOG' "
                                          "AND state = 'active' AND query LIKE 'COPY%'")));
            if (q.next() && ::kill(pid_t(q.value(0).toLongLong()), SIGSTOP) == 0)
                halted = q.value(0).toLongLong();
            q.finish();
        }
        QVERIFY2(halted > 0, "the export's COPY was not seen running");
        t.restart();
        QVERIFY2(p->waitForFinished(45000), "the export still waits for the halted server");
        const qint64 waited = t.elapsed();
        const QString output = QString::fromUtf8(p->readAll());
        QCOMPARE(p->exitCode(), 1);
        const QString server = QStringLiteral("PostgreSQL %1:%2/%3")
                                   .arg(qEnvironmentVariable("PASSLOG_PG_HOST"), qEnvironmentVariable("PASSLOG_PG_PORT"),
                                        qEnvironmentVariable("PASSLOG_PG_NAME"));
        QVERIFY2(output.contains(QStringLiteral("応答しなくなった")) && output.contains(server), qPrintable(output));
        QVERIFY2(waited >= 10000 && waited < 40000, qPrintable(QString::number(waited)));
        QVERIFY(!QFile::exists(out));
    }

    // "passlog server init --role public" would print grants for every role
    // that can connect: refused as a wrong command line, in any letter case,
    // before the server is reached.
    void initForPublicIsRefused()
    {
        Pc a;
        a.useServer(true);
        for (const QString &role : {QStringLiteral("public"), QStringLiteral("PUBLIC")}) {
            auto p = a.start({QStringLiteral("server"), QStringLiteral("init"), QStringLiteral("--role"), role});
            QVERIFY(p->waitForFinished(60000));
            const QString output = QString::fromUtf8(p->readAll());
            QCOMPARE(p->exitCode(), 2);
            QVERIFY2(output.contains(role + QStringLiteral(" は指定できません")) && !output.contains(QStringLiteral("GRANT SELECT")),
                     qPrintable(output));
        }
        // Nor a name that is no one role of its own, or that the server would
        // read as another (capitals, over 63 characters).
        for (const QString &role : {QStringLiteral("CURRENT_USER"), QStringLiteral("session_user"), QStringLiteral("none"),
                                    QStringLiteral("Keiri"), QStringLiteral("pg_read_all_data"), QString(70, QLatin1Char('a'))}) {
            auto p = a.start({QStringLiteral("server"), QStringLiteral("init"), QStringLiteral("--role"), role});
            QVERIFY(p->waitForFinished(60000));
            QVERIFY2(p->exitCode() == 2 && !p->readAll().contains("GRANT SELECT"), qPrintable(role));
        }
    }

    // A role given exactly the lines "passlog server init" prints, where
    // PUBLIC may not make temporary tables: CSV取込 (also the lookup of a
    // history larger than the file), the export and the copy of a PC's
    // history all work.
    void printedGrantsAreEnoughForTheDayToDayRole()
    {
        const QString dropRole = QStringLiteral("DO $$ BEGIN IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'passlog_pc') THEN "
                                "EXECUTE 'DROP OWNED BY passlog_pc CASCADE'; EXECUTE 'DROP ROLE passlog_pc'; END IF; END $$");
        onServer(dropRole);
        onServer(QStringLiteral("CREATE ROLE passlog_pc LOGIN PASSWORD 'pc-pw'"));
        const QString database = qEnvironmentVariable("PASSLOG_PG_NAME");
        onServer(QStringLiteral("REVOKE TEMPORARY ON DATABASE %1 FROM PUBLIC").arg(database));
        const auto restore = qScopeGuard([&] {
            onServer(QStringLiteral("GRANT TEMPORARY ON DATABASE %1 TO PUBLIC").arg(database));
            onServer(dropRole);
        });
        Pc owner;
        owner.useServer(true);
        auto p = owner.start({QStringLiteral("server"), QStringLiteral("init"), QStringLiteral("--role"),
                              QStringLiteral("passlog_pc")});
        QVERIFY(p->waitForFinished(60000));
        const QString printed = QString::fromUtf8(p->readAllStandardOutput());
        QCOMPARE(p->exitCode(), 0);
        QStringList grants;
        for (const QString &line : printed.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("GRANT ")))
                grants << line;
        QVERIFY2(printed.contains(QStringLiteral("GRANT CONNECT, TEMPORARY ON DATABASE")), qPrintable(printed));
        for (const QString &grant : std::as_const(grants))
            onServer(grant);

        Pc pc;
        pc.useServerAs(QStringLiteral("passlog_pc"), QStringLiteral("pc-pw"));
        const QString many = files.filePath(QStringLiteral("grants-many.csv"));
        const QString few = files.filePath(QStringLiteral("grants-few.csv"));
        QVERIFY(writeFile(many, csvLines(40)));
        QVERIFY(writeFile(few, csvLines(41).mid(csvLines(38).size()))); // two held, one new
        for (const QString &file : {many, few}) {
            p = pc.start({QStringLiteral("import"), QStringLiteral("csv"), file});
            QVERIFY(p->waitForFinished(60000));
            QVERIFY2(p->exitCode() == 0, p->readAll().constData());
        }
        QCOMPARE(serverRows(), 41);
        p = pc.start({QStringLiteral("export"), QStringLiteral("csv"), QStringLiteral("--out"), pc.path(QStringLiteral("all.csv"))});
        QVERIFY(p->waitForFinished(60000));
        QVERIFY2(p->exitCode() == 0, p->readAll().constData());
        QCOMPARE(QFileInfo(pc.path(QStringLiteral("all.csv"))).size(), qint64(csvLines(41).size()));
        // A PC with a history of its own joins.
        Pc joining;
        joining.useServer(false);
        const QString own = files.filePath(QStringLiteral("grants-own.csv"));
        QVERIFY(writeFile(own, csvLines(45).mid(csvLines(41).size())));
        p = joining.start({QStringLiteral("import"), QStringLiteral("csv"), own});
        QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        joining.useServerAs(QStringLiteral("passlog_pc"), QStringLiteral("pc-pw"));
        p = joining.start({QStringLiteral("--copy-history-to-server")});
        QVERIFY(p->waitForFinished(60000));
        QVERIFY2(p->exitCode() == 0, p->readAll().constData());
        QCOMPARE(serverRows(), 45);
    }

    // Rows stored by older versions or other tools whose DATE_TIME says
    // another time than PASS_DATE and PASS_TIME (the date and time of a CSV
    // line): importing their passages into a server history larger than the
    // file finds them held, and adds nothing.
    void passagesWithAnotherDateTimeAreNotImportedAgain()
    {
        Pc a;
        a.useServer(true);
        const QString all = files.filePath(QStringLiteral("held-all.csv"));
        QVERIFY(writeFile(all, csvLines(30)));
        auto p = a.start({QStringLiteral("import"), QStringLiteral("csv"), all});
        QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        onServer(QStringLiteral("UPDATE ETC_DATA SET DATE_TIME = PASS_DATE || ' ' || PASS_TIME WHERE PASS_TIME IN "
                                "('00:00:01', '00:00:02')"));
        onServer(QStringLiteral("UPDATE ETC_DATA SET DATE_TIME = NULL WHERE PASS_TIME = '00:00:03'"));
        const QString few = files.filePath(QStringLiteral("held-few.csv"));
        QVERIFY(writeFile(few, csvLines(5)));
        p = a.start({QStringLiteral("import"), QStringLiteral("csv"), few});
        QVERIFY(p->waitForFinished(60000));
        const QString output = QString::fromUtf8(p->readAll());
        QVERIFY2(p->exitCode() == 0 && output.contains(QStringLiteral("\n0件の利用履歴を取り込みました。")), qPrintable(output));
        QCOMPARE(serverRows(), 30);
        // Nor copied again from a PC's file that holds the same passages
        // under identities of its own.
        Pc b;
        b.useServer(false);
        p = b.start({QStringLiteral("import"), QStringLiteral("csv"), few});
        QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        b.useServer(true);
        p = b.start({QStringLiteral("--copy-history-to-server")});
        QVERIFY(p->waitForFinished(60000));
        const QString copied = QString::fromUtf8(p->readAll());
        QVERIFY2(p->exitCode() == 0 && copied.contains(QStringLiteral("0件の利用履歴をサーバーにコピーしました。")), qPrintable(copied));
        QCOMPARE(serverRows(), 30);
    }

    void rowTheServerCannotTakeIsNamed()
    {
        Pc a;
        a.useServer(false);
        const QString csv = files.filePath(QStringLiteral("few.csv"));
        QVERIFY(writeFile(csv, csvLines(3)));
        auto p = a.start({QStringLiteral("import"), QStringLiteral("csv"), csv});
        QVERIFY(p->waitForFinished(60000) && p->exitCode() == 0);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("pc"));
            db.setDatabaseName(a.path(QStringLiteral("ETC_DAT.sqlite")));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.prepare(QStringLiteral("UPDATE ETC_DATA SET ITC_OUT_GATE=? WHERE 通過時間='00:00:01'")));
            q.addBindValue(QStringLiteral("厚") + QChar(0) + QStringLiteral("木"));
            QVERIFY(q.exec());
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("pc"));
        a.useServer(true);
        p = a.start({QStringLiteral("--copy-history-to-server")});
        QVERIFY(p->waitForFinished(60000));
        const QString out = QString::fromUtf8(p->readAll());
        QCOMPARE(p->exitCode(), 1);
        QVERIFY2(out.contains(QStringLiteral("2024/05/01 00:00:01")) && out.contains(QStringLiteral("U+0000")) &&
                     !out.contains(QStringLiteral("接続が切れました")),
                 qPrintable(out));
        QCOMPARE(serverRows(), 0);
    }
};

QTEST_MAIN(TestSharedHistory)
#include "tst_sharedhistory.moc"
