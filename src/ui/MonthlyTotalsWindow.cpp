#include "ui/MonthlyTotalsWindow.h"
#include "app/RunSettings.h"

#include "app/Failure.h"
#include "app/ProfileFile.h"
#include "app/Seams.h"
#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "ui/ModalDialogs.h"
#include "ui/MonthlyTotalsPrint.h"
#include "ui/ReportOperations.h"
#include "ui/UiFonts.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsTextItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QSplitter>
#include <QStackedBarSeries>
#include <QStyle>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>

namespace ui {

namespace {
const QString kTitle = QStringLiteral("月別集計");

QString conditionsText(const history::ViewQuery &view)
{
    QString text = QStringLiteral("カードNO: ") +
                   (view.cardNo == kNoCardNo ? QStringLiteral("全カード") : view.cardNo);
    text += QStringLiteral("　期間: ");
    text += view.ranged
                ? QString(view.start).replace(QLatin1Char('-'), QLatin1Char(' ')) +
                      QStringLiteral(" ～ ") + QString(view.end).replace(QLatin1Char('-'), QLatin1Char(' '))
                : QStringLiteral("全レコード");
    return text;
}

// Where the window keeps its choice in the settings file.
const QString kSectionMonthly = QStringLiteral("MONTHLY");
const QStringList kModeKeys{QStringLiteral("STACKED"), QStringLiteral("CARD"), QStringLiteral("TOP")};
const QString kNoCardName = QStringLiteral("(なし)");

QString monthlySetting(const QString &key)
{
    const QString value = app::readProfileString(kSectionMonthly, key, app::settingsFileName());
    return value == kIniMissing ? QString() : value;
}

// Colours far enough apart for 20 stacked cards; その他 grey.
QColor cardColor(int i)
{
    static const QRgb colors[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2,
                                  0xbcbd22, 0x17becf, 0xaec7e8, 0xffbb78, 0x98df8a, 0xff9896, 0xc5b0d5,
                                  0xc49c94, 0xf7b6d2, 0xdbdb8d, 0x9edae5, 0x393b79, 0x637939};
    constexpr int n = int(sizeof colors / sizeof *colors);
    return QColor(colors[i % n]).darker(100 + 25 * (i / n));
}

QChart *makeChart(const QList<MonthTotal> &months, reports::MonthlyChartMode mode, const QString &card, const QFont &font)
{
    const reports::MonthlyChart data = reports::monthlyChartFor(months, mode, card);
    auto *chart = new QChart;
    // One bar a month: the cards stacked in it, or the one card.
    QAbstractBarSeries *series = mode == reports::MonthlyChartMode::OneCard ? static_cast<QAbstractBarSeries *>(new QBarSeries(chart))
                                                                    : new QStackedBarSeries(chart);
    series->setBarWidth(0.7);
    QSet<QString> cards;
    for (const MonthTotal &m : months)
        cards.insert(m.card);
    for (const reports::MonthlySeries &s : data.series) {
        QString label = s.name.isEmpty() ? kNoCardName : s.name;
        if (mode == reports::MonthlyChartMode::TopCards && s.name == kOtherCards)
            label = QStringLiteral("%1 (%2枚)").arg(kOtherCards).arg(cards.size() - (data.series.size() - 1));
        auto *set = new QBarSet(label);
        for (qint64 sum : s.sums)
            *set << double(sum);
        series->append(set);
    }
    chart->addSeries(series);
    const QList<QBarSet *> sets = series->barSets();
    for (int i = 0; i < sets.size(); ++i) {
        const bool other = i == sets.size() - 1 && data.series[i].name == kOtherCards && mode == reports::MonthlyChartMode::TopCards;
        sets[i]->setColor(other ? QColor(0xb0, 0xb0, 0xb0) : cardColor(i));
        sets[i]->setBorderColor(Qt::white);
    }
    auto *x = new QBarCategoryAxis(chart);
    x->append(data.months);
    x->setLabelsFont(font);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);

    // Qt's value axis cannot group digits: the ticks are categories of their
    // own, each labelled at its value.
    const reports::MonthlyScale scale = reports::monthlyScale(data);
    auto *y = new QCategoryAxis(chart);
    y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    y->setRange(double(scale.low), double(scale.high));
    y->setStartValue(double(scale.low));
    const QStringList labels = scale.labels();
    for (int i = 0; i < labels.size(); ++i)
        y->append(labels[i], double(scale.low + i * scale.step));
    y->setTitleText(QStringLiteral("合計金額 (円)"));
    y->setTitleFont(font);
    y->setLabelsFont(font);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);

    QObject::connect(series, &QAbstractBarSeries::hovered, chart, [data](bool on, int index, QBarSet *set) {
        if (!on || index < 0 || index >= data.months.size()) {
            QToolTip::hideText();
            return;
        }
        QToolTip::showText(QCursor::pos(), QStringLiteral("%1　%2　%3")
                                               .arg(set->label(), data.months[index], reports::yenText(qint64(set->at(index)))));
    });

    QFont titleFont = font;
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);
    chart->setTitle(QStringLiteral("月別の合計金額"));
    chart->legend()->setFont(font);
    // One entry a line beside the bars.
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setVisible(!sets.isEmpty());
    return chart;
}
} // namespace

MonthlyTotalsWindow::MonthlyTotalsWindow(const QList<MonthTotal> &months, const QString &conditions, MainWindow *window)
    : QDialog(window), m_months(months), m_lines(reports::monthlyTableLines(months, app::runSettings().viewSort == QLatin1String("NEW"))),
      m_conditions(conditions), m_window(window), m_view(window ? window->view : history::ViewQuery{})
{
    setObjectName(QStringLiteral("frmMonthlyTotals"));
    setWindowTitle(kTitle);
    const QFont font = pGothicFont(9);
    setFont(font);
    lblConditions = new QLabel(conditions, this);
    lblConditions->setObjectName(QStringLiteral("lblConditions"));

    const int tableWidth = buildTable(font);
    QWidget *chartPane = buildChartPane(months);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(grdTotals);
    splitter->addWidget(chartPane);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);

    cmdPrint = new QPushButton(QStringLiteral("印刷(&P)"), this);
    cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    cmdCSVOutput = new QPushButton(QStringLiteral("CSV出力(&C)"), this);
    cmdCSVOutput->setObjectName(QStringLiteral("cmdCSVOutput"));
    cmdClose = new QPushButton(QStringLiteral("閉じる(&X)"), this);
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
    // The size it was closed at, where it still fits the screen.
    const seams::ScreenMetrics screen = seams::screenMetrics();
    const QSize least = minimumSizeHint();
    const QSize last(app::leadingNumber(monthlySetting(QStringLiteral("Width"))),
                     app::leadingNumber(monthlySetting(QStringLiteral("Height"))));
    if (last.width() >= least.width() && last.height() >= least.height() && last.width() <= screen.widthPx &&
        last.height() <= screen.heightPx)
        resize(last);
    else
        resize(tableWidth + 680, 640);
    splitter->setSizes({tableWidth, width() - tableWidth});

    connect(cboChartMode, &QComboBox::currentIndexChanged, this, [this] { showChart(); });
    connect(cboChartCard, &QComboBox::currentIndexChanged, this, [this] { showChart(); });

    connect(cmdPrint, &QPushButton::clicked, this, [this] { print(); });
    connect(cmdCSVOutput, &QPushButton::clicked, this, [this] { saveCsv(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
}

int MonthlyTotalsWindow::buildTable(const QFont &font)
{
    grdTotals = new QTableWidget(int(m_lines.size()), int(kMonthlyHeader.size()), this);
    grdTotals->setObjectName(QStringLiteral("grdTotals"));
    grdTotals->setHorizontalHeaderLabels(kMonthlyHeader);
    grdTotals->verticalHeader()->setVisible(false);
    grdTotals->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTotals->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdTotals->setTabKeyNavigation(false); // Tab leaves the table for the buttons
    for (int r = 0; r < m_lines.size(); ++r) {
        const reports::MonthlyLine &line = m_lines[r];
        for (int c = 0; c < line.fields.size(); ++c) {
            auto *item = new QTableWidgetItem(line.fields[c]);
            item->setTextAlignment(Qt::AlignVCenter | (c >= 2 ? Qt::AlignRight : Qt::AlignLeft));
            if (line.kind != reports::MonthlyLine::Month) {
                QFont bold = font;
                bold.setBold(true);
                item->setFont(bold);
                item->setBackground(line.kind == reports::MonthlyLine::GrandTotal ? QColor(0xdd, 0xe6, 0xf4)
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

    return tableWidth;
}

QWidget *MonthlyTotalsWindow::buildChartPane(const QList<MonthTotal> &months)
{
    cboChartMode = new QComboBox(this);
    cboChartMode->setObjectName(QStringLiteral("cboChartMode"));
    cboChartMode->addItems({QStringLiteral("全カード (積み上げ)"), QStringLiteral("カード別"),
                            QStringLiteral("上位%1件 + その他").arg(reports::kMonthlyTopCards)});
    cboChartCard = new QComboBox(this);
    cboChartCard->setObjectName(QStringLiteral("cboChartCard"));
    QStringList cards;
    for (const MonthTotal &m : months)
        if (!cards.contains(m.card))
            cards << m.card;
    std::sort(cards.begin(), cards.end());
    for (const QString &card : cards)
        cboChartCard->addItem(card.isEmpty() ? kNoCardName : card, card);
    // The last choice; the largest cards with the others together at first,
    // readable for few cards and for many.
    const qsizetype mode = kModeKeys.indexOf(monthlySetting(QStringLiteral("ChartMode")));
    cboChartMode->setCurrentIndex(mode < 0 ? int(reports::MonthlyChartMode::TopCards) : int(mode));
    const int card = cboChartCard->findData(monthlySetting(QStringLiteral("ChartCard")));
    cboChartCard->setCurrentIndex(qMax(card, 0));

    chtTotals = new QChartView(this);
    chtTotals->setObjectName(QStringLiteral("chtTotals"));
    chtTotals->setRenderHint(QPainter::Antialiasing);
    showChart();

    auto *chartPane = new QWidget(this);
    auto *choice = new QHBoxLayout;
    auto *lblMode = new QLabel(QStringLiteral("グラフ:"), chartPane);
    lblMode->setBuddy(cboChartMode);
    auto *lblCard = new QLabel(QStringLiteral("カード:"), chartPane);
    lblCard->setBuddy(cboChartCard);
    choice->addWidget(lblMode);
    choice->addWidget(cboChartMode);
    choice->addSpacing(12);
    choice->addWidget(lblCard);
    choice->addWidget(cboChartCard);
    choice->addStretch();
    auto *paneLayout = new QVBoxLayout(chartPane);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->addLayout(choice);
    // Many months make the chart wider than its place: it scrolls rather
    // than cut the months short.
    auto *chartScroll = new QScrollArea(chartPane);
    chartScroll->setWidgetResizable(true);
    chartScroll->setFrameShape(QFrame::NoFrame);
    chartScroll->setMinimumSize(480, 360);
    chartScroll->setWidget(chtTotals);
    paneLayout->addWidget(chartScroll, 1);

    return chartPane;
}

reports::MonthlyChartMode MonthlyTotalsWindow::chartMode() const
{
    return reports::MonthlyChartMode(cboChartMode->currentIndex());
}

void MonthlyTotalsWindow::showChart()
{
    cboChartCard->setEnabled(chartMode() == reports::MonthlyChartMode::OneCard && cboChartCard->count() > 0);
    QChart *old = chtTotals->chart();
    QChart *chart = makeChart(m_months, chartMode(), cboChartCard->currentData().toString(), font());
    // The months stand upright when side by side they would be cut short;
    // the legend's type shrinks when its cards would not all fit.
    connect(chart, &QChart::plotAreaChanged, this, &MonthlyTotalsWindow::fitLabels, Qt::QueuedConnection);
    chtTotals->setChart(chart);
    delete old;

    // Qt gives each month's label the width of the chart, less the legend,
    // shared by the months and one more either side: wide enough for the
    // labels stood upright.
    const QFontMetrics metrics(font());
    int legendWidth = 0;
    for (const QLegendMarker *marker : chart->legend()->markers())
        legendWidth = qMax(legendWidth, metrics.horizontalAdvance(marker->label()) + 48);
    const qsizetype months = qobject_cast<QBarCategoryAxis *>(chart->axes(Qt::Horizontal).value(0))->count();
    chtTotals->setMinimumSize(qMax(480, int((months + 2) * (metrics.height() + 14) + legendWidth + 60)), 360);
}

void MonthlyTotalsWindow::fitLabels()
{
    const QList<QAbstractAxis *> axes = chtTotals->chart()->axes(Qt::Horizontal);
    auto *x = axes.isEmpty() ? nullptr : qobject_cast<QBarCategoryAxis *>(axes.first());
    if (!x || x->count() == 0)
        return;
    const QFontMetrics metrics(x->labelsFont());
    qreal widest = 0;
    for (const QString &month : x->categories())
        widest = qMax<qreal>(widest, metrics.horizontalAdvance(month));
    // Qt shares the axis among the months and one more either side, with a
    // few pixels of padding either side of a label; the plot area is less
    // than the axis' width, so this errs towards standing them upright.
    const qreal room = chtTotals->chart()->plotArea().width() / (x->count() + 2) - 12;
    const int angle = widest <= room ? 0 : -90;
    if (x->labelsAngle() != angle)
        x->setLabelsAngle(angle);

    // Every card of the legend in its column: a smaller type where the
    // window's type would leave the last ones out, down to 6 points.
    QLegend *legend = chtTotals->chart()->legend();
    if (!legend->isVisible())
        return;
    // Qt sets each entry a few pixels apart beyond its text's line.
    const qreal height = legend->geometry().height() - 16;
    const qsizetype entries = legend->markers().size();
    QFont type = font();
    qreal points = type.pointSizeF();
    while (points > 6 && entries * (QFontMetricsF(type).height() + 8) > height)
        type.setPointSizeF(points -= 0.5);
    if (legend->font() != type)
        legend->setFont(type);
}

void MonthlyTotalsWindow::done(int result)
{
    // A choice of display: remembered where the settings file is, nothing
    // said where it is not (the program warns of that where settings matter).
    if (app::fileExists(app::settingsFileName())) {
        app::saveSetting(kSectionMonthly, QStringLiteral("ChartMode"), kModeKeys.value(cboChartMode->currentIndex()));
        app::saveSetting(kSectionMonthly, QStringLiteral("ChartCard"), cboChartCard->currentData().toString());
        app::saveSetting(kSectionMonthly, QStringLiteral("Width"), QString::number(width()));
        app::saveSetting(kSectionMonthly, QStringLiteral("Height"), QString::number(height()));
    }
    QDialog::done(result);
}

void MonthlyTotalsWindow::print()
{
    guarded(app::Procedure::PrintMonthlyTotals, [this] {
        if (!m_window)
            return;
        QString written;
        if (printOnChosenPrinter(
                *m_window, kTitle, suggestedFileName(m_view, kTitle, QStringLiteral(".pdf")),
                [this](QPagedPaintDevice &device) { return paintMonthlyTotals(device, m_lines, m_conditions, *chtTotals); },
                &written))
            app::showInfo(QStringLiteral("印刷が完了しました。") + (written.isEmpty() ? QString() : savedToLine(written)));
    });
}

void MonthlyTotalsWindow::saveCsv()
{
    guarded(app::Procedure::ExportMonthlyTotals, [this] {
        const QString path = seams::askSaveFileName(QStringLiteral("CSVファイルを保存"),
                                                    app::withTrailingSeparator(app::runSettings().csvFolder) + suggestedFileName(m_view, kTitle, QStringLiteral(".csv")),
                                                    QStringLiteral("CSVファイル (*.csv);;すべてのファイル (*.*)"));
        if (path.isEmpty())
            return;
        if (QFileInfo::exists(path) &&
            !app::askYesNoDefaultNo(
                QStringLiteral("同名のファイルが既に存在します。下記ファイルに上書きを行いますか?") +
                QStringLiteral("\r\n\r\n") + QDir::toNativeSeparators(path)))
            return;
        if (reports::writeMonthlyCsv(path, m_months))
            app::showInfo(QStringLiteral("CSV出力が完了しました。") + savedToLine(path));
    });
}

void showMonthlyTotals(MainWindow &window)
{
    guarded(app::Procedure::ShowMonthlyTotals, [&] {
        if (window.view.viewType != 2)
            return;
        QList<MonthTotal> months;
        const QString failed = app::expectedFailureOf([&] { months = reports::shownMonthlyTotals(window.view); });
        if (!failed.isEmpty()) {
            app::showWarning(failed.trimmed());
            return;
        }
        MonthlyTotalsWindow dialog(months, conditionsText(window.view), &window);
        runModal(dialog);
    });
}

} // namespace ui
