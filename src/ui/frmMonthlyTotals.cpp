#include "ui/frmMonthlyTotals.h"

#include "app/Failure.h"
#include "app/Seams.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/ViewCondition.h"
#include "ui/ModalDialogs.h"
#include "ui/MonthlyTotalsPrint.h"
#include "ui/ReportOperations.h"
#include "ui/UiFonts.h"
#include "ui/frmMain.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

namespace {
const QString kTitle = QStringLiteral("月別集計");

QString conditionsText()
{
    QString text = QStringLiteral("カードNO: ") +
                   (ViewCondition.CardNo == kNoCardNo ? QStringLiteral("全カード") : ViewCondition.CardNo);
    text += QStringLiteral("　期間: ");
    text += ViewCondition.SelectMode == 1
                ? QString(ViewCondition.StartDateTime).replace(QLatin1Char('-'), QLatin1Char(' ')) +
                      QStringLiteral(" ～ ") + QString(ViewCondition.EndDateTime).replace(QLatin1Char('-'), QLatin1Char(' '))
                : QStringLiteral("全レコード");
    return text;
}

QChart *makeChart(const QList<MonthTotal> &months, const QFont &font)
{
    const MonthlyChart data = monthlyChart(months);
    auto *chart = new QChart;
    auto *series = new QBarSeries(chart);
    qint64 highest = 0;
    for (const MonthlySeries &s : data.series) {
        auto *set = new QBarSet(s.name.isEmpty() ? QStringLiteral("(なし)") : s.name);
        for (qint64 sum : s.sums) {
            *set << double(sum);
            highest = qMax(highest, sum);
        }
        series->append(set);
    }
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis(chart);
    x->append(data.months);
    x->setLabelsFont(font);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto *y = new QValueAxis(chart);
    y->setRange(0, highest > 0 ? double(highest) * 1.1 : 1000.0);
    y->setLabelFormat(QStringLiteral("%.0f"));
    y->setTitleText(QStringLiteral("合計金額 (円)"));
    y->setTitleFont(font);
    y->setLabelsFont(font);
    y->applyNiceNumbers();
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    QFont titleFont = font;
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);
    chart->setTitle(QStringLiteral("月別の合計金額"));
    chart->legend()->setFont(font);
    // One entry a line beside the bars: up to 13 card numbers stay readable.
    chart->legend()->setAlignment(Qt::AlignRight);
    return chart;
}
} // namespace

frmMonthlyTotals::frmMonthlyTotals(const QList<MonthTotal> &months, const QString &conditions, QWidget *parent)
    : QDialog(parent), m_months(months), m_lines(monthlyTableLines(months, ViewSort == QLatin1String("NEW"))),
      m_conditions(conditions)
{
    setObjectName(QStringLiteral("frmMonthlyTotals"));
    setWindowTitle(kTitle);
    const QFont font = pGothicFont(9);
    setFont(font);
    lblConditions = new QLabel(conditions, this);
    lblConditions->setObjectName(QStringLiteral("lblConditions"));

    grdTotals = new QTableWidget(int(m_lines.size()), int(kMonthlyHeader.size()), this);
    grdTotals->setObjectName(QStringLiteral("grdTotals"));
    grdTotals->setHorizontalHeaderLabels(kMonthlyHeader);
    grdTotals->verticalHeader()->setVisible(false);
    grdTotals->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTotals->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int r = 0; r < m_lines.size(); ++r) {
        const MonthlyLine &line = m_lines[r];
        for (int c = 0; c < line.fields.size(); ++c) {
            auto *item = new QTableWidgetItem(line.fields[c]);
            item->setTextAlignment(Qt::AlignVCenter | (c >= 2 ? Qt::AlignRight : Qt::AlignLeft));
            if (line.kind != MonthlyLine::Month) {
                QFont bold = font;
                bold.setBold(true);
                item->setFont(bold);
                item->setBackground(line.kind == MonthlyLine::GrandTotal ? QColor(0xdd, 0xe6, 0xf4)
                                                                         : QColor(0xee, 0xf2, 0xf8));
            }
            grdTotals->setItem(r, c, item);
        }
    }
    grdTotals->verticalHeader()->setDefaultSectionSize(grdTotals->fontMetrics().height() + 8);
    grdTotals->resizeColumnsToContents();
    int tableWidth = 2 * grdTotals->frameWidth() + grdTotals->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int c = 0; c < grdTotals->columnCount(); ++c) {
        grdTotals->setColumnWidth(c, grdTotals->columnWidth(c) + 16);
        tableWidth += grdTotals->columnWidth(c);
    }

    chtTotals = new QChartView(makeChart(months, font), this);
    chtTotals->setObjectName(QStringLiteral("chtTotals"));
    chtTotals->setRenderHint(QPainter::Antialiasing);
    chtTotals->setMinimumSize(480, 360);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(grdTotals);
    splitter->addWidget(chtTotals);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);

    cmdPrint = new QPushButton(QStringLiteral("印刷(&P)"), this);
    cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    cmdCSVOutput = new QPushButton(QStringLiteral("CSV出力(&C)"), this);
    cmdCSVOutput->setObjectName(QStringLiteral("cmdCSVOutput"));
    cmdClose = new QPushButton(QStringLiteral("閉じる"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    const bool any = !months.isEmpty();
    cmdPrint->setEnabled(any);
    cmdCSVOutput->setEnabled(any);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdPrint);
    buttons->addWidget(cmdCSVOutput);
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblConditions);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    resize(tableWidth + 640, 620);
    splitter->setSizes({tableWidth, width() - tableWidth});

    connect(cmdPrint, &QPushButton::clicked, this, [this] { frmMonthlyTotals_cmdPrint_Click(); });
    connect(cmdCSVOutput, &QPushButton::clicked, this, [this] { frmMonthlyTotals_cmdCSVOutput_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
}

void frmMonthlyTotals::frmMonthlyTotals_cmdPrint_Click()
{
    guarded("frmMonthlyTotals_cmdPrint_Click", [this] {
        if (printOnChosenPrinter(kTitle, kTitle + QStringLiteral(".pdf"), [this](QPagedPaintDevice &device) {
                return paintMonthlyTotals(device, m_lines, m_conditions, *chtTotals);
            }))
            basCommon_ShowInfo(QStringLiteral("印刷が完了しました。"));
    });
}

void frmMonthlyTotals::frmMonthlyTotals_cmdCSVOutput_Click()
{
    guarded("frmMonthlyTotals_cmdCSVOutput_Click", [this] {
        const QString path = seams::askSaveFileName(QStringLiteral("CSVファイルを保存"),
                                                    basCommon_CheckPath(CSVPath) + kTitle + QStringLiteral(".csv"),
                                                    QStringLiteral("CSVファイル (*.csv);;すべてのファイル (*.*)"));
        if (path.isEmpty())
            return;
        if (QFileInfo::exists(path) &&
            !basCommon_AskYesNoDefaultNo(
                QStringLiteral("同名のファイルが既に存在します。下記ファイルに上書きを行いますか?") +
                QStringLiteral("\r\n\r\n") + QDir::toNativeSeparators(path)))
            return;
        if (writeMonthlyCsv(path, m_months))
            basCommon_ShowInfo(QStringLiteral("CSV出力が完了しました。"));
    });
}

void basMain_ShowMonthlyTotals()
{
    guarded("basMain_ShowMonthlyTotals", [] {
        if (ViewCondition.ViewMode != 2)
            return;
        QList<MonthTotal> months;
        const QString failed = expectedFailureOf([&] { months = shownMonthlyTotals(); });
        if (!failed.isEmpty()) {
            basCommon_ShowWarning(failed.trimmed());
            return;
        }
        frmMonthlyTotals dialog(months, conditionsText(), &form());
        runModal(dialog);
    });
}
