// Copies of the history file: consistent while another program writes, the
// daily copy made once a day and kept seven days, and a copy put back only
// when it is a sound history file, the former file kept first.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/HistoryBackup.h"
#include "history/HistoryRestore.h"
#include "history/HistoryCheck.h"
#include "history/HistoryUse.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlRecord>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <thread>
#include <sys/stat.h>

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
        app::runSettings().programFolder = h->programFolder() + QLatin1Char('/');
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
        app::runSettings().programFolder.clear();
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
        QFile header(copy); // a file of its own: no write-ahead log in its header
        QVERIFY(header.open(QIODevice::ReadOnly));
        QCOMPARE(header.read(20).mid(18, 2), QByteArray("\x01\x01", 2));
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

    // A history file is data, never code: a file with a trigger or with a
    // view in the place of ETC_DATA is not put back (the history as it
    // was); another program's index is dropped on the way and named. A
    // history file that arrived by other means loses its triggers and
    // foreign indexes at the open, named to the user, and one whose table
    // is a view is refused.
    void historyFilesCarryNoCode()
    {
        SQLITE_FILE_ONLY();
        history::closeDatabase(kDatFile);
        const QDateTime now(QDate(2026, 12, 7), QTime(9, 30, 0));
        const auto variant = [&](const QString &name, const QStringList &sql) {
            const QString file = QDir(h->programFolder()).filePath(name);
            QFile::remove(file);
            if (!QFile::copy(path, file))
                qFatal("copy");
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("variant"));
            db.setDatabaseName(file);
            if (!db.open())
                qFatal("open");
            for (const QString &statement : sql) {
                QSqlQuery q(db);
                if (!q.exec(statement))
                    qFatal("%s", qPrintable(q.lastError().text()));
            }
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("variant"));
            return file;
        };
        const QString trigger = variant("trigger.sqlite", {"CREATE TRIGGER wipe AFTER INSERT ON ETC_DATA BEGIN "
                                                           "DELETE FROM ETC_DATA WHERE rowid<>NEW.rowid; END"});
        const QString view = variant("view.sqlite", {"ALTER TABLE ETC_DATA RENAME TO real_data",
                                                     "CREATE VIEW ETC_DATA AS SELECT * FROM real_data"});
        const QString index = variant("index.sqlite", {"CREATE INDEX their_card ON ETC_DATA (カードNO, PASS_DATE)"});
        for (const auto &[file, says] : {std::pair{trigger, QStringLiteral("トリガー wipe")},
                                         std::pair{view, QStringLiteral("ビュー ETC_DATA")}}) {
            const QString why = history::restoreHistoryFile(file, path, now, nullptr);
            QVERIFY2(why.contains(says) && why.contains(QStringLiteral("変更していません")), qPrintable(why));
            QCOMPARE(rowsIn(path), 3);
        }
        QStringList dropped;
        QCOMPARE(history::restoreHistoryFile(index, path, now, nullptr, {}, &dropped), QString());
        QCOMPARE(dropped, QStringList{QStringLiteral("索引 their_card")});
        history::openDatabase(kDatFile);
        QCOMPARE(column("SELECT COUNT(*) FROM sqlite_master WHERE name='their_card'"), QStringList{"0"});
        QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA"), QStringList{"3"});
        QVERIFY(history::takeSchemaNotices().isEmpty());
        history::closeDatabase(kDatFile);

        // Put in place by hand: the open drops the trigger and names it.
        QVERIFY(QFile::remove(path) && QFile::copy(trigger, path));
        QFile::remove(path + "-closed");
        history::openDatabase(kDatFile);
        const QStringList notices = history::takeSchemaNotices();
        QVERIFY2(notices.size() == 1 && notices[0].contains(QStringLiteral("トリガー wipe")), qPrintable(notices.join('\n')));
        addHistoryRow("5678", "2024/06/01", "08:00:00", "500円");
        QCOMPARE(column("SELECT COUNT(*) FROM ETC_DATA"), QStringList{"4"});
        history::closeDatabase(kDatFile);
        QVERIFY(QFile::remove(path) && QFile::copy(view, path));
        QFile::remove(path + "-closed");
        const QString refused = app::expectedFailureOf([] { history::openDatabase(kDatFile); });
        QVERIFY2(refused.contains(QStringLiteral("テーブルではありません")) && refused.contains("ETC_DATA"), qPrintable(refused));
        QVERIFY(!history::isOpen(DbConnection::History));
    }

    // The file put in place never has another file's log beside it: a log
    // left beside a missing history, or a stale empty one, is gone; a
    // history reached through a symbolic link is restored where the link
    // points, the link kept. A writer before the restore is waited for.
    void restorePutsOnlyItsOwnFileInPlace()
    {
        SQLITE_FILE_ONLY();
        const QString good = QDir(h->programFolder()).filePath("good.sqlite");
        QCOMPARE(history::copyHistoryFile(path, good), QString());
        history::closeDatabase(kDatFile);
        const QDateTime now(QDate(2026, 12, 7), QTime(9, 30, 0));
        const auto writeFile = [](const QString &file, const QByteArray &bytes) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        // A stale empty log of a read-only open.
        writeFile(path + "-wal", QByteArray());
        QCOMPARE(history::restoreHistoryFile(good, path, now, nullptr), QString());
        QVERIFY(!QFileInfo::exists(path + "-wal") && !QFileInfo::exists(path + "-shm"));
        // Logs of a file that is gone.
        QVERIFY(QFile::remove(path));
        writeFile(path + "-wal", QByteArray(8192, 'x'));
        writeFile(path + "-shm", QByteArray(32768, 'y'));
        QCOMPARE(history::restoreHistoryFile(good, path, now, nullptr), QString());
        QVERIFY(!QFileInfo::exists(path + "-wal") && !QFileInfo::exists(path + "-shm"));
        QCOMPARE(rowsIn(path), 3);

        // Through a link.
        const QString elsewhere = QDir(h->programFolder()).filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        const QString real = QDir(elsewhere).filePath("ETC_DAT.sqlite");
        QVERIFY(QFile::rename(path, real));
        QVERIFY(QFile::link(real, path));
        history::openDatabase(kDatFile);
        addHistoryRow("5678", "2024/06/01", "08:00:00", "500円");
        history::closeDatabase(kDatFile);
        QCOMPARE(history::restoreHistoryFile(good, path, now, nullptr), QString());
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(rowsIn(real), 3);

        // A user of the history before the restore: waited for.
        QString why;
        auto user = history::HistoryUse::take(path, history::HistoryUse::Mode::Shared, 0, &why);
        QVERIFY2(user, qPrintable(why));
        std::thread ends([&user] {
            QThread::msleep(700);
            user.reset();
        });
        QStringList told;
        QCOMPARE(history::restoreHistoryFile(good, path, now, nullptr, [&](const QString &t) { told << t; }), QString());
        ends.join();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(QStringLiteral("待っています")), qPrintable(told[0]));
        history::openDatabase(kDatFile);
    }

    // A backup folder that cannot be written is told, not passed over.
    void dailyCopyThatFailsIsTold()
    {
        QVERIFY(!QFileInfo::exists(history::backupFolder(path)));
        {
            QFile blocker(history::backupFolder(path)); // a file where the folder belongs
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        history::startDailyBackup(path, QDate(2026, 12, 1));
        QTRY_VERIFY(!history::dailyBackupFailure().isEmpty());
        QVERIFY2(history::dailyBackupFailure().contains(QStringLiteral("作成できません")), qPrintable(history::dailyBackupFailure()));
    }

    // What a tester found: a lock file that is a FIFO refuses at once (no
    // open that blocks for ever); a history reached through a link shares
    // the lock of its target; a table of deleted rows of another shape is
    // refused; a source swapped while the restore waits changes nothing of
    // what it puts in place; two restores in one second keep both former files.
    void restoreTrustsOnlyWhatItChecked()
    {
        SQLITE_FILE_ONLY();
        history::closeDatabase(kDatFile);
        const QDir dir(h->programFolder());
        const QDateTime now(QDate(2026, 12, 7), QTime(9, 30, 0));

        const QString lock = history::historyUseLockPath(path);
        QFile::remove(lock);
        QVERIFY(::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0);
        QString why;
        QVERIFY(!history::HistoryUse::take(path, history::HistoryUse::Mode::Shared, 0, &why));
        QVERIFY2(why.contains(QStringLiteral("通常のファイルではありません")), qPrintable(why));
        QVERIFY(QFile::remove(lock));

        const QString link = dir.filePath("link/ETC_DAT.sqlite");
        QVERIFY(QDir().mkpath(dir.filePath("link")) && QFile::link(path, link));
        QCOMPARE(history::historyUseLockPath(link), lock);

        const QString good = dir.filePath("good.sqlite");
        QCOMPARE(history::copyHistoryFile(path, good), QString());
        const QString shape = dir.filePath("shape.sqlite"), trigger = dir.filePath("trigger.sqlite");
        for (const auto &[file, sql] : {std::pair{shape, QStringLiteral("DROP TABLE ETC_DELETED; CREATE TABLE ETC_DELETED (x)")},
                                        std::pair{trigger, QStringLiteral("CREATE TRIGGER t AFTER INSERT ON ETC_DATA BEGIN "
                                                                          "DELETE FROM ETC_DATA; END")}}) {
            QVERIFY(QFile::copy(good, file));
            QProcess sqlite;
            sqlite.start("sqlite3", {file, sql});
            QVERIFY(sqlite.waitForFinished() && sqlite.exitCode() == 0);
        }
        why = history::restoreHistoryFile(shape, path, now, nullptr);
        QVERIFY2(why.contains("ETC_DELETED") && why.contains(QStringLiteral("変更していません")), qPrintable(why));

        // The source named by a link that is turned to another file while
        // the restore waits for a user of the history.
        const QString source = dir.filePath("source.sqlite");
        QVERIFY(QFile::link(good, source));
        auto user = history::HistoryUse::take(path, history::HistoryUse::Mode::Shared, 0, &why);
        QVERIFY(user);
        std::thread ends([&user] {
            QThread::msleep(500);
            user.reset();
        });
        why = history::restoreHistoryFile(source, path, now, nullptr, [&](const QString &) {
            QFile::remove(source);
            QFile::link(trigger, source);
        });
        ends.join();
        QVERIFY2(why.contains(QStringLiteral("トリガー t")), qPrintable(why));
        QCOMPARE(rowsIn(path), 3);

        QString first, second;
        QCOMPARE(history::restoreHistoryFile(good, path, now, &first), QString());
        QCOMPARE(history::restoreHistoryFile(good, path, now, &second), QString());
        QVERIFY(first != second && QFileInfo::exists(first) && QFileInfo::exists(second));
        history::openDatabase(kDatFile);
    }
};

QTEST_MAIN(TestHistoryBackup)
#include "tst_historybackup.moc"
