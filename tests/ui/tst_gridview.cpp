// The window's side of the grid: count and sum labels, the layout's widths
// and headers, and the card-number list filled from the history.

#include "app/RunSettings.h"
#include "../history/HistoryFixture.h"
#include "history/HistoryGridModel.h"
#include "history/ViewCondition.h"
#include "ui/Commands.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>

using namespace ui;

class TestGridView : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;
    std::unique_ptr<MainWindow> w;

    QString labels() const { return w->lblCountValue->text() + ' ' + w->lblSumValue->text(); }
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
        w = std::make_unique<MainWindow>();
        openDatabases(*h);
        app::runSettings().viewSort = QStringLiteral("NEW");
        w->optSelectMode[0]->setChecked(true);
    }
    void cleanup()
    {
        closeDatabases();
        w.reset();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void layoutAndLabels()
    {
        addHistoryRow("1234", "2024/05/01", "10:00:00", "1500円");
        addHistoryRow("5678", "2024/05/01", "11:00:00", "-200円");
        showGrid(*w, history::viewStatement("ETC_DATA", (w->view = history::viewQuery(2, currentViewSelection(*w)))), 2);
        QCOMPARE(labels(), QStringLiteral("2件 1,300円"));
        QCOMPARE(w->MSHFlexGrid->model()->rowCount(), 2);
        QCOMPARE(w->MSHFlexGrid->columnWidth(0), 55);
        QCOMPARE(w->MSHFlexGrid->columnWidth(6), 265);
        QVERIFY(w->MSHFlexGrid->verticalHeader()->isHidden()); // no extra column before the data
        QVERIFY(!w->MSHFlexGrid->horizontalHeader()->isHidden());

        showGrid(*w, "ETC_TEMP", 0);
        QCOMPARE(labels(), QStringLiteral("0件 0円"));
        QCOMPARE(w->MSHFlexGrid->model()->columnCount(), 0);
        QVERIFY(!w->MSHFlexGrid->verticalHeader()->isHidden());
    }

    void cardNumberList()
    {
        // No registered card: only "0000", the typed number stays.
        w->optCardNo[0]->setChecked(true);
        w->txtCardInput->setText("1234");
        fillCardNumbers(*w);
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
        fillCardNumbers(*w);
        QCOMPARE(comboItems(), (QStringList{"0000", "1234", "5678"}));
        QCOMPARE(w->cboCardSelect->currentText(), QStringLiteral("1234"));
        QCOMPARE(w->txtCardInput->text(), QString());
        QVERIFY(w->optCardNo[1]->isChecked());

        // Selected from the list and still registered.
        w->cboCardSelect->setCurrentIndex(2);
        fillCardNumbers(*w);
        QCOMPARE(w->cboCardSelect->currentText(), QStringLiteral("5678"));

        // No longer registered: back to "0000".
        historyExec("DELETE FROM ETC_DATA WHERE CARD_ID='5678'");
        fillCardNumbers(*w);
        QCOMPARE(comboItems(), (QStringList{"0000", "1234"}));
        QCOMPARE(w->cboCardSelect->currentIndex(), 0);
        QVERIFY(h->messages().isEmpty());
    }
};

QTEST_MAIN(TestGridView)
#include "tst_gridview.moc"
