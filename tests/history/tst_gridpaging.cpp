// The paged grid: whatever order the pages are read in (scrolling down, up
// from the end, jumping), the grid shows exactly the rows of the statement in
// its order, and its labels are the count and sum of every row.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "history/GridLoad.h"

#include <QRandomGenerator>
#include <algorithm>
#include <QSqlRecord>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

class TestGridPaging : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

    // The statement's rows in its order, ties in stored order, without DATE_TIME.
    static QList<QStringList> expectedRows(const QString &jet)
    {
        const DbConnection where = history::route(DbConnection::History, jet);
        QString sql = where == DbConnection::Server ? history::serverText(jet) : history::sqliteText(jet);
        sql.chop(1); // ";"
        QSqlQuery q(history::database(where));
        if (!q.exec(sql + QLatin1Char(',') + history::rowKeyColumn(jet) + QLatin1Char(';')))
            qFatal("reference statement refused");
        QList<QStringList> rows;
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < q.record().count() - 1; ++c)
                row << q.value(c).toString();
            rows << row;
        }
        return rows;
    }
    static QStringList gridRow(const history::HistoryGridModel &m, int row)
    {
        QStringList cells;
        for (int c = 0; c < m.columnCount(); ++c)
            cells << m.data(m.index(row, c)).toString();
        return cells;
    }

    // Rows with many ties in the order columns, Null gates and dates, three cards.
    static void fillWithTies(int rows)
    {
        historyExec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<%1) "
            "INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,DATE_TIME,通行料金,車種,入口料金所,出口料金所) "
            "SELECT c, c, d, t, d||'-'||t, (i%7)*100||'円', '普通車', g, CASE WHEN i%11=0 THEN NULL ELSE 'x' END "
            "FROM (SELECT i, CASE i%3 WHEN 0 THEN '1111' WHEN 1 THEN '2222' ELSE 'abcd' END AS c, "
            "CASE WHEN i%53=0 THEN NULL ELSE '2024/01/0'||(1+i%5) END AS d, '10:00:0'||(i%4) AS t, "
            "CASE i%3 WHEN 0 THEN 'A' WHEN 1 THEN NULL ELSE 'b' END AS g FROM n) AS s").arg(rows));
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        openDatabases(*h);
        testView = {};
        app::runSettings().viewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void everyOrderReadAnyWay_data()
    {
        QTest::addColumn<QString>("sort");
        QTest::addColumn<QString>("card");
        QTest::addColumn<bool>("range");
        QTest::addColumn<bool>("duplicates");
        QTest::newRow("new, all cards") << "NEW" << "" << false << false;
        QTest::newRow("old, one card, range") << "OLD" << "2222" << true << false;
        QTest::newRow("no date terms, all") << "X" << "" << false << false;
        QTest::newRow("card with a letter") << "NEW" << "ABCD" << false << false;
        QTest::newRow("duplicates, range") << "OLD" << "" << true << true;
    }
    void everyOrderReadAnyWay()
    {
        QFETCH(QString, sort);
        QFETCH(QString, card);
        QFETCH(bool, range);
        QFETCH(bool, duplicates);
        if (onServerStore() && card == QLatin1String("ABCD"))
            QSKIP("the server compares card numbers with their letter case");
        fillWithTies(4000);
        app::runSettings().viewSort = sort;
        ViewSelection selection;
        selection.TypedCardNo = card;
        if (range) {
            selection.SelectMode = 1;
            selection.Range = DateTimeRange(QDate(2024, 1, 2), QTime(10, 0, 1), QDate(2024, 1, 4), QTime(10, 0, 2));
        }
        QString jet = history::viewStatement(QStringLiteral("ETC_DATA"), testView = history::viewQuery(2, selection));
        if (duplicates)
            jet = history::duplicatesSql(testView, QStringLiteral("0000"), QStringLiteral("SELECT"));
        const QList<QStringList> expected = expectedRows(jet);
        QVERIFY(expected.size() > 3 * history::HistoryGridModel::kPageRows);

        // Down from the start, up from the end, and at random, each on a fresh load.
        for (int way = 0; way < 3; ++way) {
            history::HistoryGridModel model;
            const history::GridLoad load = history::loadGrid(model, jet, 2);
            QCOMPARE(load.totals.count, qint64(expected.size()));
            QCOMPARE(model.rowCount(), int(expected.size()));
            QCOMPARE(model.pagesRead(), 1); // the labels and the first page, nothing more
            QList<int> order;
            for (int r = 0; r < expected.size(); ++r)
                order << (way == 1 ? int(expected.size()) - 1 - r : r);
            if (way == 2) { // jumps in both directions, each page first reached from afar
                QRandomGenerator rng(way);
                std::shuffle(order.begin(), order.end(), rng);
                order = order.mid(0, 300);
            }
            for (int r : order)
                QCOMPARE(gridRow(model, r), expected[r]);
        }
        QVERIFY(h->messages().isEmpty());
    }

    void labelsOfEveryRow()
    {
        const QStringList tolls{"1200円", "800円",  "未確定", "-500円", "+5円",   "007円", "abc円",
                                "円",     "-円",    "3度数",  "7単位",  "1 200円", "",      "12345678901円",
                                "2147483647円", "-2147483648円"};
        for (int copy = 0; copy < 3; ++copy)
            for (const QString &toll : tolls)
                addHistoryRow("1234", "2024/05/01", "10:00:00", toll);
        historyExec("INSERT INTO ETC_DATA (CARD_ID,カードNO,通行料金) VALUES ('1234','1234',NULL)");
        history::GridTotals expected;
        for (int copy = 0; copy < 3; ++copy)
            for (const QString &toll : tolls)
                if (toll == QStringLiteral("12345678901円")) // more digits than a card's amount has
                    ++expected.count;
                else
                    expected.add(toll);
        expected.add(QString());
        history::HistoryGridModel model;
        const history::GridLoad load =
            history::loadGrid(model, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, ViewSelection{}))), 2);
        QCOMPARE(load.totals.count, expected.count);
        QCOMPARE(load.totals.sum, expected.sum);
        QCOMPARE(model.rowCount(), int(expected.count));
    }

    void rowsGoneMeanwhile()
    {
        // Someone else deletes rows after the grid opened: the grid shows the
        // rows still there, and empty rows where it runs out.
        fillWithTies(1000);
        history::HistoryGridModel model;
        history::loadGrid(model, history::viewStatement("ETC_DATA", (testView = history::viewQuery(2, ViewSelection{}))), 2);
        historyExec("DELETE FROM ETC_DATA WHERE カードNO<>'1111'");
        QCOMPARE(model.rowCount(), 1000);
        for (int r : {999, 250, 600, 0, 998})
            QVERIFY(QStringList({"1111", ""}).contains(gridRow(model, r).value(0)));
        QCOMPARE(gridRow(model, 250).value(0), QStringLiteral("1111"));
        QVERIFY(h->messages().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGridPaging)
#include "tst_gridpaging.moc"
