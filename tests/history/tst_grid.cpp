// Grid loading with its layouts, count and toll sum, and the card numbers of
// the history.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "history/GridLoad.h"

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

class TestGrid : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<history::HistoryGridModel> grid;
    history::GridLoad last;

    // Loads the grid as the window does; all records, typed entry with nothing typed.
    void load(const QString &source, qint16 viewType) { last = history::loadGrid(*grid, source, viewType); }
    static QString read(const QString &table, qint16 viewType)
    {
        return history::viewStatement(table, (testView = history::viewQuery(viewType, ViewSelection{})));
    }
    QString labels() const
    {
        return app::recordCountText(last.totals.count) + ' ' + app::tollSumText(last.totals.sum);
    }
    history::HistoryGridModel *model() const { return grid.get(); }
    QStringList headers() const
    {
        QStringList out;
        for (int c = 0; c < model()->columnCount(); ++c)
            out << model()->headerData(c, Qt::Horizontal).toString();
        return out;
    }
    QList<int> widths() const { return last.columnWidths; }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        grid = std::make_unique<history::HistoryGridModel>();
        openDatabases(*h);
        testView = {};
        app::runSettings().viewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        grid.reset();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void totals()
    {
        auto total = [](const QStringList &tolls) {
            history::GridTotals t;
            for (const QString &s : tolls)
                t.add(s);
            return QString::number(t.count) + '/' + QString::number(t.sum);
        };
        QCOMPARE(total({"1200円", "800円", "未確定"}), QStringLiteral("3/2000"));
        QCOMPARE(total({"1200円", "-500円", "+5円"}), QStringLiteral("3/705"));
        QCOMPARE(total({"12a円", "円", "-円", "1 200円", "3度数", "7単位", ""}), QStringLiteral("7/0"));
        QCOMPARE(total({"9223372036854775807円", "1円", "99999999999999999999円"}),
                 QStringLiteral("3/9223372036854775807"));
    }

    void stagingLayout()
    {
        addHistoryRow("0000", "2024/05/01", "10:00:00", "1200円", "普通車", "東名高速道路 東京", "東名高速道路 厚木", "ETC_TEMP");
        addHistoryRow("0000", "2024/05/02", "10:00:00", "800円", "普通車", "a", "b", "ETC_TEMP");
        addHistoryRow("0000", "2024/05/03", "10:00:00", "未確定", "普通車", "a", "b", "ETC_TEMP");
        load(read("ETC_TEMP", 1), 1);
        QCOMPARE(labels(), QStringLiteral("3件 2,000円"));
        QCOMPARE(headers(), (QStringList{"ご利用日", "通過時間", "通行料金", "車種", "入口料金所", "出口料金所"}));
        QCOMPARE(widths(), (QList<int>{80, 60, 60, 65, 265, 265}));
        QCOMPARE(model()->rowCount(), 3);
        QCOMPARE(model()->cell(0, 0), QStringLiteral("2024/05/03")); // newest first
        QCOMPARE(model()->cell(2, 4), QStringLiteral("東名高速道路 東京"));
        QVERIFY(!last.empty());
    }

    void historyLayoutAndTypeZero()
    {
        addHistoryRow("1234", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("5678", "2024/05/01", "11:00:00", "-200円");
        load(read("ETC_DATA", 2), 2);
        QCOMPARE(headers(),
                 (QStringList{"カードNO", "ご利用日", "通過時間", "通行料金", "車種", "入口料金所", "出口料金所"}));
        QCOMPARE(widths(), (QList<int>{55, 80, 60, 60, 65, 265, 265}));
        QCOMPARE(model()->cell(1, 0), QStringLiteral("5678"));
        QCOMPARE(labels(), QStringLiteral("2件 1,300円"));

        // Type 0 empties the grid but the labels describe the rows read.
        load("ETC_DATA", 0);
        QCOMPARE(model()->columnCount(), 0);
        QCOMPARE(model()->rowCount(), 0);
        QVERIFY(last.empty());
        QCOMPARE(labels(), QStringLiteral("2件 1,300円"));

        // An empty result: empty grid, zero totals.
        load("ETC_TEMP", 0);
        QCOMPARE(labels(), QStringLiteral("0件 0円"));
        load(read("ETC_TEMP", 1), 1);
        QCOMPARE(model()->columnCount(), 0);
        QCOMPARE(labels(), QStringLiteral("0件 0円"));
    }

    void largeHistoryLoads()
    {
        SQLITE_FILE_ONLY();
        QSqlDatabase db = history::database(DbConnection::History);
        db.transaction();
        historyExec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<40000) "
                    "INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,DATE_TIME,通行料金) "
                    "SELECT '1111','1111','2024/01/01',printf('%06d',i),'x', "
                    "CASE WHEN i=7 THEN 'abc円' ELSE '100000円' END FROM n");
        db.commit();
        load(read("ETC_DATA", 2), 2);
        QCOMPARE(labels(), QStringLiteral("40,000件 3,999,900,000円"));
        QCOMPARE(model()->rowCount(), 40000);
        QVERIFY(h->messages().isEmpty());
    }

    void cardNumbers()
    {
        QCOMPARE(history::historyCardNumbers(), QStringList{});
        addHistoryRow("5678", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("1234", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("1234", "2024/05/02", "10:00:00", "1500円");
        historyExec("INSERT INTO ETC_DATA (CARD_ID) VALUES (NULL)"); // no entry to offer
        QCOMPARE(history::historyCardNumbers(), (QStringList{"1234", "5678"}));
        QVERIFY(h->messages().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGrid)
#include "tst_grid.moc"
