#pragma once
// 月別集計: the history the grid shows, per card and month, as a table and a
// bar chart, with 印刷 and CSV出力 of its own.

#include "history/ViewCondition.h"
#include "reports/MonthlyReport.h"

#include <QDialog>
#include <QFont>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace ui {

class MainWindow;

class MonthlyTotalsWindow : public QDialog { // was frmMonthlyTotals
    Q_OBJECT
public:
    // months: the totals of the grid's rows; conditions: the card and period
    // they are of; window: the main window, whose printer list 印刷 uses
    // (without one, 印刷 does nothing).
    MonthlyTotalsWindow(const QList<MonthTotal> &months, const QString &conditions, MainWindow *window = nullptr);

    QLabel *lblConditions = nullptr;
    QTableWidget *grdTotals = nullptr;
    QChartView *chtTotals = nullptr;
    // What the chart shows (MonthlyChartMode in order) and, for one card, which.
    QComboBox *cboChartMode = nullptr;
    QComboBox *cboChartCard = nullptr;
    QPushButton *cmdPrint = nullptr;
    QPushButton *cmdCSVOutput = nullptr;
    QPushButton *cmdClose = nullptr;

    void print();
    void saveCsv();

    reports::MonthlyChartMode chartMode() const;

protected:
    // Closing remembers the chart's choice and the window's size.
    void done(int result) override;

private:
    // The table of the lines; returns the width that shows every column.
    int buildTable(const QFont &font);
    // The chart with its choice of mode and card above it.
    QWidget *buildChartPane(const QList<MonthTotal> &months);
    void showChart();
    void fitLabels();

    QList<MonthTotal> m_months;
    QList<reports::MonthlyLine> m_lines;
    QString m_conditions;
    MainWindow *m_window = nullptr;
    history::ViewQuery m_view; // the view the totals are of (names the files)
};

// ファイル → 月別集計: the window for the history the grid shows now
// (was basMain_ShowMonthlyTotals).
void showMonthlyTotals(MainWindow &window);

} // namespace ui
