// Deleted rows kept for a while and put back: DB削除 and 重複レコード削除 keep
// what they remove in ETC_DELETED, a restore gives back the same rows with
// the same identities, deletions past the keep time go, two PCs restoring
// one deletion at once restore it once, and a stop in the middle changes
// nothing. (Also run against the shared history on the server.)

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "history/DeletedRows.h"
#include "history/ShownRows.h"
#include "history/ViewCondition.h"
#include "history/GridLoad.h"
#include "history/Duplicates.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSqlRecord>
#include <QSysInfo>
#include <QThread>
#include <QtTest>

#include <memory>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
constexpr char kChildFolder[] = "PASSLOG_RESTORE_CHILD_FOLDER";
constexpr char kChildId[] = "PASSLOG_RESTORE_CHILD_ID";
constexpr char kChildGo[] = "PASSLOG_RESTORE_CHILD_GO";

QSqlDatabase store()
{
    return history::database(onServerStore() ? DbConnection::Server : DbConnection::History);
}

QString storeText(const QString &sql) { return onServerStore() ? sqldialect::toPostgres(sql) : sql; }

// Every row of table (the columns ETC_DATA and ETC_DELETED share), one text
// a row, in ROW_UID order.
QStringList rowsOf(const QString &table, const QString &where = QString())
{
    QStringList columns = {"ITC_IN", "JID_IN", "REG_DATE", "CARD_ID", "PASS_DATE", "PASS_TIME", "DATE_TIME",
                           "CAR_CODE", "PASS_MONEY", "PRINT_FLAG", "カードNO", "ご利用日", "通過時間", "通行料金",
                           "車種", "入口料金所", "出口料金所", "ROW_UID"};
    QSqlQuery q(store());
    if (!q.exec(storeText("SELECT " + columns.join(',') + " FROM " + table +
                          (where.isEmpty() ? QString() : " WHERE " + where) + " ORDER BY ROW_UID")))
        qFatal("%s", qPrintable(q.lastError().text()));
    QStringList out;
    while (q.next()) {
        QStringList fields;
        for (int i = 0; i < columns.size(); ++i)
            fields << (q.value(i).isNull() ? QStringLiteral("<null>")
                                           : columns[i] == "PRINT_FLAG" ? QString::number(q.value(i).toBool())
                                                                        : q.value(i).toString());
        out << fields.join('|');
    }
    return out;
}

int countOf(const QString &table, const QString &where = QString())
{
    QSqlQuery q(store());
    q.exec(storeText("SELECT COUNT(*) FROM " + table + (where.isEmpty() ? QString() : " WHERE " + where)));
    q.next();
    return q.value(0).toInt();
}

void storeExec(const QString &sql)
{
    QSqlQuery q(store());
    if (!q.exec(storeText(sql)))
        qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

// Rows of the history file get their identity as the program stores them.
void giveIdentities()
{
    if (!onServerStore())
        storeExec("UPDATE ETC_DATA SET ROW_UID=lower(hex(randomblob(16))) WHERE ROW_UID IS NULL");
}

// n rows of card on consecutive seconds of day, some printed.
void addRows(const QString &card, int n, const QString &day = "2024/05/01")
{
    storeExec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<%1) "
                             "INSERT INTO ETC_DATA (ITC_IN,JID_IN,REG_DATE,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
                             "PASS_MONEY,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) "
                             "SELECT '01001',69,'2024/06/01','%2','%3','10:'||(i/60)||':'||(i%60),'%3-'||i,1,i,%4,'%2',"
                             "'%3','t'||i,i||'円','普通車','東名 東京','東名 厚木' FROM n")
                  .arg(n)
                  .arg(card, day, "(i%3=0)"));
    giveIdentities();
}

// The delete DB削除 runs for the history shown of card (every card: "0000").
qint64 deleteShownCard(const QString &card, const history::KeepGoing &keepGoing = {})
{
    testView = {};
    testView.viewType = 2;
    testView.cardNo = card;
    history::rememberShown({});
    return history::deleteShown(app::Procedure::DeleteShownRows, history::shownViewSql(testView, kTableData, "DELETE"), keepGoing);
}

// On the server a deletion also has to be old by the server's clock, which
// the test clock does not move: the rows kept so far are made old there.
void ageOnServer()
{
    if (onServerStore())
        storeExec("UPDATE ETC_DELETED SET DELETED_ON_SERVER=DELETED_ON_SERVER-interval '400 days'");
}

QString newestId() { return history::listDeletions().value(0).id; }

QProcess *startChild(const QString &folder, const QString &id, qint64 goAt, QObject *parent)
{
    auto *child = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildFolder, folder);
    env.insert(kChildId, id);
    env.insert(kChildGo, QString::number(goAt));
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->start(QCoreApplication::applicationFilePath(), {});
    return child;
}
} // namespace

class TestDeletedRows : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHarness> h;

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        h->setNow(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)));
        openDatabases(*h);
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
    }

    void deleteThenRestoreGivesBackTheSameRows()
    {
        // DB削除 of one card and 重複レコード削除 each keep what they remove,
        // with the deletion's time, PC and user; a restore puts the same
        // rows back with the same ROW_UIDs, all of them, and the deletion
        // leaves the list. A row whose identity is in the history again
        // is not doubled; a second restore of the same deletion is refused.
        addRows("0001", 30);
        addRows("0002", 5, "2024/05/03");
        const QStringList all = rowsOf("ETC_DATA");
        const QStringList card1 = rowsOf("ETC_DATA", "カードNO='0001'");
        QCOMPARE(card1.size(), 30);

        QCOMPARE(deleteShownCard("0001"), qint64(30));
        QCOMPARE(rowsOf("ETC_DATA"), rowsOf("ETC_DATA", "カードNO='0002'"));
        QList<history::Deletion> list = history::listDeletions();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].rows, qint64(30));
        QCOMPARE(list[0].cards, QStringList{"0001"});
        QCOMPARE(list[0].deletedAt, QString("2026/12/07 09:00:00"));
        QCOMPARE(list[0].pc, QSysInfo::machineHostName());
        QVERIFY(!list[0].user.isEmpty());
        QCOMPARE(list[0].firstDate, QString("2024/05/01"));
        QCOMPARE(rowsOf("ETC_DELETED"), card1);

        history::Restored back = history::restoreDeletion(list[0].id);
        QCOMPARE(back.restored, qint64(30));
        QCOMPARE(back.alreadyThere, qint64(0));
        QCOMPARE(rowsOf("ETC_DATA"), all);
        QCOMPARE(countOf("ETC_DELETED"), 0);
        QVERIFY(history::listDeletions().isEmpty());
        const QString gone = app::expectedFailureOf([&] { history::restoreDeletion(list[0].id); });
        QVERIFY2(gone.contains("元に戻せませんでした") && gone.contains("何も変更していません"), qPrintable(gone));
        QCOMPARE(rowsOf("ETC_DATA"), all);

        // The duplicates of card 0002: one copy of each passage stays, the
        // others are kept and come back.
        storeExec("INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) "
                  "SELECT CARD_ID,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 FROM ETC_DATA WHERE "
                  "カードNO='0002'");
        giveIdentities();
        const QStringList withCopies = rowsOf("ETC_DATA");
        testView = {};
        history::rememberShown({});
        QCOMPARE(history::deleteDuplicates(testView, "0002"), 5);
        QCOMPARE(countOf("ETC_DATA", "カードNO='0002'"), 5);
        list = history::listDeletions();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].rows, qint64(5));
        // One of them is stored again meanwhile (another PC's copy of it):
        // it stays once.
        const QString again = rowsOf("ETC_DELETED").value(0).section('|', -1);
        storeExec("INSERT INTO ETC_DATA (カードNO,ROW_UID) VALUES ('0002','" + again + "')");
        back = history::restoreDeletion(list[0].id);
        QCOMPARE(back.restored, qint64(4));
        QCOMPARE(back.alreadyThere, qint64(1));
        QCOMPARE(countOf("ETC_DATA", "ROW_UID='" + again + "'"), 1);
        storeExec("DELETE FROM ETC_DATA WHERE ROW_UID='" + again + "'");
        QCOMPARE(countOf("ETC_DATA"), withCopies.size() - 1);
        QVERIFY(h->messages().isEmpty());
    }

    void deletionsPastTheKeepTimeGo()
    {
        // Deletions are listed for DeletedKeepDays (30 unless set); an older
        // one is removed at the next deletion and cannot be restored. The
        // deletion question's note names the days.
        QCOMPARE(history::deletedKeepDays(), 30);
        QVERIFY(history::deletionUndoNote().contains("30日間"));
        addRows("0001", 3);
        addRows("0002", 4);
        addRows("0003", 2);
        const QDateTime start = h->now();
        QCOMPARE(deleteShownCard("0001"), qint64(3));
        const QString first = newestId();
        h->setNow(start.addDays(10));
        QCOMPARE(deleteShownCard("0002"), qint64(4));
        QCOMPARE(history::listDeletions().size(), 2);
        QCOMPARE(history::listDeletions()[0].cards, QStringList{"0002"}); // newest first

        ageOnServer();
        h->setNow(start.addDays(30));
        QCOMPARE(history::listDeletions().size(), 2); // 30 days to the second
        h->setNow(start.addDays(30).addSecs(1));
        QCOMPARE(history::listDeletions().size(), 1);
        QCOMPARE(countOf("ETC_DELETED"), 7); // listed no more
        QVERIFY(!app::expectedFailureOf([&] { history::restoreDeletion(first); }).isEmpty());
        // Removed for good once it is past the keep time also by the newest
        // deletion's time (a clock far ahead removes nothing a right one keeps).
        QCOMPARE(deleteShownCard("0003"), qint64(2));
        QCOMPARE(countOf("ETC_DELETED"), 9);
        addRows("0009", 1);
        QCOMPARE(deleteShownCard("0009"), qint64(1));
        QCOMPARE(countOf("ETC_DELETED", "DELETE_ID='" + first + "'"), 0);
        QCOMPARE(countOf("ETC_DELETED"), 7);
        QVERIFY(!app::expectedFailureOf([&] { history::restoreDeletion(first); }).isEmpty());
        QCOMPARE(countOf("ETC_DATA"), 0);

        // A shorter keep time from the settings file; values it cannot be are 30.
        app::writeProfileString("PASSLOG", "DeletedKeepDays", "5", h->settingsFile());
        QCOMPARE(history::deletedKeepDays(), 5);
        QVERIFY(history::deletionUndoNote().contains("5日間"));
        QCOMPARE(history::listDeletions().size(), 2); // the two of today
        ageOnServer();
        h->setNow(start.addDays(36));
        QVERIFY(history::listDeletions().isEmpty());

        // On the server, a PC whose clock is years behind: its deletion is
        // not lost at the next deletion of a PC with the right time.
        if (onServerStore()) {
            addRows("0004", 2);
            addRows("0005", 1);
            h->setNow(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
            QCOMPARE(deleteShownCard("0004"), qint64(2));
            h->setNow(start.addDays(36));
            QCOMPARE(deleteShownCard("0005"), qint64(1));
            const QList<history::Deletion> kept = history::listDeletions();
            QCOMPARE(kept.size(), 2);
            QCOMPARE(kept[1].deletedAt, QString("2000/01/01 00:00:00"));
            QCOMPARE(history::restoreDeletion(kept[1].id).restored, qint64(2));
        }
        for (const char *value : {"0", "-3", "abc", "99999", ""}) {
            app::writeProfileString("PASSLOG", "DeletedKeepDays", value, h->settingsFile());
            QCOMPARE(history::deletedKeepDays(), 30);
        }
    }

    void undoNeverDoublesWhatCameBackMeanwhile()
    {
        // DB削除, then the same passages stored again (a re-import or a
        // second registration: new identities, a new registration time),
        // then 元に戻す: what the history holds again stays once, the rest
        // comes back, and the counts say which. The copy 重複レコード削除
        // kept does not count against its own undo.
        addRows("0001", 5);
        const QStringList before = rowsOf("ETC_DATA");
        QCOMPARE(deleteShownCard("0001"), qint64(5));
        const QString id = newestId();
        const auto storeAgain = [](const QString &where) {
            storeExec("INSERT INTO ETC_DATA (ITC_IN,JID_IN,REG_DATE,REG_TIME,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
                      "PASS_MONEY,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) "
                      "SELECT ITC_IN,JID_IN,'2026/12/07','09:30:00',CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,"
                      "PASS_MONEY,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 "
                      "FROM ETC_DELETED WHERE " + where);
            giveIdentities();
        };
        storeAgain("PASS_MONEY<=2"); // two of the five
        history::Restored back = history::restoreDeletion(id);
        QCOMPARE(back.restored, qint64(3));
        QCOMPARE(back.alreadyThere, qint64(2));
        QCOMPARE(countOf("ETC_DATA"), 5);
        QCOMPARE(countOf("ETC_DATA", "カードNO='0001' AND PASS_MONEY=1"), 1);

        // All five again, one of them twice: the twice-stored one stays twice.
        QCOMPARE(deleteShownCard("0001"), qint64(5));
        storeAgain("1=1");
        storeAgain("PASS_MONEY=4");
        back = history::restoreDeletion(newestId());
        QCOMPARE(back.restored, qint64(0));
        QCOMPARE(back.alreadyThere, qint64(5));
        QCOMPARE(countOf("ETC_DATA"), 6);

        // Duplicates removed and put back: their kept copy is no reason to skip them.
        storeExec("DELETE FROM ETC_DATA");
        addRows("0002", 3);
        storeExec("INSERT INTO ETC_DATA (ITC_IN,JID_IN,REG_DATE,CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,PASS_MONEY,"
                  "PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) SELECT ITC_IN,JID_IN,REG_DATE,"
                  "CARD_ID,PASS_DATE,PASS_TIME,DATE_TIME,CAR_CODE,PASS_MONEY,PRINT_FLAG,カードNO,ご利用日,通過時間,通行料金,"
                  "車種,入口料金所,出口料金所 FROM ETC_DATA");
        giveIdentities();
        testView = {};
        history::rememberShown({});
        QCOMPARE(history::deleteDuplicates(testView, "0002"), 3);
        back = history::restoreDeletion(newestId());
        QCOMPARE(back.restored, qint64(3));
        QCOMPARE(countOf("ETC_DATA"), 6);
        Q_UNUSED(before);
    }

    void aClockAheadRemovesNoDeletion()
    {
        // One run with the clock 400 days ahead deletes: the earlier
        // deletions are hidden from that run but stay stored; back at the
        // right time they are listed and put back.
        addRows("0001", 3);
        addRows("0002", 2);
        const QDateTime start = h->now();
        QCOMPARE(deleteShownCard("0001"), qint64(3));
        ageOnServer();
        h->setNow(start.addDays(400));
        QCOMPARE(deleteShownCard("0002"), qint64(2));
        QCOMPARE(countOf("ETC_DELETED"), 5);
        h->setNow(start.addDays(1));
        const QList<history::Deletion> list = history::listDeletions();
        QCOMPARE(list.size(), 2);
        QCOMPARE(history::restoreDeletion(list.last().id).restored, qint64(3));
        QCOMPARE(countOf("ETC_DATA", "カードNO='0001'"), 3);
    }

    void twoPcsRestoringOneDeletionRestoreItOnce()
    {
        // Two processes restore the same deletion at the same moment: one
        // puts the rows back, the other is told it is gone; the rows are
        // there once.
        addRows("0001", 1500);
        QCOMPARE(deleteShownCard("0001"), qint64(1500));
        const QString id = newestId();
        const qint64 goAt = QDateTime::currentMSecsSinceEpoch() + 1500;
        QList<QProcess *> children{startChild(h->programFolder(), id, goAt, this),
                                   startChild(h->programFolder(), id, goAt, this)};
        QStringList outputs;
        for (QProcess *c : children) {
            QVERIFY(c->waitForFinished(120000));
            outputs << QString::fromUtf8(c->readAll());
        }
        const QString both = outputs.join("\n--\n");
        QCOMPARE(both.count("restored 1500"), 1);
        QCOMPARE(both.count("元に戻せませんでした"), 1);
        QCOMPARE(countOf("ETC_DATA"), 1500);
        QCOMPARE(countOf("ETC_DELETED"), 0);
    }

    void stopInTheMiddleChangesNothing()
    {
        // 中止 at any point of a restore (and of a delete) leaves ETC_DATA
        // and ETC_DELETED as they were; once it runs through, all is back.
        addRows("0001", 2500);
        addRows("0002", 3);
        const QStringList all = rowsOf("ETC_DATA");
        QCOMPARE(deleteShownCard("0001"), qint64(2500));
        const QString id = newestId();
        const QStringList data = rowsOf("ETC_DATA");
        const QStringList deleted = rowsOf("ETC_DELETED");
        int stopAt = 1;
        for (;; ++stopAt) {
            int asked = 0;
            QVERIFY(stopAt < 20);
            history::Restored back;
            const QString stopped = app::expectedFailureOf([&] {
                back = history::restoreDeletion(id, [&](qint64, qint64) { return ++asked < stopAt; });
            });
            if (stopped.isEmpty()) {
                QCOMPARE(back.restored, qint64(2500));
                break;
            }
            QCOMPARE(stopped, QString(" "));
            QCOMPARE(rowsOf("ETC_DATA"), data);
            QCOMPARE(rowsOf("ETC_DELETED"), deleted);
        }
        QVERIFY2(stopAt > 4, "the restore asks between its parts"); // 3 parts, and before the commit
        QCOMPARE(rowsOf("ETC_DATA"), all);

        // A delete stopped: nothing deleted, nothing kept.
        QVERIFY(!app::expectedFailureOf([&] { deleteShownCard("0001", [] { return false; }); }).isEmpty());
        QCOMPARE(rowsOf("ETC_DATA"), all);
        QCOMPARE(countOf("ETC_DELETED"), 0);
        QVERIFY(h->messages().isEmpty());
    }

    void serverFromBeforeIsBroughtUpToDateByInit()
    {
        // A shared history set up before deleted rows were kept: it works,
        // but a delete is refused with nothing deleted, naming the owner's
        // init; the init adds the table (and its grants), and the delete
        // then keeps its rows. A table of deleted rows of another shape is
        // refused at the connection and by the init, left as it is.
        if (!onServerStore())
            QSKIP("a property of the shared history's server");
        closeDatabases();
        serverAdminExec("DROP TABLE ETC_DELETED");
        history::openDatabase(kDatFile);
        addRows("0001", 4);
        QVERIFY(history::listDeletions().isEmpty());
        QCOMPARE(asCommand([] { return deleteShownCard("0001"); }), qint64(0));
        QCOMPARE(h->messages().size(), 1);
        QVERIFY2(h->messages()[0].text.contains("ETC_DELETED") && h->messages()[0].text.contains("passlog server init") &&
                     h->messages()[0].text.contains("何も削除していません"),
                 qPrintable(h->messages()[0].text));
        QCOMPARE(countOf("ETC_DATA"), 4);
        closeDatabases();
        initServer();
        history::openDatabase(kDatFile);
        QVERIFY(history::serverGrants("someone").contains("GRANT SELECT, INSERT, DELETE ON public.ETC_DELETED TO someone;"));
        QCOMPARE(deleteShownCard("0001"), qint64(4));
        QCOMPARE(countOf("ETC_DELETED"), 4);
        closeDatabases();

        serverAdminExec("DROP TABLE ETC_DELETED; CREATE TABLE ETC_DELETED (DELETE_ID INTEGER)");
        h->clearMessages();
        history::openDatabase(kDatFile);
        QVERIFY(asCommand(history::historyCardNumbers).isEmpty()); // the connection itself is refused
        closeDatabases();
        const QString refused = app::expectedFailureOf([] { initServer(); });
        QVERIFY2(refused.contains("ETC_DELETED") && refused.contains("delete_id の型が integer"), qPrintable(refused));
        QVERIFY2(!h->messages().isEmpty() && h->messages()[0].text.contains("ETC_DELETED"),
                 qPrintable(h->messageTexts().join('\n')));
        serverAdminExec("DROP TABLE ETC_DELETED");
        initServer();
        history::openDatabase(kDatFile);
    }
};

// A second PC: the parent's program folder (settings and history file, or
// the same server), restoring deletion id at the moment goAt.
static int child(const QString &folder, const QString &id, qint64 goAt)
{
    TestHarness h;
    h.setNow(QDateTime(QDate(2026, 12, 7), QTime(9, 0, 0)));
    app::runSettings().programFolder = folder + QLatin1Char('/');
    history::openDatabase(kDatFile);
    history::openDatabase(kMstFile);
    QThread::msleep(qMax<qint64>(0, goAt - QDateTime::currentMSecsSinceEpoch()));
    history::Restored back;
    const QString refused = app::expectedFailureOf([&] { back = history::restoreDeletion(id); });
    if (refused.isEmpty())
        std::printf("restored %lld\n", static_cast<long long>(back.restored));
    else
        std::printf("%s\n", qPrintable(refused));
    std::fflush(stdout);
    history::closeDatabase(kMstFile);
    history::closeDatabase(kDatFile);
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = qEnvironmentVariable(kChildFolder);
    if (!folder.isEmpty())
        return child(folder, qEnvironmentVariable(kChildId), qEnvironmentVariable(kChildGo).toLongLong());
    TestDeletedRows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_deletedrows.moc"
