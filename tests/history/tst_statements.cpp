// Statement texts of the three builders, character for character, and the
// translation of the program's own dialect into SQLite.

#include "app/RunSettings.h"
#include "TestHarness.h"
#include "app/Constants.h"
#include "history/SqlDialect.h"
#include "history/ViewCondition.h"

#include <QTest>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

namespace {
const QString kRangeStart = QStringLiteral("2024/01/01-00:00:00");
const QString kRangeEnd = QStringLiteral("2024/01/31-23:59:59");
const QString kRepeatHead = QStringLiteral(
    "カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA WHERE ご利用日 IN (SELECT "
    "ご利用日 FROM ETC_DATA As Tmp GROUP BY ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 HAVING COUNT(*)>1 "
    "AND 通過時間 = ETC_DATA.通過時間 AND 通行料金 = ETC_DATA.通行料金 AND 車種 = ETC_DATA.車種 AND 入口料金所 = "
    "ETC_DATA.入口料金所 AND 出口料金所 = ETC_DATA.出口料金所) ");
} // namespace

class TestStatements : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

    // The conditions of a window in typed entry with the January range.
    static ViewSelection selection(bool range, const QString &typedCard)
    {
        ViewSelection v;
        v.SelectMode = range ? 1 : 0;
        v.Range = {QDate(2024, 1, 1), QTime(0, 0, 0), QDate(2024, 1, 31), QTime(23, 59, 59)};
        v.CardNoMode = 0;
        v.TypedCardNo = typedCard;
        return v;
    }

    static void setCondition(qint16 viewMode, bool range, const QString &card)
    {
        testView.viewType = viewMode;
        testView.ranged = range;
        testView.cardNo = card;
        testView.start = range ? kRangeStart : QString();
        testView.end = range ? kRangeEnd : QString();
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
        h.reset();
    }

    void readStatement_data()
    {
        QTest::addColumn<qint16>("viewType");
        QTest::addColumn<bool>("range");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("sort");
        QTest::addColumn<QString>("expected");
        QTest::newRow("history, range, card 1234, OLD")
            << qint16(2) << true << "1234" << "OLD"
            << "SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA WHERE "
               "'2024/01/01-00:00:00'<=DATE_TIME AND DATE_TIME<='2024/01/31-23:59:59' AND カードNO='1234' ORDER BY "
               "カードNO ASC,ご利用日 ASC,通過時間 ASC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("staging, all, NEW")
            << qint16(1) << false << "" << "NEW"
            << "SELECT ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_TEMP ORDER BY ご利用日 "
               "DESC,通過時間 DESC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("history, all cards, all records: no WHERE")
            << qint16(2) << false << "" << "NEW"
            << "SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA ORDER BY "
               "カードNO ASC,ご利用日 DESC,通過時間 DESC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("hand-edited sort: no date terms")
            << qint16(2) << false << "" << "new"
            << "SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA ORDER BY "
               "カードNO ASC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("staging ignores the card number")
            << qint16(1) << true << "1234" << "OLD"
            << "SELECT ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_TEMP WHERE "
               "'2024/01/01-00:00:00'<=DATE_TIME AND DATE_TIME<='2024/01/31-23:59:59' ORDER BY ご利用日 ASC,通過時間 "
               "ASC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("quote in a typed card number is doubled")
            << qint16(2) << false << "1'2" << "NEW"
            << "SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA WHERE "
               "カードNO='1''2' ORDER BY カードNO ASC,ご利用日 DESC,通過時間 DESC,入口料金所 ASC,出口料金所 ASC;";
    }
    void readStatement()
    {
        QFETCH(qint16, viewType);
        QFETCH(bool, range);
        QFETCH(QString, card);
        QFETCH(QString, sort);
        QFETCH(QString, expected);
        app::runSettings().viewSort = sort;
        QCOMPARE(history::viewStatement(viewType == 1 ? "ETC_TEMP" : "ETC_DATA", (testView = history::viewQuery(viewType, selection(range, card)))), expected);
    }

    void conditionsMakeTheView()
    {
        testView = history::viewQuery(2, selection(true, QStringLiteral("1234")));
        QCOMPARE(testView.viewType, qint16(2));
        QVERIFY(testView.ranged);
        QCOMPARE(testView.cardNo, QStringLiteral("1234"));
        QCOMPARE(testView.start, kRangeStart);
        QCOMPARE(testView.end, kRangeEnd);

        testView = history::viewQuery(1, selection(false, QStringLiteral("1234")));
        QCOMPARE(testView.viewType, qint16(1));
        QVERIFY(!testView.ranged);
        QCOMPARE(testView.cardNo, QStringLiteral("0000"));
        QVERIFY(testView.start.isEmpty() && testView.end.isEmpty());

        // No range option checked: no range, whatever the view before had;
        // the statement and the view name the same rows.
        ViewSelection none = selection(true, QStringLiteral("1234"));
        none.SelectMode = -1;
        testView = history::viewQuery(2, none);
        QVERIFY(!testView.ranged);
        QVERIFY(!history::viewStatement("ETC_DATA", testView).contains("DATE_TIME<="));
        QVERIFY(!history::shownViewSql(testView, "ETC_DATA", "SELECT").contains("DATE_TIME<="));
    }

    void shownStatement_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<qint16>("viewMode");
        QTest::addColumn<bool>("range");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("sort");
        QTest::addColumn<QString>("expected");
        QTest::newRow("staging clear ignores the view")
            << "ETC_TEMP" << "FORMAT" << qint16(2) << true << "1234" << "NEW" << "DELETE * FROM ETC_TEMP;";
        QTest::newRow("delete card 1234 in a range")
            << "ETC_DATA" << "DELETE" << qint16(2) << true << "1234" << "NEW"
            << "DELETE * FROM ETC_DATA WHERE '2024/01/01-00:00:00'<=DATE_TIME AND DATE_TIME<='2024/01/31-23:59:59' "
               "AND カードNO='1234';";
        QTest::newRow("delete everything") << "ETC_DATA" << "DELETE" << qint16(2) << false << "0000" << "NEW"
                                           << "DELETE * FROM ETC_DATA;";
        QTest::newRow("select history card, NEW")
            << "ETC_DATA" << "SELECT" << qint16(2) << false << "1234" << "NEW"
            << "SELECT * FROM ETC_DATA WHERE カードNO='1234' ORDER BY カードNO ASC, ご利用日 DESC,通過時間 "
               "DESC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("select history, other sort")
            << "ETC_DATA" << "SELECT" << qint16(2) << false << "0000" << "X"
            << "SELECT * FROM ETC_DATA ORDER BY カードNO ASC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("select staging, NEW")
            << "ETC_TEMP" << "SELECT" << qint16(1) << false << "0000" << "NEW"
            << "SELECT * FROM ETC_TEMP ORDER BY ご利用日 DESC,通過時間 DESC,入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("select staging, other sort keeps one blank")
            << "ETC_TEMP" << "SELECT" << qint16(1) << false << "0000" << ""
            << "SELECT * FROM ETC_TEMP ORDER BY 入口料金所 ASC,出口料金所 ASC;";
        QTest::newRow("quoted card") << "ETC_DATA" << "DELETE" << qint16(2) << false << "' OR ''='" << "NEW"
                                     << "DELETE * FROM ETC_DATA WHERE カードNO=''' OR ''''=''';";
    }
    void shownStatement()
    {
        QFETCH(QString, table);
        QFETCH(QString, mode);
        QFETCH(qint16, viewMode);
        QFETCH(bool, range);
        QFETCH(QString, card);
        QFETCH(QString, sort);
        QFETCH(QString, expected);
        setCondition(viewMode, range, card);
        app::runSettings().viewSort = sort;
        QCOMPARE(history::shownViewSql(testView, table, mode), expected);
    }

    void repeatStatement_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("range");
        QTest::addColumn<QString>("sort");
        QTest::addColumn<QString>("expected");
        QTest::newRow("select, NEW")
            << "SELECT" << "0000" << false << "NEW"
            << "SELECT " + kRepeatHead +
                   "ORDER BY ご利用日 DESC,通過時間 DESC,通行料金 ASC,車種 ASC,入口料金所 ASC,出口料金所 ASC,カードNO ASC;";
        QTest::newRow("select, range, OLD")
            << "SELECT" << "0000" << true << "OLD"
            << "SELECT " + kRepeatHead +
                   "AND '2024/01/01-00:00:00'<=DATE_TIME AND DATE_TIME<='2024/01/31-23:59:59' ORDER BY ご利用日 "
                   "ASC,通過時間 ASC,通行料金 ASC,車種 ASC,入口料金所 ASC,出口料金所 ASC,カードNO ASC;";
        QTest::newRow("select, other sort")
            << "SELECT" << "0000" << false << "?"
            << "SELECT " + kRepeatHead + "ORDER BY 通行料金 ASC,車種 ASC,入口料金所 ASC,出口料金所 ASC,カードNO ASC;";
        QTest::newRow("delete card 1111") << "DELETE" << "1111" << false << "NEW"
                                          << "DELETE " + kRepeatHead + "AND カードNO='1111';";
        QTest::newRow("delete, quoted card") << "DELETE" << "a'b" << false << "NEW"
                                             << "DELETE " + kRepeatHead + "AND カードNO='a''b';";
    }
    void repeatStatement()
    {
        QFETCH(QString, mode);
        QFETCH(QString, card);
        QFETCH(bool, range);
        QFETCH(QString, sort);
        QFETCH(QString, expected);
        setCondition(2, range, QStringLiteral("9999"));
        app::runSettings().viewSort = sort;
        QCOMPARE(history::duplicatesSql(testView, card, mode), expected);
    }

    void translation_data()
    {
        QTest::addColumn<QString>("jet");
        QTest::addColumn<QString>("sqlite");
        QTest::newRow("delete star") << "DELETE * FROM ETC_TEMP;" << "DELETE FROM ETC_TEMP;";
        QTest::newRow("delete columns") << "DELETE カードNO,ご利用日,DATE_TIME FROM ETC_DATA WHERE x=1;"
                                        << "DELETE FROM ETC_DATA WHERE x=1;";
        QTest::newRow("booleans") << "SELECT * FROM ETC_DATA WHERE PRINT_FLAG=False OR PRINT_FLAG = TRUE;"
                                  << "SELECT * FROM ETC_DATA WHERE PRINT_FLAG=0 OR PRINT_FLAG = 1;";
        QTest::newRow("literals are left alone")
            << "SELECT * FROM ETC_DATA WHERE カードNO='False' AND 車種='DELETE * FROM x' AND PRINT_FLAG=True;"
            << "SELECT * FROM ETC_DATA WHERE カードNO='False' AND 車種='DELETE * FROM x' AND PRINT_FLAG=1;";
        QTest::newRow("doubled quote stays inside its literal")
            << "SELECT * FROM ETC_DATA WHERE カードNO='a'' True ''b' AND PRINT_FLAG=True;"
            << "SELECT * FROM ETC_DATA WHERE カードNO='a'' True ''b' AND PRINT_FLAG=1;";
        QTest::newRow("duplicate condition")
            << "SELECT " + kRepeatHead + "AND カードNO='1';"
            << "SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA WHERE "
               "(ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) IN (SELECT "
               "ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 FROM ETC_DATA GROUP BY "
               "ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 HAVING COUNT(*)>1) AND カードNO='1';";
        // The rows the delete as written hits, less the first copy of every
        // passage all of whose copies it hits.
        const QString twin = "twin.ご利用日=ETC_DATA.ご利用日 AND twin.通過時間=ETC_DATA.通過時間 AND "
                             "twin.通行料金=ETC_DATA.通行料金 AND twin.車種=ETC_DATA.車種 AND "
                             "twin.入口料金所=ETC_DATA.入口料金所 AND twin.出口料金所=ETC_DATA.出口料金所";
        // Cut before its ORDER BY (as the paged grid does), the condition has
        // lost its closing blank and must still run in the grouped form.
        QTest::newRow("duplicate select cut before its order")
            << "SELECT " + kRepeatHead.chopped(1)
            << "SELECT カードNO,ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所,DATE_TIME FROM ETC_DATA WHERE "
               "(ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) IN (SELECT "
               "ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 FROM ETC_DATA GROUP BY "
               "ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 HAVING COUNT(*)>1) ";
        QTest::newRow("duplicate delete")
            << "DELETE " + kRepeatHead + "AND カードNO='1';"
            << "WITH doomed AS MATERIALIZED (SELECT rowid AS id FROM ETC_DATA WHERE "
               "(ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所) IN (SELECT "
               "ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 FROM ETC_DATA GROUP BY "
               "ご利用日,通過時間,通行料金,車種,入口料金所,出口料金所 HAVING COUNT(*)>1) AND カードNO='1') "
               "DELETE FROM ETC_DATA WHERE rowid IN (SELECT id FROM doomed) AND (EXISTS (SELECT 1 FROM ETC_DATA "
               "AS twin WHERE " + twin + " AND twin.rowid NOT IN (SELECT id FROM doomed)) OR "
               "rowid<>(SELECT MIN(twin.rowid) FROM ETC_DATA AS twin WHERE " + twin + "));";
    }
    void translation()
    {
        QFETCH(QString, jet);
        QFETCH(QString, sqlite);
        QCOMPARE(sqldialect::toSqlite(jet), sqlite);
    }
};

QTEST_GUILESS_MAIN(TestStatements)
#include "tst_statements.moc"
