// The two database files, the table check and action statements, and the
// rows each built statement returns or deletes when SQLite runs it.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "app/Seams.h"
#include "history/HistoryCheck.h"
#include "history/Staging.h"
#include "history/SqlDialect.h"
#include "history/ViewCondition.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <filesystem>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QRandomGenerator>
#include <QSqlRecord>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
QByteArray fileHash(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}
} // namespace

class TestHistoryDb : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

    // The program folder with the masters and a history of n rows of card 1234, open.
    void openWithRows(int n)
    {
        app::runSettings().programFolder = h->programFolder() + '/';
        writeMasterDatabase(history::databasePath(kMstFile));
        history::openDatabase(kDatFile);
        QSqlDatabase db = history::database(DbConnection::History);
        db.transaction();
        for (int i = 0; i < n; ++i)
            addHistoryRow("1234", QStringLiteral("2024/05/%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0')),
                          QStringLiteral("13:%1:%2").arg(i / 60 % 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0')),
                          "1200円");
        db.commit();
    }

    static QStringList cardsAndTimes(const QString &jet)
    {
        QStringList out;
        QSqlQuery q = history::execute(DbConnection::History, jet);
        while (q.next())
            out << q.value(QStringLiteral("カードNO")).toString() + QLatin1Char(' ') +
                       q.value(QStringLiteral("DATE_TIME")).toString();
        return out;
    }

    static int rowCount(const QString &table)
    {
        QSqlQuery q = history::execute(DbConnection::History, QStringLiteral("SELECT COUNT(*) FROM ") + table);
        q.next();
        return q.value(0).toInt();
    }

    static void setCondition(qint16 viewMode, const QString &card, const QString &start = {},
                             const QString &end = {})
    {
        testView.viewType = viewMode;
        testView.ranged = !start.isEmpty();
        testView.cardNo = card;
        testView.start = start;
        testView.end = end;
    }

    // The duplicate condition exactly as written, run by SQLite as a
    // correlated sub-query, next to the form the program runs.
    static QStringList literalRows(const QString &jet)
    {
        QSqlQuery q(history::database(DbConnection::History));
        if (!q.exec(jet))
            qFatal("literal form refused");
        QStringList out;
        while (q.next())
            out << q.value(0).toString() + QLatin1Char('|') + q.value(7).toString();
        return out;
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        testView = {};
        app::runSettings().viewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void historyFileIsCreatedWithSchema()
    {
        SQLITE_FILE_ONLY();
        openDatabases(*h);
        QVERIFY(QFileInfo::exists(h->programFolder() + "/ETC_DAT.sqlite"));
        QVERIFY(!QFileInfo::exists(h->programFolder() + "/ETC_DAT.mdb"));
        const QStringList columns{"ITC_IN",     "ITC_IN_ROAD", "ITC_IN_GATE", "JID_IN",   "JID_IN_NAME",
                                  "ITC_OUT",    "ITC_OUT_ROAD", "ITC_OUT_GATE", "JID_OUT", "JID_OUT_NAME",
                                  "REG_DATE",   "REG_TIME",    "CARD_ID",     "PASS_DATE", "PASS_TIME",
                                  "DATE_TIME",  "CAR_CODE",    "CAR_NAME",    "PASS_MONEY", "PASS_UNIT",
                                  "PRINT_FLAG", "カードNO",    "ご利用日",    "通過時間", "通行料金",
                                  "車種",       "入口料金所",  "出口料金所"};
        for (const QString table : {"ETC_DATA", "ETC_TEMP"}) {
            const QSqlRecord r = history::database(DbConnection::History).record(table);
            QStringList names;
            for (int i = 0; i < r.count(); ++i)
                names << r.fieldName(i);
            // The history adds each row's identity.
            QCOMPARE(names, table == QLatin1String("ETC_DATA") ? columns + QStringList{"ROW_UID"} : columns);
        }
        // A new row that does not name PRINT_FLAG is not printed; the
        // dialect's literal False finds it.
        addHistoryRow("1234", "2024/05/01", "13:45:00", "1200円");
        QCOMPARE(column("SELECT PRINT_FLAG FROM ETC_DATA WHERE PRINT_FLAG=False;"), QStringList{"0"});

        // Reopening keeps the rows and does not trip over the existing schema.
        closeDatabases();
        openDatabases(*h);
        QCOMPARE(rowCount("ETC_DATA"), 1);
    }

    void openAndCloseTakeOnlyTheirNames()
    {
        SQLITE_FILE_ONLY();
        app::runSettings().programFolder = h->programFolder() + '/';
        history::openDatabase(QStringLiteral("OTHER.mdb"));
        QVERIFY(!history::isOpen(DbConnection::History) && !history::isOpen(DbConnection::Master));
        QVERIFY(h->messages().isEmpty());
        openDatabases(*h);
        history::closeDatabase(QStringLiteral("OTHER.mdb"));
        QVERIFY(history::isOpen(DbConnection::History) && history::isOpen(DbConnection::Master));
        history::closeDatabase(kMstFile);
        QVERIFY(history::isOpen(DbConnection::History) && !history::isOpen(DbConnection::Master));
    }

    void missingOrBrokenFilesEndTheProgram()
    {
        SQLITE_FILE_ONLY();
        app::runSettings().programFolder = h->programFolder() + '/';
        QFile::remove(history::databasePath(kMstFile));
        QVERIFY(endsProgram([] { history::openDatabase(kMstFile); }));
        QVERIFY(h->messages().last().text.contains("basAccess_MDBOpen"));
        QVERIFY(!QFileInfo::exists(history::databasePath(kMstFile))); // no empty master left behind

        QFile junk(history::databasePath(kDatFile));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
        QVERIFY(!history::isOpen(DbConnection::History));
    }

    // Damaged pages behind a readable catalogue: the open reports the file by
    // name before anything (the start empties the staging right after it)
    // writes to it.
    void damagedHistoryIsReportedBeforeAnyWrite()
    {
        SQLITE_FILE_ONLY();
        openWithRows(2000);
        {
            QSqlDatabase db = history::database(DbConnection::History);
            db.transaction();
            for (int i = 0; i < 20; ++i)
                addHistoryRow("0000", "2024/06/01", "08:00:00", "500円", "普通車", "a", "b", "ETC_TEMP");
            db.commit();
        }
        const int pageSize = column("PRAGMA page_size").value(0).toInt();
        history::closeDatabase(kDatFile);

        const QString path = history::databasePath(kDatFile);
        // A clean end stamps the file; a start that finds it as stamped reads
        // no more than its header (and takes the stamp away while it runs).
        QVERIFY(QFile::exists(path + "-closed"));
        history::openDatabase(kDatFile);
        QVERIFY(!QFile::exists(path + "-closed"));
        history::closeDatabase(kDatFile);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const int pages = int(bytes.size() / pageSize);
        QVERIFY(pages > 20);
        for (int page = pages / 2; page < pages / 2 + 4; ++page) // pages are numbered from 1; page 1 stays
            bytes.replace(qsizetype(page) * pageSize, 64, QByteArray(64, '\xA5'));
        QVERIFY(file.seek(0));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();

        QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
        const QString report = h->messages().last().text;
        QVERIFY2(report.contains(path) && report.contains("basAccess_MDBOpen"), qPrintable(report));
        QVERIFY(!history::isOpen(DbConnection::History));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == bytes);
    }

    // After a clean end the start reads no more than the file's header: a
    // full check of the same day vouches for it, one of an earlier day is
    // repeated in the background. A file damaged since with its size and
    // modification time kept shows in its change time and is checked, and
    // reported, at the start. A damage that shows nowhere (the disk's own)
    // behind an earlier day's stamp opens; but nothing is written to it,
    // writes are refused naming the damage, and no new clean-end stamp
    // vouches for it: the next start checks it in full and reports it.
    void damageBehindACleanEndIsFoundBeforeAnyWrite()
    {
        SQLITE_FILE_ONLY();
        openWithRows(3000);
        historyExec("UPDATE ETC_DATA SET ROW_UID=lower(hex(randomblob(16)))"); // as the program stores rows
        const int pageSize = column("PRAGMA page_size").value(0).toInt();
        // An index the start itself never reads.
        const int page = column("SELECT rootpage FROM sqlite_master WHERE name='ETC_DATA_DATE_TIME'").value(0).toInt();
        history::closeDatabase(kDatFile);
        const QString path = history::databasePath(kDatFile);
        QVERIFY(QFile::exists(path + "-closed"));
        history::openDatabase(kDatFile);
        QVERIFY(history::checkedSound() && !history::checkRunning()); // checked today
        history::closeDatabase(kDatFile);
        history::stampCleanEnd(path, seams::now().date().addDays(-1));
        history::openDatabase(kDatFile);
        history::requireSoundHistory(); // checked again in full
        history::closeDatabase(kDatFile);
        QVERIFY(fileHash(path + "-closed").isEmpty() == false);
        {
            QFile stamp(path + "-closed");
            QVERIFY(stamp.open(QIODevice::ReadOnly));
            QVERIFY(stamp.readAll().trimmed().endsWith(seams::now().date().toString(Qt::ISODate).toLatin1()));
        }
        const auto modified = std::filesystem::last_write_time(path.toStdString());
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(qint64(page - 1) * pageSize + 8));
            file.write(QByteArray(64, '\xA5'));
        }
        std::filesystem::last_write_time(path.toStdString(), modified);
        const QByteArray damaged = fileHash(path);
        QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
        QVERIFY(h->messages().last().text.contains(path));
        QCOMPARE(fileHash(path), damaged);
        // (The check's read-only connection leaves an empty log and its index.)
        QCOMPARE(QFileInfo(path + "-wal").size(), 0);
        QVERIFY(QFile::remove(path + "-wal") && QFile::remove(path + "-shm"));

        history::stampCleanEnd(path, seams::now().date().addDays(-1));
        const int before = h->messages().size();
        history::openDatabase(kDatFile);
        QVERIFY(history::isOpen(DbConnection::History));
        QCOMPARE(h->messages().size(), before);
        const QString refused = app::expectedFailureOf([] { history::requireSoundHistory(); });
        QVERIFY2(refused.contains(QStringLiteral("壊れています")) && refused.contains(QDir::toNativeSeparators(path)),
                 qPrintable(refused));
        QCOMPARE(app::expectedFailureOf([] { history::runStatement("DELETE * FROM ETC_DATA WHERE カードNO='1234';"); }),
                 refused);
        QCOMPARE(app::expectedFailureOf([] { history::stageRecords({CardRecord{}, CardRecord{}}, {}); }), refused);
        history::closeDatabase(kDatFile);
        QVERIFY(!QFile::exists(path + "-closed"));
        QCOMPARE(fileHash(path), damaged);
        QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
        QVERIFY(h->messages().last().text.contains(path));
    }

    // Reading never waits for a writer: while a long import holds the
    // file's write lock, an export opens the history and reads it, and a
    // window starting beside it opens too; the read leaves the clean-end
    // stamp as it was.
    void readsDoNotWaitForTheWriteLock()
    {
        SQLITE_FILE_ONLY();
        openDatabases(*h);
        addHistoryRow("1234", "2024/05/01", "13:45:00", "1200円");
        historyExec("UPDATE ETC_DATA SET ROW_UID='1'");
        closeDatabases();
        const QString path = history::databasePath(kDatFile);
        const QByteArray stamp = fileHash(path + "-closed");
        QVERIFY(!stamp.isEmpty());
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            writer.setDatabaseName(path);
            QVERIFY(writer.open());
            QSqlQuery w(writer);
            QVERIFY(w.exec("BEGIN IMMEDIATE"));
            QVERIFY(w.exec("INSERT INTO ETC_DATA (カードNO) VALUES ('9999')"));
            QElapsedTimer took;
            took.start();
            history::openDatabase(kDatFile, history::HistoryAccess::ReadOnly);
            QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA"), QStringList{"1"});
            history::closeDatabase(kDatFile);
            QCOMPARE(fileHash(path + "-closed"), stamp);
            history::openDatabase(kDatFile);
            history::runStatement("DELETE * FROM ETC_TEMP;"); // the start empties an empty staging
            QVERIFY2(took.elapsed() < 3000, qPrintable(QString::number(took.elapsed())));
            QVERIFY(history::isOpen(DbConnection::History));
            QVERIFY(w.exec("ROLLBACK"));
            history::closeDatabase(kDatFile);
            writer.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
    }

    // A run that did not end (killed, power cut) leaves its write-ahead log
    // beside the file. A damaged file is reported with the file and its log
    // exactly as they were, also when the log's index cannot be made beside
    // them; a sound file opens with the rows of its log.
    void logLeftByAnUnfinishedRun()
    {
        SQLITE_FILE_ONLY();
        app::runSettings().programFolder = h->programFolder() + '/';
        const QString path = history::databasePath(kDatFile);
        const QString wal = path + QStringLiteral("-wal"), shm = path + QStringLiteral("-shm");
        // The files as a killed run leaves them: rows in the file, more rows
        // committed to the log only.
        auto unfinishedRun = [&](int fileRows, int logRows) {
            for (const QString &f : {path, wal, shm})
                QFile::remove(f);
            history::openDatabase(kDatFile);
            QSqlDatabase db = history::database(DbConnection::History);
            db.transaction();
            for (int i = 0; i < fileRows; ++i)
                addHistoryRow("1234", "2024/05/01", QStringLiteral("13:%1:00").arg(i % 60, 2, 10, QLatin1Char('0')), "1200円");
            db.commit();
            historyExec("PRAGMA wal_checkpoint(TRUNCATE)");
            historyExec("PRAGMA wal_autocheckpoint=0");
            for (int i = 0; i < logRows; ++i)
                addHistoryRow("5678", "2024/06/01", "08:00:00", "500円");
            QTemporaryDir crashed;
            QVERIFY(QFile::copy(path, crashed.filePath("db")) && QFile::copy(wal, crashed.filePath("wal")));
            history::closeDatabase(kDatFile);
            for (const QString &f : {path, wal, shm})
                QFile::remove(f);
            QVERIFY(QFile::copy(crashed.filePath("db"), path) && QFile::copy(crashed.filePath("wal"), wal));
        };
        auto hash = [](const QString &file) {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                               : QByteArray();
        };
        for (const bool shmBlocked : {false, true}) {
            unfinishedRun(2000, 3);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.size() > 3 * 4096);
            QVERIFY(file.seek(4096));
            file.write(QByteArray(file.size() - 4096, '\xA5'));
            file.close();
            if (shmBlocked) // the log's index cannot be made: a link into nowhere
                QVERIFY(QFile::link(h->programFolder() + "/missing/shm", shm));
            const QByteArray fileHash = hash(path), walHash = hash(wal);
            QVERIFY(!walHash.isEmpty());
            QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
            const QString report = h->messages().last().text;
            QVERIFY2(report.contains(path) && report.contains("basAccess_MDBOpen"), qPrintable(report));
            QVERIFY2(report.contains(QStringLiteral("壊れ")), qPrintable(report));
            QVERIFY(!history::isOpen(DbConnection::History));
            QCOMPARE(hash(path), fileHash);
            QCOMPARE(hash(wal), walHash);
        }

        unfinishedRun(5, 3);
        const int before = h->messages().size();
        history::openDatabase(kDatFile);
        QCOMPARE(h->messages().size(), before);
        QCOMPARE(rowCount("ETC_DATA"), 8);
        QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA WHERE CARD_ID='5678'"), QStringList{"3"});
    }

    void tableCheckAndStagingClear()
    {
        openDatabases(*h);
        QVERIFY(!history::hasRows(kTableData));
        addHistoryRow("1234", "2024/05/01", "13:45:00", "1200円");
        QVERIFY(history::hasRows(kTableData));

        addHistoryRow("0000", "2024/05/01", "13:45:00", "1200円", "普通車", "a", "b", "ETC_TEMP");
        history::runStatement(history::shownViewSql(testView, kTableTemp, "FORMAT"));
        QCOMPARE(rowCount("ETC_TEMP"), 0);
        QCOMPARE(rowCount("ETC_DATA"), 1);

        QVERIFY(endsProgram([] { history::runStatement("DELETE * FROM NO_SUCH_TABLE;"); }));
        QVERIFY(h->messages().last().text.contains("basAccess_MDBTBLOpen"));
    }

    void shownRowsAreSelectedAndDeleted()
    {
        openDatabases(*h);
        addHistoryRow("1234", "2024/01/01", "00:00:00", "100円");  // at the start of the range
        addHistoryRow("1234", "2024/01/31", "23:59:59", "200円");  // at its end
        addHistoryRow("1234", "2024/02/01", "00:00:00", "300円");  // one second after
        addHistoryRow("1234", "2023/12/31", "23:59:59", "400円");  // one second before
        addHistoryRow("5678", "2024/01/15", "12:00:00", "500円");
        addHistoryRow("1'1", "2024/01/15", "12:00:00", "600円");

        setCondition(2, "1234", "2024/01/01-00:00:00", "2024/01/31-23:59:59");
        QCOMPARE(cardsAndTimes(history::shownViewSql(testView, "ETC_DATA", "SELECT")),
                 (QStringList{"1234 2024/01/31-23:59:59", "1234 2024/01/01-00:00:00"}));
        setCondition(2, "0000", "2024/01/01-00:00:00", "2024/01/31-23:59:59");
        QCOMPARE(cardsAndTimes(history::shownViewSql(testView, "ETC_DATA", "SELECT")).size(), 4);

        // A card number with a quote is one value, not a piece of statement.
        setCondition(2, "' OR ''='");
        history::runStatement(history::shownViewSql(testView, "ETC_DATA", "DELETE"));
        QCOMPARE(rowCount("ETC_DATA"), 6);
        setCondition(2, "1'1");
        QCOMPARE(cardsAndTimes(history::shownViewSql(testView, "ETC_DATA", "SELECT")), QStringList{"1'1 2024/01/15-12:00:00"});
        history::runStatement(history::shownViewSql(testView, "ETC_DATA", "DELETE"));
        QCOMPARE(rowCount("ETC_DATA"), 5);

        setCondition(2, "1234", "2024/01/01-00:00:00", "2024/01/31-23:59:59");
        history::runStatement(history::shownViewSql(testView, "ETC_DATA", "DELETE"));
        QCOMPARE(column("SELECT 通行料金 FROM ETC_DATA ORDER BY 通行料金;"), (QStringList{"300円", "400円", "500円"}));

        setCondition(2, "0000");
        history::runStatement(history::shownViewSql(testView, "ETC_DATA", "DELETE"));
        QCOMPARE(rowCount("ETC_DATA"), 0);
    }

    void duplicatesAcrossCards()
    {
        openDatabases(*h);
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1300円"); // differs in the toll
        addHistoryRow("3333", "2024/03/02", "09:00:00", "800円");
        addHistoryRow("3333", "2024/03/02", "09:00:00", "800円");
        addHistoryRow("3333", "2024/03/02", "09:00:00", "800円");

        QCOMPARE(column(history::duplicatesSql(testView, "0000", "SELECT")),
                 (QStringList{"3333", "3333", "3333", "1111", "2222"}));

        history::runStatement(history::duplicatesSql(testView, "1111", "DELETE"));
        QCOMPARE(column("SELECT カードNO FROM ETC_DATA ORDER BY カードNO, 通行料金;"),
                 (QStringList{"1111", "2222", "3333", "3333", "3333"}));
        QCOMPARE(column(history::duplicatesSql(testView, "0000", "SELECT")), (QStringList{"3333", "3333", "3333"}));

        // Every copy of that passage belongs to 3333: one copy stays, so that
        // deleting duplicates never deletes the passage itself.
        history::runStatement(history::duplicatesSql(testView, "3333", "DELETE"));
        QCOMPARE(column("SELECT カードNO FROM ETC_DATA ORDER BY カードNO;"), (QStringList{"1111", "2222", "3333"}));
    }

    void duplicateRangeLimitsRowsNotGrouping()
    {
        openDatabases(*h);
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("1111", "2024/04/01", "08:00:00", "1200円");
        // Null in one of the six columns: never equal, so never a twin.
        historyExec("INSERT INTO ETC_DATA (カードNO,ご利用日,通過時間,通行料金,入口料金所,出口料金所,DATE_TIME) VALUES "
                    "('1111','2024/03/01','09:00:00','1円','a','b','2024/03/01-09:00:00'),"
                    "('2222','2024/03/01','09:00:00','1円','a','b','2024/03/01-09:00:00')");
        setCondition(2, "0000", "2024/03/01-00:00:00", "2024/03/01-23:59:59");
        QCOMPARE(column(history::duplicatesSql(testView, "0000", "SELECT")), (QStringList{"1111", "2222"}));
        history::runStatement(history::duplicatesSql(testView, "2222", "DELETE"));
        QCOMPARE(column("SELECT カードNO || ' ' || DATE_TIME FROM ETC_DATA ORDER BY DATE_TIME, カードNO;"),
                 (QStringList{"1111 2024/03/01-08:00:00", "1111 2024/03/01-09:00:00", "2222 2024/03/01-09:00:00",
                              "1111 2024/04/01-08:00:00"}));
    }

    void groupedFormMatchesCorrelatedForm()
    {
        SQLITE_FILE_ONLY();
        openDatabases(*h);
        QRandomGenerator rng(42);
        const QStringList tolls{"800円", "1200円", "未確定", "1200円"};
        for (int i = 0; i < 400; ++i) {
            const int day = 1 + int(rng.bounded(6));
            addHistoryRow(QString::number(1000 + rng.bounded(4)), QString("2024/03/%1").arg(day, 2, 10, QChar('0')),
                          QString("0%1:00:00").arg(rng.bounded(3)), tolls[rng.bounded(4)],
                          rng.bounded(2) ? "普通車" : "大型車", rng.bounded(2) ? "x" : "y", "z");
        }
        for (const bool range : {false, true}) {
            if (range)
                setCondition(2, "0000", "2024/03/02-00:00:00", "2024/03/04-01:00:00");
            const QString sql = history::duplicatesSql(testView, "0000", "SELECT");
            QStringList grouped;
            QSqlQuery q = history::execute(DbConnection::History, sql);
            while (q.next())
                grouped << q.value(0).toString() + QLatin1Char('|') + q.value(7).toString();
            q.finish();
            QVERIFY(grouped.size() > 20);
            QCOMPARE(grouped, literalRows(sql));
        }
    }
};

QTEST_GUILESS_MAIN(TestHistoryDb)
#include "tst_historydb.moc"
