// The database engine's common failures reach the user in Japanese, followed
// by the engine's own text and the full path of the file, in the usual form of
// the error report. Each failure is produced for real by SQLite.

#include "HistoryFixture.h"
#include "app/Failure.h"
#include "history/basAccessEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class TestDatabaseErrors : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHarness> h;

    QString lastReport() const { return h->messages().isEmpty() ? QString() : h->messages().last().text; }

    // The report: sentence, the engine's text, the file, then (number: procedure).
    static bool reads(const QString &report, const QString &sentence, const QString &engine, const QString &path,
                      const QString &tail)
    {
        return report.startsWith(sentence + QLatin1Char(' ')) && report.contains(engine) &&
               report.contains(QStringLiteral("[") + path + QStringLiteral("]")) && report.endsWith(tail);
    }

private slots:
    void init() { h = std::make_unique<TestHarness>(); }
    void cleanup()
    {
        closeDatabases();
        QSqlDatabase::removeDatabase(QStringLiteral("other_program"));
        h.reset();
        AppPath.clear();
    }

    void fileThatCannotBeOpened()
    {
        // The data folder is a file: no database can be created in it.
        const QString notAFolder = QDir(h->programFolder()).filePath(QStringLiteral("plain-file"));
        QFile f(notAFolder);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        AppPath = notAFolder + QLatin1Char('/');
        QVERIFY(endsProgram([] { basAccess_MDBOpen(kDatFile); }));
        QVERIFY2(reads(lastReport(), QStringLiteral("データベースファイルを開けません。フォルダーとファイルの場所とアクセス権を確認してください。"),
                       QStringLiteral("unable to open database file"), notAFolder + QStringLiteral("/ETC_DAT.sqlite"),
                       QStringLiteral(" (14: basAccess_MDBOpen)")),
                 qPrintable(lastReport()));
        QCOMPARE(h->messages().last().icon, seams::MsgIcon::Critical);
    }

    void fileThatIsNotADatabase()
    {
        AppPath = h->programFolder() + QLatin1Char('/');
        const QString path = basAccess_FilePath(kDatFile);
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'x'));
        junk.close();
        QVERIFY(endsProgram([] { basAccess_MDBOpen(kDatFile); }));
        QVERIFY2(reads(lastReport(), QStringLiteral("データベースファイルが壊れているか、データベースファイルではありません。"),
                       QStringLiteral("file is not a database"), path, QStringLiteral(" (26: basAccess_MDBOpen)")),
                 qPrintable(lastReport()));
    }

    // Another program holds the history file's write lock: after the wait the
    // delete gives up and says so.
    void fileInUseByAnotherProgram()
    {
        openDatabases(*h);
        addHistoryRow(QStringLiteral("0000"), QStringLiteral("2024/06/01"), QStringLiteral("08:00:00"),
                      QStringLiteral("500円"), QStringLiteral("普通車"), QStringLiteral("a"), QStringLiteral("b"),
                      QStringLiteral("ETC_TEMP")); // something to delete
        const QString path = basAccess_FilePath(kDatFile);
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other_program"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(endsProgram([] { basAccess_MDBTBLOpen(QStringLiteral("DELETE * FROM ETC_TEMP;")); }));
        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
        other.close();
        QVERIFY2(reads(lastReport(), QStringLiteral("データベースファイルは他のプログラムが使用中です。他のプログラムを終了してから、やり直してください。"),
                       QStringLiteral("database is locked"), path, QStringLiteral(" (5: basAccess_MDBTBLOpen)")),
                 qPrintable(lastReport()));
    }

    // The file may grow no further (as on a full disk): the registration's
    // copy fails and names the history file, though no statement did.
    void diskFull()
    {
        openDatabases(*h);
        for (int i = 0; i < 50; ++i)
            addHistoryRow(QStringLiteral("0000"), QStringLiteral("2024/06/01"), QStringLiteral("08:00:00"),
                          QStringLiteral("500円"), QStringLiteral("普通車"), QString(200, QChar(u'東')),
                          QString(200, QChar(u'西')), QStringLiteral("ETC_TEMP"));
        const QString pages = column(QStringLiteral("PRAGMA page_count")).value(0);
        historyExec(QStringLiteral("PRAGMA max_page_count = ") + pages);
        // A refused registration does not end the program: the card read stays staged.
        QCOMPARE(basAccess_MDBTBLEntry(QStringLiteral("1234")), qint64(0));
        QVERIFY2(lastReport().contains(QStringLiteral("ディスクの空き容量が不足しているため、データベースファイルに書き込めません。")) &&
                     lastReport().contains(QStringLiteral("database or disk is full")) &&
                     lastReport().contains(basAccess_FilePath(kDatFile)),
                 qPrintable(lastReport()));
    }

    // The masters are opened read-only: a write names the master file.
    void readOnlyFile()
    {
        openDatabases(*h);
        try {
            basAccess_Execute(DbConnection::Master, QStringLiteral("DELETE * FROM VERSION;"));
            QFAIL("the master database took a write");
        } catch (const Failure &f) {
            QCOMPARE(f.number() & 0xff, 8L);
            QVERIFY2(f.description().startsWith(QStringLiteral("データベースファイルは読み取り専用のため、書き込めません。 ")) &&
                         f.description().contains(QStringLiteral("readonly database")) &&
                         f.description().endsWith(QStringLiteral("[") + basAccess_FilePath(kMstFile) + QStringLiteral("]")),
                     qPrintable(f.description()));
        }
    }

    // Failures of the statement itself stay as the engine says them.
    void otherFailuresAreUnchanged()
    {
        openDatabases(*h);
        try {
            basAccess_Execute(DbConnection::History, QStringLiteral("SELECT * FROM NO_SUCH_TABLE;"));
            QFAIL("a missing table was found");
        } catch (const Failure &f) {
            QCOMPARE(f.description(), QStringLiteral("no such table: NO_SUCH_TABLE"));
        }
    }
};

QTEST_MAIN(TestDatabaseErrors)
#include "tst_dberrors.moc"
