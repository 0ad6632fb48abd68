// Ranges in a time zone with daylight saving. Europe/Berlin skips from 02:00
// to 03:00 on 2024/03/31; a range picked at 02:30 that day must still mean
// 02:30, in the statement text, in the order of its ends and in the staging,
// exactly as in Japan, which has no such gap.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/ViewCondition.h"
#include "history/Staging.h"

#include <QTimeZone>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
const QDate kSpringForward(2024, 3, 31);

ViewSelection rangeFrom0230To0310()
{
    ViewSelection v;
    v.SelectMode = 1;
    v.Range = {kSpringForward, QTime(2, 30, 0), kSpringForward, QTime(3, 10, 0)};
    return v;
}

CardRecord passageAt(const QTime &time)
{
    CardRecord r;
    r.JID_IN = 69;
    r.ITC_IN = QStringLiteral("01001");
    r.JID_OUT = 102;
    r.ITC_OUT = QStringLiteral("01005");
    r.PASS_DATE = kSpringForward.toString(QStringLiteral("yyyy/MM/dd"));
    r.PASS_TIME = time.toString(QStringLiteral("HH:mm:ss"));
    r.CAR_CODE = 1;
    r.PASS_MONEY = 1200;
    r.PASS_UNIT = QStringLiteral("円");
    return r;
}
} // namespace

class TestTimeZone : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The trap this guards against: local time has no 02:30 that day.
        const QDateTime local(kSpringForward, QTime(2, 30, 0));
        if (QTimeZone::systemTimeZoneId() != "Europe/Berlin")
            QSKIP("the Europe/Berlin time zone is not installed");
        QVERIFY(local.time() != QTime(2, 30, 0) || !local.isValid());
    }

    void statementKeepsThePickedTimes()
    {
        TestHarness h;
        app::runSettings().viewSort = QStringLiteral("NEW");
        const QString sql = history::viewStatement(QStringLiteral("ETC_DATA"), testView = history::viewQuery(2, rangeFrom0230To0310()));
        QCOMPARE(sql, QStringLiteral("SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME "
                                     "FROM ETC_DATA WHERE '2024/03/31-02:30:00'<=DATE_TIME AND "
                                     "DATE_TIME<='2024/03/31-03:10:00' ORDER BY カードNO ASC,ご利用日 DESC,"
                                     "通過時間 DESC,入口料金所 ASC,出口料金所 ASC;"));
        QCOMPARE(testView.start, QStringLiteral("2024/03/31-02:30:00"));
    }

    void rangeOrderIgnoresTheGap()
    {
        // Through local time 02:30 would become 03:30 and lie after 03:10.
        const DateTimeRange range = rangeFrom0230To0310().Range;
        QVERIFY(!range.isReversed());
        QVERIFY(range.contains(kSpringForward, QTime(2, 45, 0)));
        QVERIFY(!range.contains(kSpringForward, QTime(3, 11, 0)));
    }

    void stagingKeepsPassagesInTheGap()
    {
        TestHarness h;
        openDatabases(h);
        const QList<CardRecord> records{CardRecord{}, passageAt(QTime(2, 29, 58)), passageAt(QTime(2, 30, 0)),
                                        passageAt(QTime(2, 58, 0)), passageAt(QTime(3, 12, 0))};
        history::stageRecords(records, history::stagingCondition(rangeFrom0230To0310()));
        QCOMPARE(column("SELECT PASS_TIME FROM ETC_TEMP ORDER BY rowid"), (QStringList{"02:30:00", "02:58:00"}));
        closeDatabases();
    }
};

int main(int argc, char **argv)
{
    qputenv("TZ", "Europe/Berlin");
    QCoreApplication app(argc, argv);
    TestTimeZone test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_timezone.moc"
