#pragma once
// The pages of 月別集計 on paper: A4 landscape, each page the title, up to
// 40 lines of the table on the left and the chart on the right.

#include "reports/MonthlyReport.h"

class QGraphicsView;
class QPagedPaintDevice;

namespace ui {

constexpr int kMonthlyLinesPerPage = 40;

// Draws every page onto the device (A4 landscape set by the caller).
// conditions is the line under the title (card and period); chart is drawn
// as it is shown, scaled to its place. False when the device refused the job.
bool paintMonthlyTotals(QPagedPaintDevice &device, const QList<reports::MonthlyLine> &lines, const QString &conditions,
                        QGraphicsView &chart);

} // namespace ui
