// The shared history on a PostgreSQL server (the cluster scripts/test.sh
// starts): statements as the server gets them, registration column by
// column, two programs registering, reading and deleting at once, a
// connection lost in the middle of a registration and a server killed in the
// middle of a copy, a server away at the start, deletes that another PC
// overtook, names with control characters, the copy of a local history
// by the rows' identities; another PC holding the table (bounded, stoppable
// waits), a server that never answers, a least-privilege role after the
// owner's set-up, a table of another shape, TLS settings, a wrong or missing
// password, and the server's state heard by whoever shows it; an owner with
// a schema of its own name, a table of deleted rows of another shape on a
// new server, the deletions of a PC's history going with its copy.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/DeletedRows.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "history/ShownRows.h"
#include "history/Registration.h"
#include "history/GridLoad.h"
#include "history/Duplicates.h"
#include "history/Staging.h"
#include "history/ServerCopy.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
constexpr char kChildFolder[] = "PASSLOG_SERVER_CHILD";
constexpr char kChildCard[] = "PASSLOG_SERVER_CHILD_CARD";
constexpr char kChildRows[] = "PASSLOG_SERVER_CHILD_ROWS";
constexpr char kChildCopy[] = "PASSLOG_SERVER_CHILD_COPY";

bool haveCluster() { return !qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"); }

// n staged rows, the amount numbering them from base.
void stageRows(int n, int base)
{
    QSqlDatabase db = history::database(DbConnection::History);
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO ETC_TEMP (ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,ITC_OUT_GATE,"
        "JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,CAR_NAME,PASS_MONEY,"
        "PASS_UNIT,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) VALUES "
        "('01001','東名高速道路','東京',69,'東京','0100B','東名高速道路','厚木',101,'厚木','2010/06/03','10:20:30',"
        "'0000','2010/06/01',?,?,1,'普通車',?,'円',?,'0000','2010/06/01',?,?,'普通車','東名 東京','東名 厚木')"));
    for (int i = 0; i < n; ++i) {
        const QString time = QTime(0, 0).addSecs(i % 86400).toString(QStringLiteral("HH:mm:ss"));
        q.addBindValue(time);
        q.addBindValue(QStringLiteral("2010/06/01-") + time);
        q.addBindValue(base + i);
        q.addBindValue(i % 2);
        q.addBindValue(time);
        q.addBindValue(QString::number(base + i) + QStringLiteral("円"));
        if (!q.exec())
            qFatal("staging failed: %s", qPrintable(q.lastError().text()));
    }
    db.commit();
}

int serverCount(const QString &where = QString())
{
    return column(QStringLiteral("SELECT COUNT(*) FROM ETC_DATA") +
                  (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where))
        .value(0)
        .toInt();
}

int localCount(const QString &table)
{
    QSqlQuery q(history::database(DbConnection::History));
    q.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table);
    q.next();
    return q.value(0).toInt();
}

// Plain SQLite text on the history file, even where the history is the server's.
void localExec(const QString &sql)
{
    QSqlQuery q(history::database(DbConnection::History));
    if (!q.exec(sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

QProcess *startChild(const QString &folder, const QString &card, int rows, QObject *parent, bool copy = false)
{
    auto *child = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildFolder), QStringLiteral("1"));
    Q_UNUSED(folder);
    env.insert(QString::fromLatin1(kChildCard), card);
    env.insert(QString::fromLatin1(kChildRows), QString::number(rows));
    if (copy)
        env.insert(QString::fromLatin1(kChildCopy), QStringLiteral("1"));
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->setReadChannel(QProcess::StandardOutput);
    child->start(QCoreApplication::applicationFilePath(), {});
    return child;
}

// A listening socket on a free local port that never answers: the kernel
// takes connections, nobody reads them.
int silentSocket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0)
        return -1;
    return fd;
}

int boundPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// Another PC's session on the cluster, as its owner.
QSqlDatabase otherPc()
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "other_pc");
    db.setHostName(qEnvironmentVariable("PASSLOG_PG_HOST"));
    db.setPort(qEnvironmentVariableIntValue("PASSLOG_PG_PORT"));
    db.setDatabaseName(qEnvironmentVariable("PASSLOG_PG_NAME"));
    db.setUserName(qEnvironmentVariable("PASSLOG_PG_USER"));
    if (!db.open())
        qFatal("other PC: %s", qPrintable(db.lastError().text()));
    return db;
}

// One value the cluster's owner reads.
QString serverAdminValue(const QString &sql)
{
    QString value;
    {
        QSqlDatabase db = otherPc();
        QSqlQuery q(db);
        if (!q.exec(sql) || !q.next())
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        value = q.value(0).toString();
        db.close();
    }
    QSqlDatabase::removeDatabase("other_pc");
    return value;
}

// The shared history's table as the catalogue describes it: columns with
// their types, and its indexes ("" when there is no table).
QString serverCatalogue()
{
    return serverAdminValue("SELECT COALESCE((SELECT string_agg(column_name || ' ' || data_type, ',' ORDER BY "
                            "ordinal_position) FROM information_schema.columns WHERE table_name = 'etc_data'), '') "
                            "|| ' / ' || COALESCE((SELECT string_agg(indexname, ',' ORDER BY indexname) FROM pg_indexes "
                            "WHERE tablename = 'etc_data'), '')")
        .replace(" / ", QString())
        .trimmed();
}

// A certificate authority of the office, the server's certificate for
// 127.0.0.1 signed by it, and an unrelated authority, in dir.
bool makeCertificates(const QString &dir)
{
    auto run = [&](const QStringList &args) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start("openssl", args);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    QFile ext(dir + "/san.ext");
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    const bool made =
        run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2",
             "-subj", "/CN=PASSLOG office CA"}) &&
        run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj",
             "/CN=127.0.0.1"}) &&
        run({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial", "-out",
             "server.crt", "-days", "2", "-extfile", "san.ext"}) &&
        run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other-ca.key", "-out", "other-ca.crt",
             "-days", "2", "-subj", "/CN=Other CA"});
    if (!made)
        return false;
    QFile(dir).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                              QFileDevice::ExeOther);
    const QString runAs = qEnvironmentVariable("PASSLOG_PG_RUNAS");
    if (!runAs.isEmpty() && QProcess::execute("chown", {runAs, dir + "/server.key", dir + "/server.crt"}) != 0)
        return false;
    return true;
}
} // namespace

class TestServerStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    QString m_pgpass; // the cluster's password file, as the environment named it
    std::unique_ptr<QTemporaryDir> m_passwords;

    // A password file of this test's own in PGPASSFILE: the line of user
    // (none when password is empty) and, with owner, the cluster's lines.
    void withPasswordLine(const QString &user, const QString &password, bool owner = true)
    {
        m_passwords = std::make_unique<QTemporaryDir>();
        QFile file(m_passwords->filePath("pgpass"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (!password.isEmpty())
            file.write(QString("127.0.0.1:%1:*:%2:%3\n")
                           .arg(qEnvironmentVariable("PASSLOG_PG_PORT"), user, password)
                           .toUtf8());
        QFile original(m_pgpass);
        if (owner && original.open(QIODevice::ReadOnly))
            file.write(original.readAll());
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        qputenv("PGPASSFILE", file.fileName().toLocal8Bit());
    }

private slots:
    void initTestCase() { m_pgpass = qEnvironmentVariable("PGPASSFILE"); }
    void init()
    {
        if (!haveCluster())
            QSKIP("no PostgreSQL cluster (scripts/test.sh starts one)");
        qputenv("PGPASSFILE", m_pgpass.toLocal8Bit());
        qputenv("PASSLOG_TEST_STORE", "psql");
        h = std::make_unique<TestHarness>();
        openDatabases(*h);
        testView = {};
        app::runSettings().viewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        qputenv("PGPASSFILE", m_pgpass.toLocal8Bit());
        m_passwords.reset();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void statementsAsTheServerGetsThem()
    {
        QVERIFY(history::usesServer());
        QCOMPARE(history::route(DbConnection::History, "DELETE * FROM ETC_TEMP;"), DbConnection::History);
        QCOMPARE(history::route(DbConnection::History, "SELECT * FROM ETC_DATA WHERE カードNO='ETC_TEMP';"),
                 DbConnection::Server);
        QCOMPARE(history::serverText("DELETE * FROM ETC_DATA WHERE カードNO='1234';"),
                 QStringLiteral("DELETE FROM ETC_DATA WHERE \"カードNO\"='1234';"));
        QCOMPARE(history::serverText("SELECT * FROM ETC_DATA WHERE PRINT_FLAG=False ORDER BY カードNO ASC, ご利用日 DESC;"),
                 QStringLiteral("SELECT * FROM ETC_DATA WHERE PRINT_FLAG=False ORDER BY \"カードNO\" ASC NULLS FIRST, "
                                "\"ご利用日\" DESC NULLS LAST;"));
        QCOMPARE(history::serverText("ETC_DATA"), QStringLiteral("SELECT * FROM ETC_DATA ORDER BY ROW_ID"));
        // A literal keeps its text: no quotes, no NULLS added inside it.
        QCOMPARE(history::serverText("SELECT カードNO FROM ETC_DATA WHERE カードNO='ご利用日 ASC';"),
                 QStringLiteral("SELECT \"カードNO\" FROM ETC_DATA WHERE \"カードNO\"='ご利用日 ASC';"));
        // The duplicate statement runs on the server in its grouped form.
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("3333", "2024/03/01", "09:00:00", "1200円");
        const QString repeat = history::duplicatesSql(testView, "0000", "SELECT");
        QVERIFY(history::serverText(repeat).contains("GROUP BY \"ご利用日\""));
        QCOMPARE(column(repeat), (QStringList{"1111", "2222"}));
        historyExec("UPDATE ETC_DATA SET PRINT_FLAG=TRUE WHERE カードNO='1111'");
        QCOMPARE(column("SELECT カードNO FROM ETC_DATA WHERE PRINT_FLAG=False ORDER BY カードNO;"),
                 (QStringList{"2222", "3333"}));
        QVERIFY(h->messages().isEmpty());
    }

    void registrationCopiesEveryColumn()
    {
        stageRows(3, 500);
        QCOMPARE(history::registerStaged("5678"), qint64(3));
        QCOMPARE(localCount("ETC_DATA"), 0); // the history file's own table is not used
        QCOMPARE(localCount("ETC_TEMP"), 3);
        QSqlQuery staged(history::database(DbConnection::History));
        staged.exec("SELECT * FROM ETC_TEMP ORDER BY rowid");
        QSqlQuery shared = history::execute(DbConnection::History, "ETC_DATA");
        const QSqlRecord fields = staged.record();
        while (staged.next()) {
            QVERIFY(shared.next());
            for (int c = 0; c < fields.count(); ++c) {
                const QString name = fields.fieldName(c);
                QVariant expected = staged.value(c);
                if (name == "CARD_ID" || name == "カードNO")
                    expected = "5678";
                const QVariant actual = shared.value(name);
                if (name == "PRINT_FLAG")
                    QCOMPARE(actual.toBool(), expected.toInt() != 0);
                else
                    QCOMPARE(actual.toString(), expected.toString());
            }
        }
        QVERIFY(!shared.next());
    }

    void twoProgramsAtOnce()
    {
        // Two programs, each with its own history file, register 10,000 rows
        // each while this one reads the history and deletes a third card's rows.
        constexpr int kRows = 10000;
        for (int i = 0; i < 300; ++i)
            addHistoryRow("0003", "2024/01/01", "00:00:00", "1円");
        QList<QProcess *> children{startChild(QString(), "0001", kRows, this), startChild(QString(), "0002", kRows, this)};
        int reads = 0;
        bool deleted = false;
        QElapsedTimer t;
        t.start();
        while (std::any_of(children.begin(), children.end(), [](QProcess *c) { return c->state() != QProcess::NotRunning; }) &&
               t.elapsed() < 240000) {
            history::HistoryGridModel grid;
            const history::GridLoad load = history::loadGrid(grid, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, ViewSelection{}))), 2);
            QVERIFY(load.totals.count % kRows == (deleted ? 0 : 300)); // a registration is seen whole or not at all
            ++reads;
            if (reads == 3) {
                testView.viewType = 2;
                testView.cardNo = "0003";
                history::runStatement(history::shownViewSql(testView, "ETC_DATA", "DELETE"));
                deleted = true;
            }
            for (QProcess *c : children)
                c->waitForFinished(20);
        }
        for (QProcess *c : children) {
            QVERIFY(c->state() == QProcess::NotRunning || c->waitForFinished(240000));
            const QByteArray output = c->readAll();
            QVERIFY2(c->exitCode() == 0 && output.contains("registered 10000"), output.constData());
        }
        QVERIFY(reads >= 3);
        QCOMPARE(serverCount(), 2 * kRows);
        for (const char *card : {"0001", "0002"}) {
            QCOMPARE(serverCount(QString("CARD_ID='%1'").arg(card)), kRows);
            QCOMPARE(column(QString("SELECT COUNT(DISTINCT PASS_MONEY) FROM ETC_DATA WHERE カードNO='%1';").arg(card)).value(0),
                     QString::number(kRows));
        }
    }

    void serverLostInTheMiddleThenDoneOnTheNextTry()
    {
        // The server ends the program's session while it registers 10,000
        // rows, and the server itself is killed while a history is copied:
        // the server keeps none of the rows, the staging keeps all of them,
        // the user is told, and the next try does all of it, once.
        constexpr int kRows = 10000;
        addHistoryRow("0007", "2024/01/01", "00:00:00", "1円");
        closeDatabases(); // only the child is connected now
        // Each row takes a moment, so that the break comes in the middle.
        serverAdminExec("CREATE FUNCTION slow() RETURNS trigger AS $$ BEGIN PERFORM pg_sleep(0.0005); RETURN NULL; "
                        "END $$ LANGUAGE plpgsql; CREATE TRIGGER slow AFTER INSERT ON ETC_DATA "
                        "FOR EACH ROW EXECUTE FUNCTION slow()");
        for (const bool copy : {false, true}) {
            // (The copy's rows are passages of another card: the same
            // passages as the registered ones would be there already.)
            const QString card = copy ? QStringLiteral("0010") : QStringLiteral("0009");
            QProcess *child = startChild(QString(), card, kRows, this, copy);
            QTRY_VERIFY_WITH_TIMEOUT(child->peek(1 << 20).contains("copying") ||
                                         child->state() == QProcess::NotRunning,
                                     60000);
            QThread::msleep(600);
            if (copy) {
                const QString ctl = qEnvironmentVariable("PASSLOG_PG_CTL");
                const QString runAs = qEnvironmentVariable("PASSLOG_PG_RUNAS");
                QStringList args{"-D", qEnvironmentVariable("PASSLOG_PG_DATA"), "-m", "immediate", "-w", "restart"};
                QProcess restart;
                if (runAs.isEmpty())
                    restart.start(ctl, args);
                else
                    restart.start("runuser", QStringList{"-u", runAs, "--", ctl} + args);
                QVERIFY(restart.waitForFinished(60000));
            } else {
                serverAdminExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                "WHERE application_name='PASSLOG' AND pid<>pg_backend_pid()");
            }
            QVERIFY(child->waitForFinished(120000));
            const QString output = QString::fromUtf8(child->readAll());
            const QString done = copy ? QStringLiteral("copied ") : QStringLiteral("registered ");
            QVERIFY2(output.contains(done + "0\n") && output.contains("サーバーとの接続が切れました") &&
                         output.contains(done + QString::number(kRows)),
                     qPrintable(output));
            QVERIFY2(output.contains(copy ? "history 10000" : "staged 10000"), qPrintable(output));
            history::openDatabase(kDatFile);
            QCOMPARE(serverCount(), 1 + (copy ? 2 : 1) * kRows);
            QCOMPARE(serverCount("CARD_ID='" + card + "'"), kRows);
            closeDatabases();
        }
        serverAdminExec("DROP TRIGGER slow ON ETC_DATA; DROP FUNCTION slow()");
        history::openDatabase(kDatFile);
    }

    void serverAwayAtTheStart()
    {
        // No server on the port, then one that takes the connection and never
        // answers: the history file opens all the same, registration and
        // reads say that the server cannot be reached (within about 5 s each),
        // and nothing staged is lost. Back with the server, it all works.
        stageRows(3, 700);
        closeDatabases();
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(::listen(silent, 4) == 0); // the kernel takes connections; nobody ever answers
        QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        for (const int port : {1, int(ntohs(address.sin_port))}) {
            app::writeProfileString("DATABASE", "Port", QString::number(port), h->settingsFile());
            QElapsedTimer t;
            t.start();
            history::openDatabase(kDatFile);
            QVERIFY(history::isOpen(DbConnection::History));
            QVERIFY(history::usesServer());
            QCOMPARE(asCommand([] { return history::registerStaged("0001"); }), qint64(0));
            QVERIFY(!history::serverAwayReason().isEmpty());
            QVERIFY2(t.elapsed() < 15000, qPrintable(QString::number(t.elapsed())));
            QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
            QCOMPARE(h->messages().size(), 2);
            for (const auto &m : h->messages())
                QVERIFY2(m.icon == seams::MsgIcon::Warning && m.text.contains("サーバーに接続できません") &&
                             m.text.contains(QString(":%1/").arg(port)),
                         qPrintable(m.text));
            QCOMPARE(localCount("ETC_TEMP"), 3);
            QCOMPARE(localCount("ETC_DATA"), 0); // never the file's own table instead
            h->clearMessages();
            closeDatabases();
        }
        ::close(silent);
        pointAtServer(*h);
        history::openDatabase(kDatFile);
        QVERIFY(history::serverAwayReason().isEmpty());
        QCOMPARE(history::registerStaged("0001"), qint64(3));
        // A connection lost while browsing is reported and opened again by the next operation.
        serverAdminExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name='PASSLOG' "
                        "AND pid<>pg_backend_pid()");
        QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
        QVERIFY(h->messages().last().text.contains("接続が切れました"));
        QCOMPARE(history::historyCardNumbers(), QStringList{"0001"});
    }

    void deletesOnlyWhatWasShown()
    {
        // DB削除 and the duplicate deletion remove the rows the user was asked
        // about: when another PC registered rows since they were shown,
        // nothing goes until they are shown again.
        for (int i = 0; i < 14; ++i)
            addHistoryRow("1234", "2024/03/01", QString("08:00:%1").arg(i, 2, 10, QLatin1Char('0')), "100円");
        addHistoryRow("5555", "2024/03/01", "08:00:00", "100円"); // a duplicate of 1234's first
        ViewSelection one;
        one.CardNoMode = 0;
        one.TypedCardNo = "1234";
        history::HistoryGridModel grid;
        QCOMPARE(history::loadGrid(grid, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, one))), 2).totals.count, 14);
        const QString other = "INSERT INTO ETC_DATA (CARD_ID,\"カードNO\",\"ご利用日\",\"通過時間\",DATE_TIME,\"通行料金\") "
                              "VALUES ('1234','1234','2024/03/02','09:00:00','2024/03/02-09:00:00','1円')";
        for (int i = 0; i < 3; ++i)
            serverAdminExec(other); // another PC
        const QString remove = history::shownViewSql(testView, "ETC_DATA", "DELETE");
        QCOMPARE(asCommand([&] { return history::deleteShown(app::Procedure::RunStatement, remove); }), qint64(0));
        QCOMPARE(h->messages().size(), 1);
        QVERIFY(h->messages()[0].text.startsWith("表示した後に他のPCで利用履歴が変更されたため"));
        QCOMPARE(serverCount(), 18);
        QCOMPARE(history::loadGrid(grid, history::shownRows().source, 2).totals.count, 17);
        QCOMPARE(history::deleteShown(app::Procedure::RunStatement, remove), qint64(17));
        QCOMPARE(serverCount(), 1);

        // The duplicates: shown, then overtaken by another copy elsewhere.
        addHistoryRow("1111", "2024/04/01", "08:00:00", "100円");
        addHistoryRow("1111", "2024/04/01", "08:00:00", "100円");
        testView = {};
        QCOMPARE(history::loadGrid(grid, history::duplicatesSql(testView, "0000", "SELECT"), 2).totals.count, 2);
        serverAdminExec(other);
        h->clearMessages();
        QCOMPARE(asCommand([] { return history::deleteDuplicates(testView, "1111"); }), 0);
        QCOMPARE(h->messages().size(), 1);
        QCOMPARE(serverCount("CARD_ID='1111'"), 2);
        QCOMPARE(history::loadGrid(grid, history::shownRows().source, 2).totals.count, 2);
        QCOMPARE(history::deleteDuplicates(testView, "1111"), 1);
        QCOMPARE(serverCount("CARD_ID='1111'"), 1);
    }

    void controlCharactersOfTheMastersAreNotStaged()
    {
        // PostgreSQL text cannot hold NUL: a master name carrying one (or any
        // other control character) is staged without it, and every row of the
        // card read reaches the server.
        closeDatabases();
        writeMasterDatabase(history::databasePath(kMstFile),
                            "UPDATE ITC_MASTER SET IC_NAME='東京'||char(0)||'X'||char(9) WHERE IC_CODE='01001'");
        history::openDatabase(kDatFile);
        history::openDatabase(kMstFile);
        QString road, name;
        history::lookUpInterchange("01001", road, name);
        QCOMPARE(name, QStringLiteral("東京X"));
        stageRows(2, 10);
        historyExec("UPDATE ETC_TEMP SET ITC_IN_GATE='" + name + "'");
        QCOMPARE(history::registerStaged("0002"), qint64(2));
        QCOMPARE(serverCount("ITC_IN_GATE='東京X'"), 2);
    }
    void copyOfALocalHistoryRunTwice()
    {
        QSqlQuery q(history::database(DbConnection::History));
        QVERIFY(q.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<1500) "
                       "INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,DATE_TIME,通行料金,PRINT_FLAG) "
                       "SELECT '4444','4444','2024/02/01',i,'x',i||'円',i%2 FROM n"));
        addHistoryRow("5555", "2024/01/01", "00:00:00", "1円"); // already on the server
        QList<qint64> progress;
        QCOMPARE(history::copyHistoryToServer([&](qint64 done, qint64 total) { progress << done << total; }),
                 qint64(1500));
        QCOMPARE(progress.mid(progress.size() - 2), (QList<qint64>{1500, 1500}));
        QCOMPARE(history::copyHistoryToServer(), qint64(0));
        QCOMPARE(serverCount(), 1501);
        QCOMPARE(serverCount("PRINT_FLAG"), 750);
        // A row added to the file later is copied by the next run, alone.
        QVERIFY(q.exec("INSERT INTO ETC_DATA (CARD_ID,カードNO) VALUES ('4444','4444')"));
        QCOMPARE(history::copyHistoryToServer(), qint64(1));
        QCOMPARE(serverCount("CARD_ID='4444'"), 1501);
        // Rows deleted from the end and new ones stored under the same row
        // numbers: the new ones are copied, whatever their numbers.
        QVERIFY(q.exec("DELETE FROM ETC_DATA WHERE rowid > 1496"));
        QVERIFY(q.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<5) "
                       "INSERT INTO ETC_DATA (CARD_ID,カードNO,通行料金) SELECT '6666','6666',i||'円' FROM n"));
        QCOMPARE(history::copyHistoryToServer(), qint64(5));
        QCOMPARE(serverCount("CARD_ID='6666'"), 5);
        QVERIFY(h->messages().isEmpty());
    }

    void lockedTableIsWaitedForInBoundedStoppableTries()
    {
        // Another PC's change holds the table (a registration or a delete
        // in its transaction): DB削除 and DB登録 wait in short tries with the
        // progress (and 中止) between them, and give up after a bounded
        // wait saying that another PC is using the history. Nothing changes.
        for (int i = 0; i < 5; ++i)
            addHistoryRow("1234", "2024/03/01", QString("08:00:%1").arg(i, 2, 10, QLatin1Char('0')), "100円");
        history::HistoryGridModel grid;
        ViewSelection one;
        one.CardNoMode = 0;
        one.TypedCardNo = "1234";
        QCOMPARE(history::loadGrid(grid, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, one))), 2).totals.count, 5);
        stageRows(2, 900);
        {
            QSqlDatabase other = otherPc();
            QSqlQuery hold(other);
            // (Should the wait not end, the other PC's session ends after 25 s.)
            QVERIFY(hold.exec("SET idle_in_transaction_session_timeout = '25s'"));
            QVERIFY(hold.exec("BEGIN"));
            QVERIFY(hold.exec("LOCK TABLE ETC_DATA IN SHARE ROW EXCLUSIVE MODE"));
            const QString remove = history::shownViewSql(testView, "ETC_DATA", "DELETE");
            for (const bool deleting : {true, false}) {
                // 中止 after about a second.
                int asked = 0;
                QElapsedTimer t;
                t.start();
                const history::KeepGoing stopSoon = [&] {
                    ++asked;
                    return t.elapsed() < 1000;
                };
                const qint64 done = asCommand([&] {
                    return deleting ? history::deleteShown(app::Procedure::RunStatement, remove, stopSoon)
                                    : history::registerStaged("5678", stopSoon);
                });
                QCOMPARE(done, qint64(0));
                QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
                QVERIFY2(asked >= 3, qPrintable(QString::number(asked))); // the progress was heard while waiting
                QVERIFY(h->messages().isEmpty()); // stopped by the user: nothing more to say
                // Without 中止: bounded, and the cause named.
                t.restart();
                QCOMPARE(asCommand([&] {
                             return deleting ? history::deleteShown(app::Procedure::RunStatement, remove)
                                             : history::registerStaged("5678");
                         }),
                         qint64(0));
                QVERIFY2(t.elapsed() >= kServerLockWaitMs - 500 && t.elapsed() < kServerLockWaitMs + 5000,
                         qPrintable(QString::number(t.elapsed())));
                QCOMPARE(h->messages().size(), 1);
                QVERIFY2(h->messages()[0].text.contains("他のPCが共有の利用履歴を使用中") &&
                             h->messages()[0].text.contains("しばらくしてから"),
                         qPrintable(h->messages()[0].text));
                h->clearMessages();
            }
            QVERIFY(hold.exec("ROLLBACK"));
            other.close();
        }
        QSqlDatabase::removeDatabase("other_pc");
        QCOMPARE(serverCount(), 5);
        QCOMPARE(localCount("ETC_TEMP"), 2);
        // The connection is still usable: the next tries succeed.
        QVERIFY(history::serverConnected());
        QCOMPARE(history::registerStaged("5678"), qint64(2));
        QCOMPARE(history::loadGrid(grid, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, one))), 2).totals.count, 5);
        QCOMPARE(history::deleteShown(app::Procedure::RunStatement, history::shownViewSql(testView, "ETC_DATA", "DELETE")), qint64(5));
        QCOMPARE(serverCount(), 2);
    }

    void silentServerIsGivenUpWithinFiveSeconds()
    {
        // A server that takes the connection and never answers: opening the
        // history does not wait for it at all, the start's try runs in the
        // background, and an operation that needs the server meanwhile waits
        // for that try (about 5 s in all), not for one of its own as well.
        closeDatabases();
        const int silent = silentSocket();
        QVERIFY(silent >= 0);
        app::writeProfileString("DATABASE", "Port", QString::number(boundPort(silent)), h->settingsFile());
        QElapsedTimer t;
        t.start();
        history::openDatabase(kDatFile);
        bool done = false;
        history::connectServerInBackground([&] { done = true; });
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!history::serverConnected() && history::serverAwayReason().isEmpty()); // not known yet
        QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
        QVERIFY2(t.elapsed() < 6500, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(h->messages().size(), 1);
        QVERIFY(h->messages()[0].text.contains("サーバーに接続できません"));
        QVERIFY(!history::serverAwayReason().isEmpty());
        QTest::qWait(200);
        QVERIFY(!done); // only once connected
        // Each later operation tries once more, within about 5 s.
        t.restart();
        QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
        QVERIFY2(t.elapsed() < 6500, qPrintable(QString::number(t.elapsed())));
        closeDatabases();
        ::close(silent);
        // With the server there, the background try connects.
        pointAtServer(*h);
        history::openDatabase(kDatFile);
        done = false;
        history::connectServerInBackground([&] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QVERIFY(history::serverConnected() && history::serverAwayReason().isEmpty());
    }

    void leastPrivilegeRoleWorksAfterTheOwnersInit()
    {
        // The day-to-day role has SELECT, INSERT, UPDATE and DELETE on the
        // table (and the row numbers' sequence), as passlog server init
        // prints them; nothing to create. Registration, reading, the
        // duplicates, the checked delete and the copy all work with it.
        const QString grants = history::serverGrants("passlog_day");
        QVERIFY2(grants.contains("GRANT SELECT, INSERT, UPDATE, DELETE ON public.ETC_DATA TO passlog_day;"), qPrintable(grants));
        serverAdminExec("DROP ROLE IF EXISTS passlog_day");
        serverAdminExec("CREATE ROLE passlog_day LOGIN PASSWORD 'day-pw'");
        serverAdminExec("REVOKE CREATE ON SCHEMA public FROM PUBLIC");
        // Temporary tables only through the printed grants, too.
        const QString database = qEnvironmentVariable("PASSLOG_PG_NAME");
        serverAdminExec("REVOKE TEMPORARY ON DATABASE " + database + " FROM PUBLIC");
        const auto temporaries = qScopeGuard([&] { serverAdminExec("GRANT TEMPORARY ON DATABASE " + database + " TO PUBLIC"); });
        QVERIFY2(grants.contains("GRANT CONNECT, TEMPORARY ON DATABASE " + database + " TO passlog_day;"), qPrintable(grants));
        serverAdminExec(grants);
        closeDatabases();
        withPasswordLine("passlog_day", "day-pw");
        app::writeProfileString("DATABASE", "User", "passlog_day", h->settingsFile());
        history::openDatabase(kDatFile);
        stageRows(4, 100);
        QCOMPARE(history::registerStaged("1111"), qint64(4));
        historyExec("UPDATE ETC_DATA SET PRINT_FLAG=TRUE WHERE PASS_MONEY=100");
        QCOMPARE(history::historyCardNumbers(), QStringList{"1111"});
        localExec("INSERT INTO ETC_DATA (CARD_ID,カードNO,通行料金) VALUES ('2222','2222','1円')");
        QCOMPARE(history::copyHistoryToServer(), qint64(1));
        addHistoryRow("3333", "2024/04/01", "08:00:00", "100円");
        addHistoryRow("3333", "2024/04/01", "08:00:00", "100円");
        history::HistoryGridModel grid;
        QCOMPARE(history::loadGrid(grid, history::duplicatesSql(testView, "0000", "SELECT"), 2).totals.count, 2);
        QCOMPARE(history::deleteDuplicates(testView, "3333"), 1);
        testView = {};
        QCOMPARE(history::loadGrid(grid, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, ViewSelection{}))), 2).totals.count, 6);
        QCOMPARE(history::deleteShown(app::Procedure::RunStatement, history::shownViewSql(testView, "ETC_DATA", "DELETE")), qint64(6));
        // What they deleted is kept, listed and put back with the same grants.
        const QList<history::Deletion> kept = history::listDeletions();
        QCOMPARE(kept.size(), 2);
        QCOMPARE(history::restoreDeletion(kept[0].id).restored, qint64(6));
        QCOMPARE(serverCount(), 6);
        // CSV取込's lookup of passages (a temporary table of the connection).
        int spot = 0;
        history::loadSpotsOnServer(history::database(DbConnection::Server), [&](QByteArray &card, QByteArray &at) {
            card = "1111";
            at = "2010/06/01-00:00:00";
            return spot++ == 0;
        });
        QVERIFY2(h->messages().isEmpty(), qPrintable(h->messageTexts().join('\n')));
        // The day-to-day role cannot set the server up: said, nothing changed.
        QVERIFY(!app::expectedFailureOf([] { history::initServer(); }).isEmpty());
        closeDatabases();
        serverAdminExec("GRANT CREATE ON SCHEMA public TO PUBLIC");
    }

    void tableOfAnotherShapeOrNoneIsRefusedUnchanged()
    {
        // A table made beforehand with other column types, and no table at
        // all: refused with a message naming passlog server init, and the
        // server's catalogue exactly as before (no column, no index added),
        // by the day-to-day check and by the set-up itself. The set-up then
        // makes a missing table, and a second run changes nothing.
        closeDatabases();
        serverAdminExec("DROP TABLE ETC_DATA");
        serverAdminExec("CREATE TABLE ETC_DATA (CARD_ID INTEGER, \"カードNO\" INTEGER, PASS_MONEY TEXT, ROW_ID SERIAL)");
        const QString before = serverCatalogue();
        for (int attempt = 0; attempt < 2; ++attempt) {
            history::openDatabase(kDatFile);
            QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
            const QString refused = app::expectedFailureOf([] { history::initServer(); });
            closeDatabases();
            QCOMPARE(h->messages().size(), 1);
            for (const QString &text : {h->messages()[0].text, refused})
                QVERIFY2(text.contains("passlog server init") && text.contains("何も変更していません") &&
                             text.contains("card_id の型が integer"),
                         qPrintable(text));
            QCOMPARE(serverCatalogue(), before);
            h->clearMessages();
        }
        serverAdminExec("DROP TABLE ETC_DATA");
        history::openDatabase(kDatFile);
        QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
        QVERIFY2(h->messages().size() == 1 && h->messages()[0].text.contains("テーブル ETC_DATA がありません") &&
                     h->messages()[0].text.contains("passlog server init"),
                 qPrintable(h->messageTexts().join('\n')));
        QCOMPARE(serverCatalogue(), QString());
        closeDatabases();
        QVERIFY(history::initServer().contains("GRANT SELECT, INSERT, UPDATE, DELETE ON public.ETC_DATA"));
        const QString made = serverCatalogue();
        QVERIFY(made.contains("etc_data_row_uid") && made.contains("row_uid text"));
        history::initServer();
        QCOMPARE(serverCatalogue(), made);
        history::closeDatabase(kDatFile);
        h->clearMessages();
        history::openDatabase(kDatFile);
        stageRows(1, 5);
        QCOMPARE(history::registerStaged("0001"), qint64(1));
    }

    void ownersSchemaOfItsNameHoldsNothing()
    {
        // The owner has a schema of its own name, which the default
        // search_path puts first: the set-up still makes the tables in
        // public, the grants it prints name them there, and a day-to-day
        // role given those grants uses them (not told to run init again).
        closeDatabases();
        const QString owner = qEnvironmentVariable("PASSLOG_PG_USER");
        serverAdminExec("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED");
        serverAdminExec("DROP SCHEMA IF EXISTS " + owner + " CASCADE");
        serverAdminExec("CREATE SCHEMA AUTHORIZATION " + owner);
        const auto dropSchema = qScopeGuard([&] {
            serverAdminExec("SET client_min_messages = warning; DROP SCHEMA IF EXISTS " + owner + " CASCADE");
        });
        const QString grants = history::initServer();
        const QString ownGrants = history::serverGrants("passlog_own");
        QCOMPARE(serverAdminValue("SELECT count(*) FROM pg_tables WHERE schemaname = '" + owner + "'"), QString("0"));
        QCOMPARE(serverAdminValue("SELECT string_agg(schemaname || '.' || tablename, ',' ORDER BY tablename) FROM pg_tables "
                                  "WHERE tablename IN ('etc_data', 'etc_deleted')"),
                 QString("public.etc_data,public.etc_deleted"));
        QVERIFY2(grants.contains("ON public.ETC_DATA TO passlog_user;") &&
                     grants.contains("ON public.ETC_DELETED TO passlog_user;") &&
                     grants.contains("GRANT USAGE ON SEQUENCE public.etc_data_row_id_seq"),
                 qPrintable(grants));
        history::closeDatabase(kDatFile);
        serverAdminExec("DROP ROLE IF EXISTS passlog_own");
        serverAdminExec("CREATE ROLE passlog_own LOGIN PASSWORD 'own-pw'");
        const auto dropRole = qScopeGuard([&] { serverAdminExec("DROP OWNED BY passlog_own; DROP ROLE passlog_own"); });
        serverAdminExec("CREATE SCHEMA AUTHORIZATION passlog_own"); // the day-to-day role's own, too
        serverAdminExec(ownGrants);
        withPasswordLine("passlog_own", "own-pw");
        app::writeProfileString("DATABASE", "User", "passlog_own", h->settingsFile());
        history::openDatabase(kDatFile);
        stageRows(3, 10);
        QCOMPARE(history::registerStaged("2222"), qint64(3));
        QCOMPARE(history::historyCardNumbers(), QStringList{"2222"});
        QCOMPARE(history::deleteShown(app::Procedure::RunStatement, history::shownViewSql(testView, "ETC_DATA", "DELETE")), qint64(3));
        QCOMPARE(history::restoreDeletion(history::listDeletions().value(0).id).restored, qint64(3));
        QVERIFY2(h->messages().isEmpty(), qPrintable(h->messageTexts().join('\n')));
        QCOMPARE(serverAdminValue("SELECT count(*) FROM public.etc_data"), QString("3"));
        closeDatabases();
    }

    void deletedTableOfAnotherShapeIsRefusedAsSuch()
    {
        // A new server (no ETC_DATA yet) with an ETC_DELETED of its own: the
        // set-up refuses it as a table of another shape, naming it, with
        // nothing made; so does the day-to-day connection once ETC_DATA is
        // there. Never "run it as the owner": the owner ran it.
        closeDatabases();
        serverAdminExec("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED");
        serverAdminExec("CREATE TABLE ETC_DELETED (ROW_UID INTEGER, NOTE TEXT)");
        const auto drop = qScopeGuard([] { serverAdminExec("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DELETED"); });
        const QString refused = app::expectedFailureOf([] { history::initServer(); });
        QVERIFY2(refused.contains("ETC_DELETED") && refused.contains("使う形ではない") &&
                     refused.contains("row_uid の型が integer") && !refused.contains("所有者として実行"),
                 qPrintable(refused));
        QCOMPARE(serverCatalogue(), QString());
        // ETC_DATA made beside it (by the owner, as a former set-up would have).
        serverAdminExec("ALTER TABLE ETC_DELETED RENAME TO etc_deleted_aside");
        history::initServer();
        serverAdminExec("DROP TABLE ETC_DELETED; ALTER TABLE etc_deleted_aside RENAME TO etc_deleted");
        const QString again = app::expectedFailureOf([] { history::initServer(); });
        QVERIFY2(again.contains("使う形ではない") && !again.contains("所有者として実行"), qPrintable(again));
        history::closeDatabase(kDatFile);
        h->clearMessages();
        history::openDatabase(kDatFile);
        QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
        QVERIFY2(h->messages().size() == 1 && h->messages()[0].text.contains("ETC_DELETED") &&
                     h->messages()[0].text.contains("使う形ではない"),
                 qPrintable(h->messageTexts().join('\n')));
        closeDatabases();
    }

    void deletionsOfAJoiningPcCanBeUndoneOnTheServer()
    {
        // A PC deleted rows from its own history file before it joined the
        // server: the copy brings its rows and those deletions (within their
        // keep time), and the deletion is undone on the server. A second
        // copy adds no deletion again; one past its keep time stays behind.
        closeDatabases();
        const QString ini = h->settingsFile();
        app::writeProfileString("DATABASE", "Driver", "SQLITE", ini);
        history::openDatabase(kDatFile);
        QVERIFY(!history::usesServer());
        addHistoryRow("4444", "2024/03/01", "08:00:00", "100円");
        addHistoryRow("4444", "2024/03/02", "08:00:00", "200円");
        addHistoryRow("5555", "2024/03/03", "08:00:00", "300円");
        addHistoryRow("6666", "2024/03/04", "08:00:00", "400円");
        ViewSelection card;
        card.TypedCardNo = "4444";
        history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, card)));
        QCOMPARE(history::deleteShown(app::Procedure::RunStatement, history::shownViewSql(testView, "ETC_DATA", "DELETE")), qint64(2));
        // An old deletion, made 40 days before.
        h->setNow(h->now().addDays(-40));
        card.TypedCardNo = "6666";
        history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, card)));
        QCOMPARE(history::deleteShown(app::Procedure::RunStatement, history::shownViewSql(testView, "ETC_DATA", "DELETE")), qint64(1));
        h->setNow(h->now().addDays(40));
        QCOMPARE(localCount("ETC_DELETED"), 3);
        history::closeDatabase(kDatFile);
        pointAtServer(*h);
        history::openDatabase(kDatFile);
        testView = {};
        for (int run = 0; run < 2; ++run) {
            QCOMPARE(history::copyHistoryToServer(), qint64(run == 0 ? 1 : 0));
            QCOMPARE(serverAdminValue("SELECT count(*) FROM ETC_DELETED"), QString("2"));
        }
        const QList<history::Deletion> kept = history::listDeletions();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].rows, qint64(2));
        QCOMPARE(kept[0].cards, QStringList{"4444"});
        QCOMPARE(history::restoreDeletion(kept[0].id).restored, qint64(2));
        QCOMPARE(serverCount(), 3);
        QCOMPARE(serverCount("\"カードNO\" = '4444'"), 2);
        QVERIFY2(h->messages().isEmpty(), qPrintable(h->messageTexts().join('\n')));
    }

    void tlsSettings()
    {
        // SSLMode and SSLRootCert reach the client library; a value it could
        // not use is refused before any connection, naming the key.
        closeDatabases();
        const QString ini = h->settingsFile();
        auto tryWith = [&](const QString &mode, const QString &root) {
            app::writeProfileString("DATABASE", "SSLMode", mode, ini);
            app::writeProfileString("DATABASE", "SSLRootCert", root, ini);
            h->clearMessages();
            history::openDatabase(kDatFile);
            const QStringList numbers = asCommand(history::historyCardNumbers);
            const QString said = h->messages().isEmpty() ? QString() : h->messages().last().text;
            closeDatabases();
            return said;
        };
        QString said = tryWith("verify_full", "");
        QVERIFY2(said.contains("SSLMode") && said.contains("verify_full") && said.contains("verify-full"), qPrintable(said));
        said = tryWith("verify-full", h->programFolder() + "/no-such-ca.crt");
        QVERIFY2(said.contains("SSLRootCert") && said.contains("no-such-ca.crt"), qPrintable(said));
        QCOMPARE(tryWith("disable", ""), QString());
        // The private cluster speaks TLS once it has a certificate: signed by
        // an office CA made here, for 127.0.0.1.
        QTemporaryDir certs;
        certs.setAutoRemove(false); // the cluster keeps reading its files
        const QString dir = certs.path();
        if (!makeCertificates(dir))
            QSKIP("openssl is not available to make a certificate");
        said = tryWith("require", "");
        QVERIFY2(said.contains("TLS") && said.contains("SSL"), qPrintable(said)); // no TLS on the server yet
        serverAdminExec(QString("ALTER SYSTEM SET ssl_cert_file = '%1/server.crt'").arg(dir));
        serverAdminExec(QString("ALTER SYSTEM SET ssl_key_file = '%1/server.key'").arg(dir));
        serverAdminExec("ALTER SYSTEM SET ssl = on");
        serverAdminExec("SELECT pg_reload_conf()");
        QThread::msleep(500);
        QCOMPARE(tryWith("verify-full", dir + "/ca.crt"), QString());
        said = tryWith("verify-full", dir + "/other-ca.crt");
        QVERIFY2(said.contains("証明書") && said.contains("SSLRootCert") && said.contains("certificate verify failed"),
                 qPrintable(said));
        serverAdminExec("ALTER SYSTEM RESET ssl");
        serverAdminExec("ALTER SYSTEM RESET ssl_cert_file");
        serverAdminExec("ALTER SYSTEM RESET ssl_key_file");
        serverAdminExec("SELECT pg_reload_conf()");
        QThread::msleep(500);
        QDir(dir).removeRecursively();
        app::writeProfileString("DATABASE", "SSLMode", "", ini);
        app::writeProfileString("DATABASE", "SSLRootCert", "", ini);
        history::openDatabase(kDatFile);
    }

    void wrongOrMissingPasswordIsNamed()
    {
        // The password file has a wrong password, or none for this server:
        // the message names the password and the password file, with the
        // client library's own text after it.
        closeDatabases();
        for (const char *password : std::initializer_list<const char *>{"wrong", nullptr}) {
            withPasswordLine(qEnvironmentVariable("PASSLOG_PG_USER"), password ? QString::fromLatin1(password) : QString(),
                             false);
            h->clearMessages();
            history::openDatabase(kDatFile);
            QVERIFY(asCommand(history::historyCardNumbers).isEmpty());
            closeDatabases();
            QCOMPARE(h->messages().size(), 1);
            const QString text = h->messages()[0].text;
            QVERIFY2(text.contains("パスワード") && text.contains("PGPASSFILE") && text.contains(".pgpass") &&
                         !text.contains("ネットワーク") &&
                         text.contains(password ? "password authentication failed" : "no password supplied"),
                     qPrintable(text));
        }
        qputenv("PGPASSFILE", m_pgpass.toLocal8Bit());
        history::openDatabase(kDatFile);
    }

    void statusFollowsALostConnection()
    {
        // Whoever finds the connection lost, those who show the server's
        // state hear of it at once, and "connected" is only said while it is.
        int heard = 0;
        history::setServerStateListener([&] { ++heard; });
        history::historyCardNumbers(); // connected
        QVERIFY(history::serverConnected());
        serverAdminExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name='PASSLOG' "
                        "AND pid<>pg_backend_pid()");
        QCOMPARE(asCommand([] {
                     return history::deleteShown(app::Procedure::RunStatement,
                                                 history::shownViewSql(testView, "ETC_DATA", "DELETE"));
                 }),
                 qint64(0));
        QVERIFY(h->messages().last().text.contains("接続が切れました"));
        QVERIFY(heard >= 1);
        QVERIFY(!history::serverConnected() && !history::serverAwayReason().isEmpty());
        const int before = heard;
        QVERIFY(history::historyCardNumbers().isEmpty()); // connected again
        QVERIFY(heard > before && history::serverConnected());
        history::setServerStateListener({});
    }

    void programFolderCopiedToASecondPc()
    {
        // The second PC is set up by copying the first one's folder, before
        // its first copy to the server: each adds 3 passages of its own, both
        // copy; the shared rows arrive once, and each PC's own rows arrive.
        for (int i = 0; i < 10; ++i)
            localExec(QString("INSERT INTO ETC_DATA (CARD_ID,カードNO,通行料金) VALUES ('0001','0001','%1円')").arg(i));
        closeDatabases();
        history::openDatabase(kDatFile); // the rows get their identities
        closeDatabases();
        TestHarness second;
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::copy(h->programFolder() + "/ETC_DAT.sqlite" + suffix,
                        second.programFolder() + "/ETC_DAT.sqlite" + suffix);
        pointAtServer(second);
        for (TestHarness *pc : {h.get(), &second}) {
            app::runSettings().programFolder = pc->programFolder() + QLatin1Char('/');
            history::openDatabase(kDatFile);
            for (int i = 0; i < 3; ++i)
                localExec(QString("INSERT INTO ETC_DATA (CARD_ID,カードNO,PASS_TIME) VALUES ('0002','0002','%1')")
                              .arg(pc == h.get() ? i : 10 + i));
            QCOMPARE(history::copyHistoryToServer(), qint64(pc == h.get() ? 13 : 3));
            history::closeDatabase(kDatFile);
        }
        app::runSettings().programFolder = h->programFolder() + QLatin1Char('/');
        history::openDatabase(kDatFile);
        QCOMPARE(serverCount("CARD_ID='0001'"), 10);
        QCOMPARE(serverCount("CARD_ID='0002'"), 6);
    }
};

// A child of the concurrency and connection tests: its own program folder
// and history file, the shared history on the cluster; stages and registers
// its rows, printing what happened.
static int child(const QString &card, int rows, bool copy)
{
    TestHarness h;
    app::runSettings().programFolder = h.programFolder() + QLatin1Char('/');
    pointAtServer(h);
    int status = 0;
    try {
        history::openDatabase(kDatFile);
        stageRows(rows, card.toInt() * 1000000);
        if (copy) // the staged rows as this PC's own history, to be copied
        {
            localExec(QStringLiteral("INSERT INTO ETC_DATA SELECT *, lower(hex(randomblob(16))) FROM ETC_TEMP"));
            localExec(QStringLiteral("UPDATE ETC_DATA SET CARD_ID='%1', カードNO='%1'").arg(card));
        }
        std::fputs("copying\n", stdout);
        std::fflush(stdout);
        // The first try is broken off by the parent; a later one completes
        // (a server restarted after an immediate stop first replays its log,
        // for a few seconds after a long run: until then it refuses).
        for (int attempt = 0; attempt < 6; ++attempt) {
            if (attempt > 0)
                QThread::msleep(2000);
            const qint64 done = asCommand([&] { return copy ? history::copyHistoryToServer() : history::registerStaged(card); });
            std::printf(copy ? "copied %lld\n" : "registered %lld\n", static_cast<long long>(done));
            std::fflush(stdout);
            if (done > 0)
                break;
        }
    } catch (const seams::ProgramEnded &) {
        status = 3;
    }
    std::printf("staged %d\n", localCount("ETC_TEMP"));
    std::printf("history %d\n", localCount("ETC_DATA"));
    for (const QString &text : h.messageTexts())
        std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    history::closeDatabase(kDatFile);
    return status;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString childFolder = qEnvironmentVariable(kChildFolder);
    if (!childFolder.isEmpty())
        return child(qEnvironmentVariable(kChildCard), qEnvironmentVariableIntValue(kChildRows),
                     qEnvironmentVariableIsSet(kChildCopy));
    TestServerStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serverstore.moc"
