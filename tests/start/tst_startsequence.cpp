// The start and end sequences against the databases: staging emptied,
// DB読込 after the history, both files closed at the end.

#include "app/RunSettings.h"
#include "../history/HistoryFixture.h"
#include "history/ShownRows.h"
#include "history/ViewCondition.h"
#include "history/GridLoad.h"
#include "start/Startup.h"
#include "ui/MainWindow.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QComboBox>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ui;
using namespace start;

class TestStartSequence : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<MainWindow> w;

    static int rowCount(const QString &table)
    {
        QSqlQuery q = history::execute(DbConnection::History, QStringLiteral("SELECT COUNT(*) FROM ") + table);
        q.next();
        return q.value(0).toInt();
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        w = std::make_unique<MainWindow>();
        app::runSettings().viewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        w.reset();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void startAndEndSequences()
    {
        app::runSettings().programFolder = h->programFolder() + '/';
        writeMasterDatabase(history::databasePath(kMstFile));
        // A history left from an earlier run: staging rows and one record.
        history::openDatabase(kDatFile);
        addHistoryRow("0000", "2024/05/01", "13:45:00", "1200円", "普通車", "a", "b", "ETC_TEMP");
        addHistoryRow("4321", "2024/05/01", "13:45:00", "1200円");
        history::closeDatabase(kDatFile);

        startSequence(*w);
        QVERIFY(history::isOpen(DbConnection::History) && history::isOpen(DbConnection::Master));
        QCOMPARE(rowCount("ETC_TEMP"), 0);
        QVERIFY(w->btnDBRead->isEnabled());
        QCOMPARE(w->lblCountValue->text(), QStringLiteral("0件"));

        QVERIFY(endsProgram([&] { endSequence(w.get()); }));
        QVERIFY(!history::isOpen(DbConnection::History) && !history::isOpen(DbConnection::Master));
        releaseSingleInstance();
    }

    void startWithEmptyHistoryLeavesDbReadOff()
    {
        app::runSettings().programFolder = h->programFolder() + '/';
        writeMasterDatabase(history::databasePath(kMstFile));
        startSequence(*w);
        QVERIFY(!w->btnDBRead->isEnabled());
        QVERIFY(QFileInfo::exists(h->programFolder() + "/ETC_DAT.sqlite"));
        releaseSingleInstance();
    }

    void startDoesNotWaitForTheServer()
    {
        // The shared history's server takes the connection and never answers:
        // the start is done at once (the window shows), DB読込 is offered,
        // and the status bar says that the server is being checked, then
        // that it cannot be reached.
        app::runSettings().programFolder = h->programFolder() + '/';
        writeMasterDatabase(history::databasePath(kMstFile));
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(::listen(silent, 4) == 0);
        QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        const QString ini = h->settingsFile();
        app::writeProfileString("DATABASE", "Driver", "PSQL", ini);
        app::writeProfileString("DATABASE", "Host", "127.0.0.1", ini);
        app::writeProfileString("DATABASE", "Port", QString::number(ntohs(address.sin_port)), ini);
        app::writeProfileString("DATABASE", "Name", "passlog", ini);
        app::writeProfileString("DATABASE", "User", "passlog", ini);
        QElapsedTimer t;
        t.start();
        startSequence(*w);
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(w->lblServerState->text(), QStringLiteral("共有サーバー: 接続を確認中…"));
        QVERIFY(w->btnDBRead->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(w->lblServerState->text(), QStringLiteral("共有サーバーに接続できません"), 10000);
        QVERIFY2(t.elapsed() < 8000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(endsProgram([&] { endSequence(w.get()); }));
        releaseSingleInstance();
        ::close(silent);
    }

    void statusBarFollowsALostConnection()
    {
        // Connected at the start (in the background), the connection then
        // lost under an operation that does not show the state itself (DB削除):
        // the status bar no longer says "接続中".
        if (qEnvironmentVariableIsEmpty("PASSLOG_PG_PORT"))
            QSKIP("no PostgreSQL cluster (scripts/test.sh starts one)");
        app::runSettings().programFolder = h->programFolder() + '/';
        writeMasterDatabase(history::databasePath(kMstFile));
        pointAtServer(*h);
        serverAdminExec("SET client_min_messages = warning; DROP TABLE IF EXISTS ETC_DATA, ETC_DELETED");
        initServer();
        serverAdminExec("INSERT INTO ETC_DATA (CARD_ID, \"カードNO\") VALUES ('4321', '4321')");
        startSequence(*w);
        QTRY_COMPARE_WITH_TIMEOUT(w->lblServerState->text(), QStringLiteral("共有サーバー: 接続中"), 10000);
        QTRY_COMPARE(w->cboCardSelect->count(), 2); // "0000" and the server's card
        serverAdminExec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name='PASSLOG' "
                        "AND pid<>pg_backend_pid()");
        QCOMPARE(asCommand([&] {
                     return history::deleteShown(app::Procedure::DeleteShownRows,
                                                 history::shownViewSql(w->view, kTableData, "DELETE"));
                 }),
                 qint64(0));
        QVERIFY(h->messages().last().text.contains(QStringLiteral("接続が切れました")));
        QCOMPARE(w->lblServerState->text(), QStringLiteral("共有サーバーに接続できません"));
        QVERIFY(endsProgram([&] { endSequence(w.get()); }));
        releaseSingleInstance();
        serverAdminExec("DROP TABLE ETC_DATA");
    }
};

QTEST_MAIN(TestStartSequence)
#include "tst_startsequence.moc"
