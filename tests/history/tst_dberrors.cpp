// The database engine's common failures reach the user in Japanese, followed
// by the engine's own text and the full path of the file, in the usual form of
// the error report. Each failure is produced for real by SQLite.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "app/Failure.h"
#include "history/Registration.h"

#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include <cstdio>
#include <unistd.h>

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
        app::runSettings().programFolder.clear();
    }

    void fileThatCannotBeOpened()
    {
        // The data folder is a file: no database can be created in it.
        const QString notAFolder = QDir(h->programFolder()).filePath(QStringLiteral("plain-file"));
        QFile f(notAFolder);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        app::runSettings().programFolder = notAFolder + QLatin1Char('/');
        QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
        QVERIFY2(reads(lastReport(), QStringLiteral("データベースファイルを開けません。フォルダーとファイルの場所とアクセス権を確認してください。"),
                       QStringLiteral("unable to open database file"), notAFolder + QStringLiteral("/ETC_DAT.sqlite"),
                       QStringLiteral(" (14: basAccess_MDBOpen)")),
                 qPrintable(lastReport()));
        QCOMPARE(h->messages().last().icon, seams::MsgIcon::Critical);
    }

    void fileThatIsNotADatabase()
    {
        app::runSettings().programFolder = h->programFolder() + QLatin1Char('/');
        const QString path = history::databasePath(kDatFile);
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'x'));
        junk.close();
        QVERIFY(endsProgram([] { history::openDatabase(kDatFile); }));
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
        const QString path = history::databasePath(kDatFile);
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other_program"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(endsProgram([] { history::runStatement(QStringLiteral("DELETE * FROM ETC_TEMP;")); }));
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
        QCOMPARE(asCommand([] { return history::registerStaged(QStringLiteral("1234")); }), qint64(0));
        QVERIFY2(lastReport().contains(QStringLiteral("ディスクの空き容量が不足しているため、データベースファイルに書き込めません。")) &&
                     lastReport().contains(QStringLiteral("database or disk is full")) &&
                     lastReport().contains(history::databasePath(kDatFile)),
                 qPrintable(lastReport()));
    }

    // The masters are opened read-only: a write names the master file.
    void readOnlyFile()
    {
        openDatabases(*h);
        try {
            history::execute(DbConnection::Master, QStringLiteral("DELETE * FROM VERSION;"));
            QFAIL("the master database took a write");
        } catch (const Failure &f) {
            QCOMPARE(f.number() & 0xff, 8L);
            QVERIFY2(f.description().startsWith(QStringLiteral("データベースファイルは読み取り専用のため、書き込めません。 ")) &&
                         f.description().contains(QStringLiteral("readonly database")) &&
                         f.description().endsWith(QStringLiteral("[") + history::databasePath(kMstFile) + QStringLiteral("]")),
                     qPrintable(f.description()));
        }
    }

    // Another user's program has the history open: the log's index file
    // (-shm) is theirs and not writable for this user, while the history
    // file is. A write names the index file and what to do, not the history
    // file as read-only. (This user is "nobody", in a process of its own:
    // SQLite shares the index file among the connections of one process.)
    void leftoverReadOnlyIndexFile()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        openDatabases(*h);
        closeDatabases();
        const QString path = history::databasePath(kDatFile);
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other_program"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec(QStringLiteral("PRAGMA journal_mode=WAL")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO ETC_TEMP (CARD_ID) VALUES ('0000')")));
        QVERIFY(QFileInfo::exists(path + QStringLiteral("-shm")));
        const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                         QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QVERIFY(QFile(h->programFolder()).setPermissions(all | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                                         QFileDevice::ExeOther));
        for (const QString &name : QDir(h->programFolder()).entryList(QDir::Files))
            QFile(QDir(h->programFolder()).filePath(name)).setPermissions(all);
        QVERIFY(QFile(path + QStringLiteral("-shm"))
                    .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                    QFileDevice::ReadOther));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PASSLOG_OTHER_USER_FOLDER"), h->programFolder());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral("runuser"), {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                                QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForFinished(60000));
        const QString report = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        q = QSqlQuery();
        other.close();
        QVERIFY2(report.contains(QStringLiteral("作業用ファイル '") + path + QStringLiteral("-shm' が読み取り専用")) &&
                     report.contains(QStringLiteral("readonly database")) &&
                     !report.contains(QStringLiteral("データベースファイルは読み取り専用")),
                 qPrintable(report + QString::fromUtf8(child.readAllStandardError())));
    }

    // Failures of the statement itself stay as the engine says them.
    void otherFailuresAreUnchanged()
    {
        openDatabases(*h);
        try {
            history::execute(DbConnection::History, QStringLiteral("SELECT * FROM NO_SUCH_TABLE;"));
            QFAIL("a missing table was found");
        } catch (const Failure &f) {
            QCOMPARE(f.description(), QStringLiteral("no such table: NO_SUCH_TABLE"));
        }
    }
};

// The other user of leftoverReadOnlyIndexFile: opens the history in the
// folder given and deletes the staging, printing what the user is told.
static int otherUser(const QString &folder)
{
    TestHarness h;
    app::runSettings().programFolder = folder + QLatin1Char('/');
    try {
        history::openDatabase(kDatFile);
        history::execute(DbConnection::History, QStringLiteral("DELETE * FROM ETC_TEMP;"));
        std::puts("written");
    } catch (const Failure &f) {
        std::puts(qPrintable(f.description()));
    } catch (const seams::ProgramEnded &) {
        std::puts(qPrintable(h.messages().isEmpty() ? QString() : h.messages().last().text));
    }
    history::closeDatabase(kDatFile);
    return 0;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("PASSLOG_OTHER_USER_FOLDER")) {
        QCoreApplication app(argc, argv);
        return otherUser(qEnvironmentVariable("PASSLOG_OTHER_USER_FOLDER"));
    }
    QGuiApplication app(argc, argv);
    TestDatabaseErrors test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_dberrors.moc"
