// The shared history on a PostgreSQL server (the cluster scripts/test.sh
// starts): statements as the server gets them, registration column by
// column, two programs registering, reading and deleting at once, a
// connection lost in the middle of a registration, and the copy of a local
// history run twice.

#include "HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "history/basAccessEntry.h"
#include "history/basAccessGrid.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSqlRecord>
#include <QThread>
#include <QtTest>

namespace {
constexpr char kChildFolder[] = "PASSLOG_SERVER_CHILD";
constexpr char kChildCard[] = "PASSLOG_SERVER_CHILD_CARD";
constexpr char kChildRows[] = "PASSLOG_SERVER_CHILD_ROWS";

bool haveCluster() { return !qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"); }

// n staged rows, the amount numbering them from base.
void stageRows(int n, int base)
{
    QSqlDatabase db = basAccess_Database(DbConnection::History);
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
    QSqlQuery q(basAccess_Database(DbConnection::History));
    q.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table);
    q.next();
    return q.value(0).toInt();
}

QProcess *startChild(const QString &folder, const QString &card, int rows, QObject *parent)
{
    auto *child = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildFolder), QStringLiteral("1"));
    Q_UNUSED(folder);
    env.insert(QString::fromLatin1(kChildCard), card);
    env.insert(QString::fromLatin1(kChildRows), QString::number(rows));
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->setReadChannel(QProcess::StandardOutput);
    child->start(QCoreApplication::applicationFilePath(), {});
    return child;
}
} // namespace

class TestServerStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

private slots:
    void init()
    {
        if (!haveCluster())
            QSKIP("no PostgreSQL cluster (scripts/test.sh starts one)");
        qputenv("PASSLOG_TEST_STORE", "psql");
        h = std::make_unique<TestHarness>();
        openDatabases(*h);
        basAccess_ResetViewCondition();
        ViewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        AppPath.clear();
    }

    void statementsAsTheServerGetsThem()
    {
        QVERIFY(basAccess_UsesServer());
        QCOMPARE(basAccess_Route(DbConnection::History, "DELETE * FROM ETC_TEMP;"), DbConnection::History);
        QCOMPARE(basAccess_Route(DbConnection::History, "SELECT * FROM ETC_DATA WHERE カードNO='ETC_TEMP';"),
                 DbConnection::Server);
        QCOMPARE(basAccess_ServerText("DELETE * FROM ETC_DATA WHERE カードNO='1234';"),
                 QStringLiteral("DELETE FROM ETC_DATA WHERE \"カードNO\"='1234';"));
        QCOMPARE(basAccess_ServerText("SELECT * FROM ETC_DATA WHERE PRINT_FLAG=False ORDER BY カードNO ASC, ご利用日 DESC;"),
                 QStringLiteral("SELECT * FROM ETC_DATA WHERE PRINT_FLAG=False ORDER BY \"カードNO\" ASC NULLS FIRST, "
                                "\"ご利用日\" DESC NULLS LAST;"));
        QCOMPARE(basAccess_ServerText("ETC_DATA"), QStringLiteral("SELECT * FROM ETC_DATA ORDER BY ROW_ID"));
        // A literal keeps its text: no quotes, no NULLS added inside it.
        QCOMPARE(basAccess_ServerText("SELECT カードNO FROM ETC_DATA WHERE カードNO='ご利用日 ASC';"),
                 QStringLiteral("SELECT \"カードNO\" FROM ETC_DATA WHERE \"カードNO\"='ご利用日 ASC';"));
        // The duplicate statement runs on the server in its grouped form.
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("3333", "2024/03/01", "09:00:00", "1200円");
        const QString repeat = basAccess_MakeRepeatSQL("0000", "SELECT");
        QVERIFY(basAccess_ServerText(repeat).contains("GROUP BY \"ご利用日\""));
        QCOMPARE(column(repeat), (QStringList{"1111", "2222"}));
        historyExec("UPDATE ETC_DATA SET PRINT_FLAG=TRUE WHERE カードNO='1111'");
        QCOMPARE(column("SELECT カードNO FROM ETC_DATA WHERE PRINT_FLAG=False ORDER BY カードNO;"),
                 (QStringList{"2222", "3333"}));
        QVERIFY(h->messages().isEmpty());
    }

    void registrationCopiesEveryColumn()
    {
        stageRows(3, 500);
        QCOMPARE(basAccess_MDBTBLEntry("5678"), qint64(3));
        QCOMPARE(localCount("ETC_DATA"), 0); // the history file's own table is not used
        QCOMPARE(localCount("ETC_TEMP"), 3);
        QSqlQuery staged(basAccess_Database(DbConnection::History));
        staged.exec("SELECT * FROM ETC_TEMP ORDER BY rowid");
        QSqlQuery shared = basAccess_Execute(DbConnection::History, "ETC_DATA");
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
            HistoryGridModel grid;
            const GridLoad load = basAccess_MDBtoMSHFlexGrid(grid, basAccess_MakeReadSQL("ETC_DATA", 2, ViewSelection{}), 2);
            QVERIFY(load.totals.count % kRows == (deleted ? 0 : 300)); // a registration is seen whole or not at all
            ++reads;
            if (reads == 3) {
                ViewCondition.ViewMode = 2;
                ViewCondition.CardNo = "0003";
                basAccess_MDBTBLOpen(basAccess_MakeHFGSQL("ETC_DATA", "DELETE"));
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

    void connectionLostInTheMiddle()
    {
        // The server ends the program's session while it registers: the
        // server keeps none of the rows, the staging keeps all of them, and the
        // error report says the connection to the server was lost.
        constexpr int kRows = 60000;
        addHistoryRow("0007", "2024/01/01", "00:00:00", "1円");
        closeDatabases(); // only the child is connected now
        QProcess *child = startChild(QString(), "0009", kRows, this);
        QTRY_VERIFY_WITH_TIMEOUT(child->peek(1 << 20).contains("copying") ||
                                     child->state() == QProcess::NotRunning,
                                 60000);
        QThread::msleep(500);
        serverAdminExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name='PASSLOG' "
                        "AND pid<>pg_backend_pid()");
        QVERIFY(child->waitForFinished(60000));
        const QString output = QString::fromUtf8(child->readAll());
        QVERIFY2(!output.contains("registered"), qPrintable(output));
        QVERIFY2(output.contains("サーバーとの接続が切れました") && output.contains("basAccess_MDBTBLEntry") &&
                     output.contains("staged 60000"),
                 qPrintable(output));
        basAccess_MDBOpen(kDatFile);
        QCOMPARE(serverCount(), 1);
        QCOMPARE(serverCount("CARD_ID='0007'"), 1);
    }

    void serverNotThereEndsTheStart()
    {
        // A server that does not answer is reported at the open, naming it;
        // nothing is left half open.
        closeDatabases();
        basCommon_WriteIniString("DATABASE", "Port", "1", h->settingsFile());
        QVERIFY(endsProgram([] { basAccess_MDBOpen(kDatFile); }));
        const QString text = h->messages().last().text;
        QVERIFY2(text.contains("basAccess_MDBOpen") && text.contains(":1/"), qPrintable(text));
        QVERIFY(!basAccess_IsOpen(DbConnection::History));
        QVERIFY(!basAccess_UsesServer());
        // Back to the history file alone: the server's table is not needed.
        basCommon_WriteIniString("DATABASE", "Driver", "SQLITE", h->settingsFile());
        basAccess_MDBOpen(kDatFile);
        QVERIFY(!basAccess_UsesServer());
        QCOMPARE(basAccess_Route(DbConnection::History, "ETC_DATA"), DbConnection::History);
    }

    void copyOfALocalHistoryRunTwice()
    {
        QSqlQuery q(basAccess_Database(DbConnection::History));
        QVERIFY(q.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<1500) "
                       "INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,DATE_TIME,通行料金,PRINT_FLAG) "
                       "SELECT '4444','4444','2024/02/01',i,'x',i||'円',i%2 FROM n"));
        addHistoryRow("5555", "2024/01/01", "00:00:00", "1円"); // already on the server
        QCOMPARE(basAccess_CopyHistoryToServer(), qint64(1500));
        QCOMPARE(basAccess_CopyHistoryToServer(), qint64(0));
        QCOMPARE(serverCount(), 1501);
        QCOMPARE(serverCount("PRINT_FLAG"), 750);
        // A row added to the file later is copied by the next run, alone.
        QVERIFY(q.exec("INSERT INTO ETC_DATA (CARD_ID,カードNO) VALUES ('4444','4444')"));
        QCOMPARE(basAccess_CopyHistoryToServer(), qint64(1));
        QCOMPARE(serverCount("CARD_ID='4444'"), 1501);
        QVERIFY(h->messages().isEmpty());
    }
};

// A child of the concurrency and connection tests: its own program folder
// and history file, the shared history on the cluster; stages and registers
// its rows, printing what happened.
static int child(const QString &card, int rows)
{
    TestHarness h;
    AppPath = h.programFolder() + QLatin1Char('/');
    pointAtServer(h);
    int status = 0;
    try {
        basAccess_MDBOpen(kDatFile);
        stageRows(rows, card.toInt() * 1000000);
        std::fputs("copying\n", stdout);
        std::fflush(stdout);
        const qint64 registered = basAccess_MDBTBLEntry(card);
        std::printf("registered %lld\n", static_cast<long long>(registered));
    } catch (const seams::ProgramEnded &) {
        status = 3;
    }
    std::printf("staged %d\n", localCount("ETC_TEMP"));
    for (const QString &text : h.messageTexts())
        std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    basAccess_MDBClose(kDatFile);
    return status;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString childFolder = qEnvironmentVariable(kChildFolder);
    if (!childFolder.isEmpty())
        return child(qEnvironmentVariable(kChildCard), qEnvironmentVariableIntValue(kChildRows));
    TestServerStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serverstore.moc"
