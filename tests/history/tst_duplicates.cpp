// Duplicate records: the card numbers that own them, the deletion of one
// card's copies (which never removes the last copy of a passage), checked
// against a plain model of the rule on random histories, and the master
// version text.

#include "app/RunSettings.h"
#include "HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/SqlDialect.h"
#include "history/GridLoad.h"
#include "history/ViewCondition.h"
#include "history/Duplicates.h"

#include <QMap>
#include <QRandomGenerator>
#include <QSet>

// The view the tests show (a window keeps its own).
static history::ViewQuery testView;

class TestDuplicates : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

    static void setRange(const QString &start, const QString &end)
    {
        testView.viewType = 2;
        testView.ranged = true;
        testView.cardNo = QStringLiteral("0000");
        testView.start = start;
        testView.end = end;
    }

    // Every row as "rowid card date time toll", in stored order.
    static QStringList rows()
    {
        return column(QStringLiteral("SELECT rowid || ' ' || カードNO || ' ' || ご利用日 || ' ' || 通過時間 || ' ' || "
                                     "通行料金 FROM ETC_DATA ORDER BY rowid;"));
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        testView = {};
        app::runSettings().viewSort = QStringLiteral("NEW");
        openDatabases(*h);
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void cardsOwningDuplicates()
    {
        QCOMPARE(history::duplicateCardNumbers(testView), QStringList());
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("3333", "2024/03/01", "08:00:00", "1300円"); // another toll: no twin
        addHistoryRow("4444", "2024/04/01", "08:00:00", "500円");
        addHistoryRow("4444", "2024/04/01", "08:00:00", "500円");
        addHistoryRow("o'k", "2024/04/01", "08:00:00", "500円");
        QCOMPARE(history::duplicateCardNumbers(testView), (QStringList{"1111", "2222", "4444", "o'k"}));

        // The range limits the rows, never the grouping.
        setRange("2024/04/01-00:00:00", "2024/04/30-23:59:59");
        QCOMPARE(history::duplicateCardNumbers(testView), (QStringList{"4444", "o'k"}));
        setRange("2024/05/01-00:00:00", "2024/05/30-23:59:59");
        QCOMPARE(history::duplicateCardNumbers(testView), QStringList());
    }

    void deleteKeepsOtherCardsAndOneOwnCopy()
    {
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円"); // 1
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円"); // 2  twin of 1
        addHistoryRow("1111", "2024/03/02", "09:00:00", "800円");  // 3  three copies, all 1111
        addHistoryRow("1111", "2024/03/02", "09:00:00", "800円");  // 4
        addHistoryRow("1111", "2024/03/02", "09:00:00", "800円");  // 5
        addHistoryRow("1111", "2024/03/03", "10:00:00", "700円");  // 6  1111 twice, 2222 once
        addHistoryRow("2222", "2024/03/03", "10:00:00", "700円");  // 7
        addHistoryRow("1111", "2024/03/03", "10:00:00", "700円");  // 8
        addHistoryRow("1111", "2024/03/04", "11:00:00", "600円");  // 9  no twin

        QCOMPARE(history::deleteDuplicates(testView, QString()), 0);
        QCOMPARE(rows().size(), 9);
        QCOMPARE(history::deleteDuplicates(testView, "9999"), 0);

        QCOMPARE(history::deleteDuplicates(testView, "1111"), 5);
        QCOMPARE(rows(), (QStringList{"1 2222 2024/03/01 08:00:00 1200円", "3 1111 2024/03/02 09:00:00 800円",
                                      "7 2222 2024/03/03 10:00:00 700円", "9 1111 2024/03/04 11:00:00 600円"}));
        QCOMPARE(history::duplicateCardNumbers(testView), QStringList());
        QCOMPARE(history::deleteDuplicates(testView, "1111"), 0);
        QCOMPARE(history::deleteDuplicates(testView, "2222"), 0);
    }

    void deleteInsideTheRangeOnly()
    {
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("1111", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("2222", "2024/03/01", "08:00:00", "1200円");
        addHistoryRow("1111", "2024/04/01", "08:00:00", "1200円");
        addHistoryRow("2222", "2024/04/01", "08:00:00", "1200円");
        setRange("2024/04/01-00:00:00", "2024/04/01-23:59:59");
        QCOMPARE(history::deleteDuplicates(testView, "1111"), 1);
        QCOMPARE(column("SELECT カードNO || ' ' || ご利用日 FROM ETC_DATA ORDER BY rowid;"),
                 (QStringList{"1111 2024/03/01", "1111 2024/03/01", "2222 2024/03/01", "2222 2024/04/01"}));
        // A card number with a quote stays one value.
        QCOMPARE(history::deleteDuplicates(testView, "' OR ''='"), 0);
        QCOMPARE(rows().size(), 4);
    }

    void translationKeepsOtherStatements()
    {
        const QString plain = "DELETE FROM ETC_DATA WHERE カードNO='1';";
        QCOMPARE(sqldialect::keepOneCopy(plain, QStringLiteral("rowid")), plain);
        const QString select = sqldialect::toSqlite(history::duplicatesSql(testView, "0000", "SELECT"));
        QCOMPARE(sqldialect::keepOneCopy(select, QStringLiteral("rowid")), select);
        QVERIFY(sqldialect::toSqlite(history::duplicatesSql(testView, "1", "DELETE")).startsWith("WITH doomed"));
    }

    // Random histories of few passages, cards and days: the rows the delete
    // leaves are those the rule leaves, worked out row by row.
    void deleteFollowsTheRuleOnRandomHistories()
    {
        QRandomGenerator rng(7);
        for (int round = 0; round < 30; ++round) {
            historyExec("DELETE FROM ETC_DATA");
            const int n = 5 + int(rng.bounded(40));
            struct Row {
                qint64 id;
                QString card, day, toll;
            };
            QList<Row> all;
            for (int i = 0; i < n; ++i) {
                const QString card = QString::number(1000 + rng.bounded(3));
                const QString day = QStringLiteral("2024/03/0%1").arg(1 + rng.bounded(3));
                const QString toll = QStringLiteral("%1円").arg(100 * (1 + rng.bounded(3)));
                addHistoryRow(card, day, "08:00:00", toll);
                all << Row{i + 1, card, day, toll};
            }
            const bool range = rng.bounded(2);
            testView = {};
            if (range)
                setRange("2024/03/02-00:00:00", "2024/03/03-23:59:59");
            const QString card = QString::number(1000 + rng.bounded(3));

            QMap<QString, QList<qint64>> copies;
            for (const Row &r : all)
                copies[r.day + r.toll] << r.id;
            QSet<qint64> doomed;
            for (const Row &r : all)
                if (r.card == card && copies[r.day + r.toll].size() > 1 && (!range || r.day >= "2024/03/02"))
                    doomed << r.id;
            QStringList expected;
            for (const Row &r : all) {
                const QList<qint64> &group = copies[r.day + r.toll];
                bool allDoomed = true;
                for (qint64 id : group)
                    allDoomed = allDoomed && doomed.contains(id);
                if (!doomed.contains(r.id) || (allDoomed && r.id == group.first()))
                    expected << QString::number(r.id);
            }

            QCOMPARE(history::deleteDuplicates(testView, card), int(all.size() - expected.size()));
            QCOMPARE(column("SELECT rowid FROM ETC_DATA ORDER BY rowid;"), expected);
        }
    }

    void displayShowsTheStatementsRows()
    {
        // The duplicate display counts and pages its rows from the passages it
        // groups once: labels and every row must be those of the statement run
        // as it stands, with Nulls, in both orders, with and without a range,
        // over more than one page.
        QRandomGenerator rng(11);
        for (int i = 0; i < 700; ++i) {
            const QString day = QStringLiteral("2024/03/%1").arg(1 + rng.bounded(9), 2, 10, QLatin1Char('0'));
            const QString time = QStringLiteral("0%1:00:00").arg(rng.bounded(4));
            const QString toll = rng.bounded(10) == 0 ? QString() : QStringLiteral("%1円").arg(100 * (1 + rng.bounded(3)));
            addHistoryRow(QString::number(1000 + rng.bounded(5)), day, time, toll);
        }
        historyExec("UPDATE ETC_DATA SET 通行料金=NULL WHERE 通行料金=''");
        for (const char *sort : {"NEW", "OLD"}) {
            for (const bool range : {false, true}) {
                app::runSettings().viewSort = QString::fromLatin1(sort);
                testView = {};
                if (range)
                    setRange("2024/03/03-00:00:00", "2024/03/06-23:59:59");
                const QString statement = history::duplicatesSql(testView, "0000", "SELECT");
                QStringList expected;
                QSqlQuery q = history::execute(DbConnection::History, statement);
                while (q.next()) {
                    QStringList cells;
                    for (int c = 0; c < 7; ++c)
                        cells << q.value(c).toString();
                    expected << cells.join('|');
                }
                q.finish();
                QVERIFY(expected.size() > history::HistoryGridModel::kPageRows || range);
                history::HistoryGridModel grid;
                const history::GridLoad load = history::loadGrid(grid, statement, 2);
                QCOMPARE(load.totals.count, qint64(expected.size()));
                QStringList shown;
                for (int r = 0; r < grid.rowCount(); ++r) {
                    QStringList cells;
                    for (int c = 0; c < 7; ++c)
                        cells << grid.cell(r, c);
                    shown << cells.join('|');
                }
                QCOMPARE(shown, expected);
            }
        }
    }

    void masterVersionText()
    {
        QCOMPARE(history::masterVersionText(), QStringLiteral("Ver 1.05"));
        closeDatabases();
        writeMasterDatabase(history::databasePath(kMstFile), "DELETE FROM VERSION;");
        history::openDatabase(kDatFile);
        history::openDatabase(kMstFile);
        QCOMPARE(history::masterVersionText(), QStringLiteral("Ver ?.??"));
    }
};

QTEST_GUILESS_MAIN(TestDuplicates)
#include "tst_duplicates.moc"
