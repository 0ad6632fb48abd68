#include "ui/MonthlyTotalsPrint.h"

#include "reports/StatementPrint.h"

#include <QPagedPaintDevice>
#include <QPainter>
#include <QGraphicsView>

namespace ui {

namespace {
const QString kTitle = QStringLiteral("月別集計");
// The columns' shares of the table's width, and whether they stand right.
constexpr double kShares[] = {0.16, 0.16, 0.17, 0.30, 0.21};
constexpr bool kRight[] = {false, false, true, true, true};
} // namespace

bool paintMonthlyTotals(QPagedPaintDevice &device, const QList<reports::MonthlyLine> &lines, const QString &conditions,
                        QGraphicsView &chart)
{
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const QRectF page(0, 0, device.width(), device.height());
    const int pages = int(qMax<qsizetype>(1, (lines.size() + kMonthlyLinesPerPage - 1) / kMonthlyLinesPerPage));
    for (int p = 0; p < pages; ++p) {
        if (p > 0 && !device.newPage())
            return false;
        const double line = page.height() / (kMonthlyLinesPerPage + 6.0);
        painter.setFont(reports::statementFont(14, true));
        painter.drawText(QRectF(0, 0, page.width(), line * 1.6), Qt::AlignLeft | Qt::AlignVCenter, kTitle);
        painter.setFont(reports::statementFont(9, false));
        painter.drawText(QRectF(0, 0, page.width(), line * 1.6), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("%1 / %2 ページ").arg(p + 1).arg(pages));
        painter.drawText(QRectF(0, line * 1.6, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter, conditions);

        const QRectF table(0, line * 3, page.width() * 0.42, line * (kMonthlyLinesPerPage + 1));
        const auto drawRow = [&](int row, const QStringList &fields, bool bold) {
            QFont font = reports::statementFont(9, bold);
            painter.setFont(font);
            double x = table.left();
            for (int c = 0; c < 5; ++c) {
                const double w = table.width() * kShares[c];
                const QRectF cell(x + w * 0.04, table.top() + row * line, w * 0.92, line);
                painter.drawText(cell, (kRight[c] ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                                 fields.value(c));
                x += w;
            }
        };
        drawRow(0, kMonthlyHeader, true);
        painter.drawLine(QLineF(table.left(), table.top() + line, table.right(), table.top() + line));
        const qsizetype first = qsizetype(p) * kMonthlyLinesPerPage;
        for (qsizetype i = first; i < qMin(lines.size(), first + kMonthlyLinesPerPage); ++i)
            drawRow(int(i - first) + 1, lines[i].fields, lines[i].kind != reports::MonthlyLine::Month);

        const QRectF area(page.width() * 0.45, line * 3, page.width() * 0.55, page.height() - line * 3);
        // The scene as the window shows it, scaled to its place: its texts
        // keep their proportions to the bars.
        const QRect shown = chart.viewport()->rect();
        QSizeF fitted = QSizeF(shown.size());
        fitted.scale(area.size(), Qt::KeepAspectRatio);
        chart.render(&painter, QRectF(area.topLeft(), fitted), shown, Qt::KeepAspectRatio);
    }
    return painter.end();
}

} // namespace ui
