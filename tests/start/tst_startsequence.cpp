// The start and end sequences against the databases: staging emptied,
// DB読込 after the history, both files closed at the end.

#include "../history/HistoryFixture.h"
#include "history/ViewCondition.h"
#include "start/basMain.h"
#include "ui/frmMain.h"

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

class TestStartSequence : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<frmMain> w;

    static int rowCount(const QString &table)
    {
        QSqlQuery q = basAccess_Execute(DbConnection::History, QStringLiteral("SELECT COUNT(*) FROM ") + table);
        q.next();
        return q.value(0).toInt();
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        w = std::make_unique<frmMain>();
        basAccess_ResetViewCondition();
        ViewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        w.reset();
        h.reset();
        AppPath.clear();
    }

    void startAndEndSequences()
    {
        AppPath = h->programFolder() + '/';
        writeMasterDatabase(basAccess_FilePath(kMstFile));
        // A history left from an earlier run: staging rows and one record.
        basAccess_MDBOpen(kDatFile);
        addHistoryRow("0000", "2024/05/01", "13:45:00", "1200円", "普通車", "a", "b", "ETC_TEMP");
        addHistoryRow("4321", "2024/05/01", "13:45:00", "1200円");
        basAccess_MDBClose(kDatFile);

        basMain_ETCStart();
        QVERIFY(basAccess_IsOpen(DbConnection::History) && basAccess_IsOpen(DbConnection::Master));
        QCOMPARE(rowCount("ETC_TEMP"), 0);
        QVERIFY(w->btnDBRead->isEnabled());
        QCOMPARE(w->lblCountValue->text(), QStringLiteral("0件"));

        QVERIFY(endsProgram([] { basMain_ETCEnd(); }));
        QVERIFY(!basAccess_IsOpen(DbConnection::History) && !basAccess_IsOpen(DbConnection::Master));
        releaseSingleInstance();
    }

    void startWithEmptyHistoryLeavesDbReadOff()
    {
        AppPath = h->programFolder() + '/';
        writeMasterDatabase(basAccess_FilePath(kMstFile));
        basMain_ETCStart();
        QVERIFY(!w->btnDBRead->isEnabled());
        QVERIFY(QFileInfo::exists(h->programFolder() + "/ETC_DAT.sqlite"));
        releaseSingleInstance();
    }
};

QTEST_MAIN(TestStartSequence)
#include "tst_startsequence.moc"
