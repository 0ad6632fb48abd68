// Registration of the staged card read into the history: the column mapping,
// appending twice, a refused row refusing the whole card read (naming it),
// and a registration killed in the middle leaving all or nothing.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/ShownRows.h"
#include "history/ViewCondition.h"
#include "history/Registration.h"
#include "history/GridLoad.h"
#include "history/Duplicates.h"

#include <QProcess>
#include <QSqlError>
#include <QSqlRecord>
#include <QtTest>
#include <csignal>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
constexpr char kChildFolder[] = "PASSLOG_REGISTRATION_CHILD";

int count(const QString &table, const QString &where = QString())
{
    const QStringList c = column(QStringLiteral("SELECT COUNT(*) FROM ") + table +
                                 (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where));
    return c.value(0).toInt();
}

// n staged rows with every column filled, as a card read leaves them.
void stageRows(int n, const QString &card = QStringLiteral("0000"))
{
    QSqlDatabase db = history::database(DbConnection::History);
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO ETC_TEMP (ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,ITC_OUT_GATE,"
        "JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,CAR_NAME,PASS_MONEY,"
        "PASS_UNIT,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) VALUES "
        "('01001','東名高速道路','東京',69,'東京',?,'東名高速道路','厚木',101,'厚木','2010/06/03','10:20:30',?,"
        "'2010/06/01',?,?,1,'普通車',?,'円',?,?,'2010/06/01',?,?,'普通車','東名 東京','東名 厚木')"));
    for (int i = 0; i < n; ++i) {
        const QString time = QStringLiteral("%1:%2:%3").arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                                 .arg(i / 60 % 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'));
        q.addBindValue(QStringLiteral("0%1").arg(1000 + i % 9000));
        q.addBindValue(card);
        q.addBindValue(time);
        q.addBindValue(QStringLiteral("2010/06/01-") + time);
        q.addBindValue(100 + i);
        q.addBindValue(i % 2);
        q.addBindValue(card);
        q.addBindValue(time);
        q.addBindValue(QStringLiteral("%1円").arg(100 + i));
        if (!q.exec())
            qFatal("staging failed: %s", qPrintable(q.lastError().text()));
    }
    db.commit();
}

QStringList rows(const QString &table)
{
    QStringList out;
    QSqlQuery q(history::database(DbConnection::History));
    // The staged columns: the history's own row identity is not staged.
    q.exec(QStringLiteral("SELECT ITC_IN,ITC_IN_ROAD,ITC_IN_GATE,JID_IN,JID_IN_NAME,ITC_OUT,ITC_OUT_ROAD,ITC_OUT_GATE,"
                          "JID_OUT,JID_OUT_NAME,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
                          "CAR_NAME,PASS_MONEY,PASS_UNIT,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,"
                          "出口料金所 FROM ") +
           table + QStringLiteral(" ORDER BY rowid"));
    while (q.next()) {
        QStringList cells;
        for (int i = 0; i < q.record().count(); ++i)
            cells << q.value(i).toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}
} // namespace

class TestRegistration : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeDatabases(); }
    void emptyStagingRegistersNothing();
    void everyColumnCopiedUnderTheGivenNumber();
    void registeringTwiceAppendsTwice();
    void heldPassagesFoundWhateverTheirDateTime();
    void refusedRowRegistersNothingAndNamesIt();
    void transactionEndedByTheStoreRegistersNothing_data();
    void transactionEndedByTheStoreRegistersNothing();
    void killedRegistrationLeavesAllOrNothing();
    void stoppedWorkLeavesEverything();
};

void TestRegistration::emptyStagingRegistersNothing()
{
    TestHarness h;
    openDatabases(h);
    history::registerStaged(QStringLiteral("1234"));
    QCOMPARE(count(QStringLiteral("ETC_DATA")), 0);
    QVERIFY(h.messages().isEmpty());
}

void TestRegistration::everyColumnCopiedUnderTheGivenNumber()
{
    SQLITE_FILE_ONLY();
    TestHarness h;
    openDatabases(h);
    stageRows(3);
    history::registerStaged(QStringLiteral("5678"));
    QCOMPARE(count(QStringLiteral("ETC_DATA"), QStringLiteral("CARD_ID = '5678' AND カードNO = '5678'")), 3);
    // Apart from the two card-number columns, each history row is its staged row, in staged order.
    QStringList expected = rows(QStringLiteral("ETC_TEMP"));
    for (QString &r : expected)
        r.replace(QStringLiteral("|0000|"), QStringLiteral("|5678|"));
    QCOMPARE(rows(QStringLiteral("ETC_DATA")), expected);
    // The moment of the card read stays, whenever the registration happens.
    QCOMPARE(column(QStringLiteral("SELECT DISTINCT REG_DATE || ' ' || REG_TIME FROM ETC_DATA")),
             QStringList{QStringLiteral("2010/06/03 10:20:30")});
    QCOMPARE(count(QStringLiteral("ETC_TEMP")), 3); // emptying the staging is the caller's step
    // A quote in the card number is a value, not a statement.
    history::registerStaged(QStringLiteral("1'2"));
    QCOMPARE(count(QStringLiteral("ETC_DATA"), QStringLiteral("CARD_ID = '1''2'")), 3);
}

void TestRegistration::registeringTwiceAppendsTwice()
{
    TestHarness h;
    openDatabases(h);
    stageRows(4);
    history::registerStaged(QStringLiteral("0012"));
    history::registerStaged(QStringLiteral("0012"));
    QCOMPARE(count(QStringLiteral("ETC_DATA"), QStringLiteral("CARD_ID = '0012'")), 8);
}

// A card read again: the copies the card number holds already are found by
// their passage (whatever DATE_TIME another tool stored), each once, and
// under that card number only.
void TestRegistration::heldPassagesFoundWhateverTheirDateTime()
{
    TestHarness h;
    openDatabases(h);
    stageRows(4);
    history::registerStaged(QStringLiteral("0012"));
    QSqlQuery other = history::execute(DbConnection::History,
                                       QStringLiteral("UPDATE ETC_DATA SET DATE_TIME = '1999/01/01-00:00:00' WHERE PASS_TIME <= '00:00:01'"));
    other.finish();
    stageRows(5);
    const history::StagedPassages held = history::stagedPassagesHeld(QStringLiteral("0012"));
    QCOMPARE(held.staged, qint64(9)); // the four twice and a new one
    QCOMPARE(held.heldRows.size(), qsizetype(4));
    QVERIFY(history::stagedPassagesHeld(QStringLiteral("0034")).heldRows.isEmpty());
}

// The store refuses one row (a trigger; on the server one that reports a
// full disk from the third row on): nothing of the card read is registered,
// the staging stays, and the warning names the row and the store's reason.
// Once the cause is gone, the same staging registers whole, and every row
// has its own identity.
void TestRegistration::refusedRowRegistersNothingAndNamesIt()
{
    TestHarness h;
    openDatabases(h);
    stageRows(5);
    if (onServerStore())
        serverAdminExec(QStringLiteral(
            "CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN IF NEW.PASS_MONEY >= 102 THEN "
            "RAISE EXCEPTION 'disk full' USING ERRCODE = '53100'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql; "
            "CREATE TRIGGER refuse BEFORE INSERT ON ETC_DATA FOR EACH ROW EXECUTE FUNCTION refuse()"));
    else
        historyExec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON ETC_DATA WHEN NEW.PASS_MONEY >= 102 "
                                   "BEGIN SELECT RAISE(ABORT, 'disk full'); END"));
    QCOMPARE(asCommand([] { return history::registerStaged(QStringLiteral("0001")); }), qint64(0));
    QCOMPARE(h.messages().size(), 1);
    QCOMPARE(h.messages()[0].icon, seams::MsgIcon::Warning);
    const QString text = h.messages()[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("DB登録できませんでした。")) &&
                 text.contains(QStringLiteral("2010/06/01 00:00:02 東名 東京 → 東名 厚木")) &&
                 text.contains(QStringLiteral("disk full")),
             qPrintable(text));
    QCOMPARE(count(QStringLiteral("ETC_DATA")), 0);
    QCOMPARE(count(QStringLiteral("ETC_TEMP")), 5);

    if (onServerStore())
        serverAdminExec(QStringLiteral("DROP TRIGGER refuse ON ETC_DATA; DROP FUNCTION refuse()"));
    else
        historyExec(QStringLiteral("DROP TRIGGER refuse"));
    h.clearMessages();
    QCOMPARE(history::registerStaged(QStringLiteral("0001")), qint64(5));
    QCOMPARE(history::registerStaged(QStringLiteral("0001")), qint64(5)); // the same passages twice: two rows each
    QCOMPARE(count(QStringLiteral("ETC_DATA")), 10);
    QCOMPARE(column(QStringLiteral("SELECT COUNT(DISTINCT ROW_UID) FROM ETC_DATA")).value(0), QStringLiteral("10"));
    QVERIFY(h.messages().isEmpty());
}

// The store ends the transaction itself in the middle of the copy: by a trigger
// that rolls back, or by a disk that is full. Nothing of the card read may be
// registered, the staging stays for another try, and the user is told.
void TestRegistration::transactionEndedByTheStoreRegistersNothing_data()
{
    QTest::addColumn<int>("staged");
    QTest::addColumn<QString>("setup");
    QTest::newRow("trigger rolls back row 3")
        << 5
        << QStringLiteral("CREATE TRIGGER lose BEFORE INSERT ON ETC_DATA WHEN NEW.PASS_MONEY = 102 "
                          "BEGIN SELECT RAISE(ROLLBACK, 'rolled back'); END");
    QTest::newRow("disk full") << 400 << QStringLiteral("full");
}

void TestRegistration::transactionEndedByTheStoreRegistersNothing()
{
    SQLITE_FILE_ONLY();
    QFETCH(int, staged);
    QFETCH(QString, setup);
    TestHarness h;
    openDatabases(h);
    for (int i = 0; i < 3; ++i)
        addHistoryRow(QStringLiteral("0077"), QStringLiteral("2009/01/01"), QStringLiteral("00:00:0%1").arg(i),
                      QStringLiteral("100円"));
    stageRows(staged);
    if (setup == QStringLiteral("full")) {
        // No page beyond those the file has now.
        const QString pages = column(QStringLiteral("PRAGMA page_count")).value(0);
        historyExec(QStringLiteral("PRAGMA max_page_count = ") + pages);
    } else {
        historyExec(setup);
    }
    const QStringList history = rows(QStringLiteral("ETC_DATA"));
    const QStringList staging = rows(QStringLiteral("ETC_TEMP"));

    QCOMPARE(asCommand([] { return history::registerStaged(QStringLiteral("0001")); }), qint64(0));
    QCOMPARE(h.messages().size(), 1);
    QCOMPARE(h.messages()[0].icon, seams::MsgIcon::Warning);
    QVERIFY2(h.messages()[0].text.startsWith(QStringLiteral("DB登録できませんでした。")),
             qPrintable(h.messages()[0].text));
    QCOMPARE(rows(QStringLiteral("ETC_DATA")), history);
    QCOMPARE(rows(QStringLiteral("ETC_TEMP")), staging);

    // Once the cause is gone, the same staging registers completely, once.
    if (setup == QStringLiteral("full"))
        historyExec(QStringLiteral("PRAGMA max_page_count = 1073741823"));
    else
        historyExec(QStringLiteral("DROP TRIGGER lose"));
    h.clearMessages();
    QCOMPARE(history::registerStaged(QStringLiteral("0001")), qint64(staged));
    QCOMPARE(count(QStringLiteral("ETC_DATA"), QStringLiteral("CARD_ID = '0001'")), staged);
    QVERIFY(h.messages().isEmpty());
}

void TestRegistration::killedRegistrationLeavesAllOrNothing()
{
    SQLITE_FILE_ONLY();
    constexpr int kRows = 150000;
    TestHarness h;
    openDatabases(h);
    stageRows(kRows);
    closeDatabases();
    const QString folder = h.programFolder();

    int killedMidway = 0;
    for (int delayMs : {5, 60, 250, 600}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildFolder), folder);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(20000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("copying"));
        QThread::msleep(delayMs);
        const bool finished = child.bytesAvailable() > 0 || child.waitForReadyRead(0);
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        if (!finished && !child.readAll().contains("done"))
            ++killedMidway;

        app::runSettings().programFolder = folder + QLatin1Char('/');
        history::openDatabase(kDatFile);
        QCOMPARE(column(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        const int registered = count(QStringLiteral("ETC_DATA"));
        QVERIFY2(registered == 0 || registered == kRows, qPrintable(QString::number(registered)));
        QCOMPARE(count(QStringLiteral("ETC_TEMP")), kRows);
        historyExec(QStringLiteral("DELETE FROM ETC_DATA"));
        history::closeDatabase(kDatFile);
    }
    QVERIFY2(killedMidway > 0, "no registration was killed while it copied");
}

// The window's long work on the history file runs on a worker while the
// window asks the user every 50 ms: a "no" leaves the history exactly as it
// was (registration, delete, duplicate display), a "yes" does all of it.
void TestRegistration::stoppedWorkLeavesEverything()
{
    SQLITE_FILE_ONLY();
    TestHarness h;
    openDatabases(h);
    stageRows(20000);
    const history::KeepGoing stop = [] { return false; };
    int asked = 0;
    const history::KeepGoing go = [&] { return ++asked > 0; };
    QCOMPARE(asCommand([&] { return history::registerStaged(QStringLiteral("0001"), stop); }), qint64(0));
    QCOMPARE(count(QStringLiteral("ETC_DATA")), 0);
    QCOMPARE(history::registerStaged(QStringLiteral("0001"), go), qint64(20000));
    QCOMPARE(history::registerStaged(QStringLiteral("0002"), go), qint64(20000));
    QCOMPARE(count(QStringLiteral("ETC_TEMP")), 20000);

    history::HistoryGridModel grid;
    app::runSettings().viewSort = QStringLiteral("NEW");
    testView = {};
    const QString duplicates = history::duplicatesSql(testView, QStringLiteral("0000"), QStringLiteral("SELECT"));
    QCOMPARE(asCommand([&] { return history::loadGrid(grid, duplicates, 2, stop); }).totals.count, qint64(0));
    QCOMPARE(grid.rowCount(), 0);
    QCOMPARE(history::loadGrid(grid, duplicates, 2, go).totals.count, qint64(40000));
    QCOMPARE(grid.cell(0, 0), QStringLiteral("0001"));

    testView.viewType = 2;
    testView.cardNo = QStringLiteral("0001");
    const QString remove = history::shownViewSql(testView, QStringLiteral("ETC_DATA"), QStringLiteral("DELETE"));
    history::loadGrid(grid, history::shownViewSql(testView, QStringLiteral("ETC_DATA"), QStringLiteral("SELECT")), 2);
    QCOMPARE(asCommand([&] { return history::deleteShown(app::Procedure::RunStatement, remove, stop); }), qint64(0));
    QCOMPARE(count(QStringLiteral("ETC_DATA")), 40000);
    QCOMPARE(history::deleteShown(app::Procedure::RunStatement, remove, go), qint64(20000));
    QCOMPARE(count(QStringLiteral("ETC_DATA")), 20000);
    QVERIFY(h.messages().isEmpty()); // a stop says nothing more
}

// Run as a child of the crash test: register the staged rows of the given
// folder, telling the parent when the copy starts and ends.
static int registrationChild(const QString &folder)
{
    TestHarness h;
    app::runSettings().programFolder = folder + QLatin1Char('/');
    history::openDatabase(kDatFile);
    std::fputs("copying\n", stdout);
    std::fflush(stdout);
    history::registerStaged(QStringLiteral("9999"));
    std::fputs("done\n", stdout);
    std::fflush(stdout);
    QThread::sleep(60); // wait to be killed
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString childFolder = qEnvironmentVariable(kChildFolder);
    if (!childFolder.isEmpty())
        return registrationChild(childFolder);
    TestRegistration test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registration.moc"
