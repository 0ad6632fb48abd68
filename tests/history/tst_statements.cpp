// The rows each view shows, deletes and finds held twice, on the history
// file and (as tst_statements_psql) on the shared history's server, against
// the conditions worked out here; and the translation of the program's own
// dialect into SQLite.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "app/Constants.h"
#include "history/Duplicates.h"
#include "history/GridLoad.h"
#include "history/HistoryGridModel.h"
#include "history/ShownRows.h"
#include "history/SqlDialect.h"
#include "history/ViewCondition.h"

#include <QTest>
#include <algorithm>

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

// A passage as the fixture stores it.
struct Passage {
    QString card, date, time, toll, in, out;
    QString dateTime() const { return date + QLatin1Char('-') + time; }
};

// Cards around the January range: a row a second before it, on both of its
// edges, inside it, and a second after it; two rows of one moment apart
// only by their gates, one of the same day earlier; a card number with a
// quote in it.
QList<Passage> fixturePassages()
{
    QList<Passage> rows;
    int gate = 0;
    for (const QString card : {QStringLiteral("1234"), QStringLiteral("5678"), QStringLiteral("1'2")}) {
        for (const auto &[date, time] : std::initializer_list<std::pair<const char *, const char *>>{
                 {"2023/12/31", "23:59:59"}, {"2024/01/01", "00:00:00"}, {"2024/01/15", "12:00:00"},
                 {"2024/01/31", "23:59:59"}, {"2024/02/01", "00:00:00"}}) {
            ++gate;
            rows.append({card, QString::fromLatin1(date), QString::fromLatin1(time),
                         QString::number(100 * gate) + QStringLiteral("円"),
                         QStringLiteral("東名 入口%1").arg(gate, 2, 10, QLatin1Char('0')),
                         QStringLiteral("東名 出口%1").arg(30 - gate, 2, 10, QLatin1Char('0'))});
        }
    }
    rows.append({QStringLiteral("1234"), QStringLiteral("2024/01/15"), QStringLiteral("12:00:00"),
                 QStringLiteral("900円"), QStringLiteral("東名 入口00"), QStringLiteral("東名 出口99")});
    rows.append({QStringLiteral("1234"), QStringLiteral("2024/01/15"), QStringLiteral("07:30:00"),
                 QStringLiteral("800円"), QStringLiteral("東名 入口98"), QStringLiteral("東名 出口00")});
    return rows;
}

void store(const QList<Passage> &rows, const QString &table)
{
    for (const Passage &p : rows)
        addHistoryRow(p.card, p.date, p.time, p.toll, QStringLiteral("普通車"), p.in, p.out, table);
}

// The rows of a view worked out from its conditions: in the range, of the
// card (a history view), in card order, then by passage time as the order
// setting says, then by the gates.
QStringList expectedRows(QList<Passage> rows, const history::ViewQuery &view, const QString &sort)
{
    const bool history = view.viewType == 2;
    rows.removeIf([&](const Passage &p) {
        return (view.ranged && (p.dateTime() < view.start || p.dateTime() > view.end)) ||
               (history && view.cardNo != kNoCardNo && p.card != view.cardNo);
    });
    std::stable_sort(rows.begin(), rows.end(), [&](const Passage &a, const Passage &b) {
        if (history && a.card != b.card)
            return a.card < b.card;
        if (a.dateTime() != b.dateTime() && (sort == QLatin1String("NEW") || sort == QLatin1String("OLD")))
            return sort == QLatin1String("NEW") ? a.dateTime() > b.dateTime() : a.dateTime() < b.dateTime();
        return a.in != b.in ? a.in < b.in : a.out < b.out;
    });
    QStringList out;
    for (const Passage &p : rows)
        out << (history ? p.card + QLatin1Char('|') : QString()) + p.dateTime() + QLatin1Char('|') + p.in;
    return out;
}

// The rows a statement returns, as expectedRows writes them.
QStringList rowsOf(const QString &statement, bool history)
{
    QStringList out;
    QSqlQuery q = history::execute(DbConnection::History, statement);
    while (q.next())
        out << (history ? q.value(QStringLiteral("カードNO")).toString() + QLatin1Char('|') : QString()) +
                   q.value(QStringLiteral("DATE_TIME")).toString() + QLatin1Char('|') +
                   q.value(QStringLiteral("入口料金所")).toString();
    return out;
}

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
    }

    // Every view a window can ask for shows the rows of its conditions in
    // its order, through the grid's statement and the shown rows' statement
    // alike. A quote in a card number is a value, never a statement.
    void viewsShowTheRowsOfTheirConditions()
    {
        const QList<Passage> rows = fixturePassages();
        store(rows, kTableData);
        store(rows, kTableTemp);
        for (const qint16 viewType : {qint16(1), qint16(2)})
            for (const bool range : {false, true})
                for (const char *card : {"0000", "1234", "1'2", "' OR ''='"})
                    for (const char *sort : {"NEW", "OLD", "new"}) {
                        app::runSettings().viewSort = QString::fromLatin1(sort);
                        testView = history::viewQuery(viewType, selection(range, QString::fromLatin1(card)));
                        const QString table = viewType == 1 ? kTableTemp : kTableData;
                        const QStringList expected = expectedRows(rows, testView, app::runSettings().viewSort);
                        const QString what = QStringLiteral("view %1, range %2, card %3, order %4")
                                                 .arg(viewType).arg(range).arg(QString::fromLatin1(card), app::runSettings().viewSort);
                        QVERIFY2(rowsOf(history::viewStatement(table, testView), viewType == 2) == expected, qPrintable(what));
                        QVERIFY2(rowsOf(history::shownViewSql(testView, table, QStringLiteral("SELECT")), viewType == 2) ==
                                     expected,
                                 qPrintable(what));
                    }
        QVERIFY(!expectedRows(rows, history::viewQuery(2, selection(true, QStringLiteral("1234"))), "NEW").isEmpty());
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
        // the statements show the card's rows of every day.
        const QList<Passage> rows = fixturePassages();
        store(rows, kTableData);
        ViewSelection none = selection(true, QStringLiteral("1234"));
        none.SelectMode = -1;
        testView = history::viewQuery(2, none);
        QVERIFY(!testView.ranged);
        const QStringList everyDay = expectedRows(rows, testView, QStringLiteral("NEW"));
        QCOMPARE(everyDay.size(), 7);
        QCOMPARE(rowsOf(history::viewStatement(kTableData, testView), true), everyDay);
        QCOMPARE(rowsOf(history::shownViewSql(testView, kTableData, QStringLiteral("SELECT")), true), everyDay);
    }

    // DB削除 takes exactly the rows the view shows (a quoted card number
    // takes none), and the staging's clear empties it whatever the view.
    void deletesTakeExactlyTheRowsShown()
    {
        const QList<Passage> rows = fixturePassages();
        store(rows, kTableData);
        store(rows, kTableTemp);
        const history::ViewQuery all = history::viewQuery(2, selection(false, kNoCardNo));
        history::HistoryGridModel grid;
        for (const auto &[range, card] : std::initializer_list<std::pair<bool, const char *>>{
                 {false, "' OR ''='"}, {true, "1234"}, {false, "1'2"}, {true, "0000"}}) {
            testView = history::viewQuery(2, selection(range, QString::fromLatin1(card)));
            QStringList left = rowsOf(history::viewStatement(kTableData, all), true);
            const QStringList shown = rowsOf(history::shownViewSql(testView, kTableData, QStringLiteral("SELECT")), true);
            history::loadGrid(grid, history::shownViewSql(testView, kTableData, QStringLiteral("SELECT")), 2);
            QCOMPARE(history::deleteShown(app::Procedure::DeleteShownRows,
                                          history::shownViewSql(testView, kTableData, QStringLiteral("DELETE"))),
                     qint64(shown.size()));
            for (const QString &row : shown)
                left.removeOne(row);
            QCOMPARE(rowsOf(history::viewStatement(kTableData, all), true), left);
        }
        QVERIFY(rowsOf(history::viewStatement(kTableData, all), true).size() < rows.size());
        history::runStatement(history::shownViewSql(testView, kTableTemp, QStringLiteral("FORMAT")));
        QVERIFY(rowsOf(history::viewStatement(kTableTemp, history::viewQuery(1, selection(false, kNoCardNo))), false)
                    .isEmpty());
    }

    // The duplicate view shows every row of a passage held twice or more
    // (in the range), in passage order; deleting one card's duplicates
    // keeps the other cards' copies and one copy of a passage only that
    // card held.
    void duplicatesAreThePassagesHeldTwice()
    {
        const auto passage = [](const char *card, const char *date, const char *in) {
            return Passage{QString::fromLatin1(card), QString::fromLatin1(date), QStringLiteral("08:00:00"),
                           QStringLiteral("500円"), QString::fromUtf8(in), QStringLiteral("東名 厚木")};
        };
        const QList<Passage> rows{
            passage("1111", "2024/01/10", "東名 東京"), passage("2222", "2024/01/10", "東名 東京"), // another card's too
            passage("1111", "2024/01/20", "東名 横浜"), passage("1111", "2024/01/20", "東名 横浜"), // the card's own twice
            passage("1111", "2024/02/10", "東名 静岡"), passage("2222", "2024/02/10", "東名 静岡"),
            passage("3333", "2024/02/10", "東名 静岡"),                                          // outside the range
            passage("1111", "2024/01/25", "東名 沼津"),                                          // held once
        };
        store(rows, kTableData);
        const auto key = [](const Passage &p) { return p.dateTime() + p.toll + p.in + p.out; };
        for (const bool range : {false, true})
            for (const char *sort : {"NEW", "OLD"}) {
                app::runSettings().viewSort = QString::fromLatin1(sort);
                testView = history::viewQuery(2, selection(range, QStringLiteral("9999")));
                QList<Passage> held;
                for (const Passage &p : rows)
                    if (std::count_if(rows.begin(), rows.end(), [&](const Passage &o) { return key(o) == key(p); }) > 1)
                        held << p;
                // (The duplicate view orders by passage, then by card.)
                QStringList expected = expectedRows(held, {1, testView.ranged, kNoCardNo, testView.start, testView.end},
                                                    app::runSettings().viewSort);
                QStringList shown = rowsOf(history::duplicatesSql(testView, kNoCardNo, QStringLiteral("SELECT")), true);
                for (QString &row : shown)
                    row = row.section(QLatin1Char('|'), 1);
                QCOMPARE(shown, expected);
            }
        testView = history::viewQuery(2, selection(true, QStringLiteral("9999")));
        history::HistoryGridModel grid;
        history::loadGrid(grid, history::duplicatesSql(testView, kNoCardNo, QStringLiteral("SELECT")), 2);
        QCOMPARE(history::deleteDuplicates(testView, QStringLiteral("1111")), 2);
        QCOMPARE(column(QStringLiteral("SELECT カードNO || ' ' || ご利用日 FROM ETC_DATA ORDER BY カードNO, ご利用日")),
                 (QStringList{"1111 2024/01/20", "1111 2024/01/25", "1111 2024/02/10", "2222 2024/01/10",
                              "2222 2024/02/10", "3333 2024/02/10"}));
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
