// Grid loading with its layouts, count and toll sum, and the card-number list.

#include "HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "history/basAccessGrid.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>

class TestGrid : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<frmMain> w;

    QString labels() const { return w->lblCountValue->text() + ' ' + w->lblSumValue->text(); }
    HistoryGridModel *model() const { return qobject_cast<HistoryGridModel *>(w->MSHFlexGrid->model()); }
    QStringList headers() const
    {
        QStringList out;
        for (int c = 0; c < model()->columnCount(); ++c)
            out << model()->headerData(c, Qt::Horizontal).toString();
        return out;
    }
    QList<int> widths() const
    {
        QList<int> out;
        for (int c = 0; c < model()->columnCount(); ++c)
            out << w->MSHFlexGrid->columnWidth(c);
        return out;
    }
    QStringList comboItems() const
    {
        QStringList out;
        for (int i = 0; i < w->cboCardSelect->count(); ++i)
            out << w->cboCardSelect->itemText(i);
        return out;
    }

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        w = std::make_unique<frmMain>();
        openDatabases(*h);
        basAccess_ResetViewCondition();
        ViewSort = QStringLiteral("NEW");
        w->optSelectMode[0]->setChecked(true);
    }
    void cleanup()
    {
        closeDatabases();
        w.reset();
        h.reset();
        AppPath.clear();
    }

    void totals()
    {
        auto total = [](const QStringList &tolls) {
            GridTotals t;
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
        basAccess_MDBtoMSHFlexGrid(basAccess_MakeReadSQL("ETC_TEMP", 1), 1);
        QCOMPARE(labels(), QStringLiteral("3件 2000円"));
        QCOMPARE(headers(), (QStringList{"ご利用日", "通過時間", "通行料金", "車種", "入口料金所", "出口料金所"}));
        QCOMPARE(widths(), (QList<int>{80, 60, 60, 65, 265, 265}));
        QCOMPARE(model()->rowCount(), 3);
        QCOMPARE(model()->cell(0, 0), QStringLiteral("2024/05/03")); // newest first
        QCOMPARE(model()->cell(2, 4), QStringLiteral("東名高速道路 東京"));
        QVERIFY(w->MSHFlexGrid->verticalHeader()->isHidden()); // no extra column before the data
    }

    void historyLayoutAndTypeZero()
    {
        addHistoryRow("1234", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("5678", "2024/05/01", "11:00:00", "-200円");
        basAccess_MDBtoMSHFlexGrid(basAccess_MakeReadSQL("ETC_DATA", 2), 2);
        QCOMPARE(headers(),
                 (QStringList{"カードNO", "ご利用日", "通過時間", "通行料金", "車種", "入口料金所", "出口料金所"}));
        QCOMPARE(widths(), (QList<int>{55, 80, 60, 60, 65, 265, 265}));
        QCOMPARE(model()->cell(1, 0), QStringLiteral("5678"));
        QCOMPARE(labels(), QStringLiteral("2件 1300円"));

        // Type 0 empties the grid but the labels describe the rows read.
        basAccess_MDBtoMSHFlexGrid("ETC_DATA", 0);
        QCOMPARE(model()->columnCount(), 0);
        QCOMPARE(model()->rowCount(), 0);
        QCOMPARE(labels(), QStringLiteral("2件 1300円"));

        // An empty result: empty grid, zero totals.
        basAccess_MDBtoMSHFlexGrid("ETC_TEMP", 0);
        QCOMPARE(labels(), QStringLiteral("0件 0円"));
        basAccess_MDBtoMSHFlexGrid(basAccess_MakeReadSQL("ETC_TEMP", 1), 1);
        QCOMPARE(model()->columnCount(), 0);
        QCOMPARE(labels(), QStringLiteral("0件 0円"));
    }

    void largeHistoryLoads()
    {
        QSqlDatabase db = basAccess_Database(DbConnection::History);
        db.transaction();
        historyExec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<40000) "
                    "INSERT INTO ETC_DATA (CARD_ID,カードNO,ご利用日,通過時間,DATE_TIME,通行料金) "
                    "SELECT '1111','1111','2024/01/01',printf('%06d',i),'x', "
                    "CASE WHEN i=7 THEN 'abc円' ELSE '100000円' END FROM n");
        db.commit();
        basAccess_MDBtoMSHFlexGrid(basAccess_MakeReadSQL("ETC_DATA", 2), 2);
        QCOMPARE(labels(), QStringLiteral("40000件 3999900000円"));
        QCOMPARE(model()->rowCount(), 40000);
        QVERIFY(h->messages().isEmpty());
    }

    void cardNumberList()
    {
        // No registered card: only "0000", the typed number stays.
        w->optCardNo[0]->setChecked(true);
        w->txtCardInput->setText("1234");
        basMain_GetCardNo();
        QCOMPARE(comboItems(), QStringList{"0000"});
        QCOMPARE(w->txtCardInput->text(), QStringLiteral("1234"));

        addHistoryRow("5678", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("1234", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("1234", "2024/05/02", "10:00:00", "1500円");
        historyExec("INSERT INTO ETC_DATA (CARD_ID) VALUES (NULL)");

        // The typed number is registered: it is kept, selected in the list.
        // (Filling the list switches to list entry; switch back to typing.)
        QVERIFY(w->optCardNo[1]->isChecked());
        w->optCardNo[0]->setChecked(true);
        basMain_GetCardNo();
        QCOMPARE(comboItems(), (QStringList{"0000", "1234", "5678"}));
        QCOMPARE(w->cboCardSelect->currentText(), QStringLiteral("1234"));
        QCOMPARE(w->txtCardInput->text(), QString());
        QVERIFY(w->optCardNo[1]->isChecked());

        // Selected from the list and still registered.
        w->cboCardSelect->setCurrentIndex(2);
        basMain_GetCardNo();
        QCOMPARE(w->cboCardSelect->currentText(), QStringLiteral("5678"));

        // No longer registered: back to "0000".
        historyExec("DELETE FROM ETC_DATA WHERE CARD_ID='5678'");
        basMain_GetCardNo();
        QCOMPARE(comboItems(), (QStringList{"0000", "1234"}));
        QCOMPARE(w->cboCardSelect->currentIndex(), 0);
        QVERIFY(h->messages().isEmpty());
    }
};

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
