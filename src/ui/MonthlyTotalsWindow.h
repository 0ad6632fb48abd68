#pragma once
// 月別集計: the history the grid shows, per card and month, as a table and a
// bar chart, with 印刷 and CSV出力 of its own.

#include "reports/MonthlyReport.h"

#include <QDialog>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace ui {

class MonthlyTotalsWindow : public QDialog { // was frmMonthlyTotals
    Q_OBJECT
public:
    // months: the totals of the grid's rows; conditions: the card and period they are of.
    MonthlyTotalsWindow(const QList<MonthTotal> &months, const QString &conditions, QWidget *parent = nullptr);

    QLabel *lblConditions = nullptr;
    QTableWidget *grdTotals = nullptr;
    QChartView *chtTotals = nullptr;
    // What the chart shows (MonthlyChartMode in order) and, for one card, which.
    QComboBox *cboChartMode = nullptr;
    QComboBox *cboChartCard = nullptr;
    QPushButton *cmdPrint = nullptr;
    QPushButton *cmdCSVOutput = nullptr;
    QPushButton *cmdClose = nullptr;

    void frmMonthlyTotals_cmdPrint_Click();
    void frmMonthlyTotals_cmdCSVOutput_Click();

    MonthlyChartMode chartMode() const;

protected:
    // Closing remembers the chart's choice and the window's size.
    void done(int result) override;

private:
    void showChart();
    void fitLabels();

    QList<MonthTotal> m_months;
    QList<MonthlyLine> m_lines;
    QString m_conditions;
};

// ファイル → 月別集計: the window for the history the grid shows now.
void basMain_ShowMonthlyTotals();

} // namespace ui
