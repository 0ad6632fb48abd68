// Copies of the history file: consistent while another program writes, the
// daily copy made once a day and kept seven days, and a copy put back only
// when it is a sound history file, the former file kept first.

#include "HistoryFixture.h"
#include "app/ProgramState.h"
#include "history/HistoryBackup.h"
#include "history/HistoryCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlRecord>
#include <QtTest>

namespace {
// The rows of ETC_DATA in a history file, read on a connection of their own.
int rowsIn(const QString &file)
{
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM ETC_DATA")) && q.next())
                n = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copy"));
    return n;
}
} // namespace

class TestHistoryBackup : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    QString path;

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        app::state().programFolder = h->programFolder() + QLatin1Char('/');
        writeMasterDatabase(history::databasePath(kMstFile));
        history::openDatabase(kDatFile);
        for (int i = 0; i < 3; ++i)
            addHistoryRow("1234", "2024/05/01", QStringLiteral("13:45:0%1").arg(i), "1200円");
        path = history::databasePath(kDatFile);
    }
    void cleanup()
    {
        history::stopDailyBackup();
        history::closeDatabase(kDatFile);
        h.reset();
        app::state().programFolder.clear();
    }

    // A copy taken while another connection is in the middle of writing
    // holds what was committed; a copy is refused onto the history itself.
    void copyIsConsistentAndNeverOntoTheHistory()
    {
        SQLITE_FILE_ONLY();
        QSqlQuery writing(history::database(DbConnection::History));
        QVERIFY(writing.exec("BEGIN IMMEDIATE"));
        QVERIFY(writing.exec("INSERT INTO ETC_DATA (カードNO) VALUES ('9999')"));
        const QString copy = QDir(h->programFolder()).filePath("copy.sqlite");
        QCOMPARE(history::copyHistoryFile(path, copy), QString());
        QVERIFY(writing.exec("COMMIT"));
        QCOMPARE(rowsIn(copy), 3);
        QVERIFY(!QFileInfo::exists(copy + "-wal"));
        QVERIFY(history::copyHistoryFile(path, path).contains(QStringLiteral("利用履歴ファイルそのもの")));
        QVERIFY(history::copyHistoryFile(path, path + "-wal").contains(QStringLiteral("利用履歴ファイルそのもの")));
        QCOMPARE(rowsIn(path), 4);
    }

    // The first start of a day copies the history once; seven days are kept.
    void dailyCopiesOfSevenDays()
    {
        for (int day = 1; day <= 9; ++day) {
            const QString name = QStringLiteral("ETC_DAT-2026-12-%1.sqlite").arg(day, 2, 10, QLatin1Char('0'));
            history::startDailyBackup(path, QDate(2026, 12, day));
            QTRY_VERIFY(QFileInfo::exists(QDir(history::backupFolder(path)).filePath(name)));
            QTRY_VERIFY(history::backupFiles(path).size() <= 7);
            history::startDailyBackup(path, QDate(2026, 12, day)); // again the same day: nothing to do
        }
        history::stopDailyBackup();
        const QStringList copies = history::backupFiles(path);
        QCOMPARE(copies.size(), 7);
        QCOMPARE(QFileInfo(copies.first()).fileName(), QStringLiteral("ETC_DAT-2026-12-03.sqlite"));
        QCOMPARE(QFileInfo(copies.last()).fileName(), QStringLiteral("ETC_DAT-2026-12-09.sqlite"));
        QCOMPARE(rowsIn(copies.last()), 3);
    }

    // Put back: refused for a damaged file, a file of another program, the
    // history itself, and while the history is open elsewhere, each time
    // with the history as it was; a sound copy comes back, the former
    // history kept beside it first.
    void restoreOnlySoundHistories()
    {
        SQLITE_FILE_ONLY();
        const QString good = QDir(h->programFolder()).filePath("good.sqlite");
        QCOMPARE(history::copyHistoryFile(path, good), QString());
        addHistoryRow("5678", "2024/06/01", "08:00:00", "500円");
        history::closeDatabase(kDatFile);
        const QDateTime now(QDate(2026, 12, 7), QTime(9, 30, 0));

        const QString damaged = QDir(h->programFolder()).filePath("damaged.sqlite");
        QVERIFY(QFile::copy(good, damaged));
        {
            QFile f(damaged);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.size() > 3 * 4096);
            f.seek(2 * 4096);
            f.write(QByteArray(4096, '\xA5'));
        }
        const QString text = QDir(h->programFolder()).filePath("notes.sqlite");
        {
            QFile f(text);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a database\n");
        }
        const QString other = QDir(h->programFolder()).filePath("other.sqlite");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            db.setDatabaseName(other);
            QVERIFY(db.open());
            QSqlQuery(QStringLiteral("CREATE TABLE ETC_DATA (x)"), db);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        struct Refusal {
            QString file, says;
        };
        for (const Refusal &r : {Refusal{damaged, "壊れています"}, Refusal{text, "利用履歴ファイルではありません"},
                                 Refusal{other, "利用履歴ファイルではありません"}, Refusal{path, "そのもの"}}) {
            const QString why = history::restoreHistoryFile(r.file, path, now, nullptr);
            QVERIFY2(why.contains(r.says), qPrintable(why));
            QCOMPARE(rowsIn(path), 4);
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("importing"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("BEGIN IMMEDIATE") && q.exec("INSERT INTO ETC_DATA (カードNO) VALUES ('1')"));
            const QString why = history::restoreHistoryFile(good, path, now, nullptr);
            QVERIFY2(why.contains(QStringLiteral("使用中")), qPrintable(why));
            q.exec("ROLLBACK");
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("importing"));
        QCOMPARE(rowsIn(path), 4);

        QString kept;
        QCOMPARE(history::restoreHistoryFile(good, path, now, &kept), QString());
        QCOMPARE(rowsIn(path), 3);
        QCOMPARE(QFileInfo(kept).fileName(), QStringLiteral("ETC_DAT-before-restore-20261207-093000.sqlite"));
        QCOMPARE(rowsIn(kept), 4);
        QVERIFY(!QFileInfo::exists(path + "-closed")); // the next start checks it in full
        history::openDatabase(kDatFile);
        QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA"), QStringList{"3"});
    }
};

QTEST_MAIN(TestHistoryBackup)
#include "tst_historybackup.moc"
