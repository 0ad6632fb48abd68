#include "history/basAccessGrid.h"

#include "app/Failure.h"
#include "app/basCommon.h"
#include "history/HistoryGridModel.h"
#include "history/basAccess.h"
#include "ui/basMainWindow.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>

namespace {

const QString kYen = QStringLiteral("円");
constexpr int kTwipsPerPixel = 15;

// Column widths in twips of the two layouts that show data.
const QList<int> kStagingWidths{1200, 900, 900, 975, 3975, 3975};
const QList<int> kHistoryWidths{825, 1200, 900, 900, 975, 3975, 3975};

// An integer written in decimal with an optional sign; nothing else.
bool parseAmount(QStringView text, qint64 &value)
{
    if (text.isEmpty())
        return false;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == QLatin1Char('-') || text[0] == QLatin1Char('+')) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size())
        return false;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, qint64(c - u'0'), &v))
            return false;
    }
    value = negative ? -v : v;
    return true;
}

void showEmptyGrid(QTableView *grid, HistoryGridModel *model)
{
    model->clear();
    grid->verticalHeader()->setVisible(true);
}

} // namespace

void GridTotals::add(const QString &displayToll)
{
    ++count;
    if (!displayToll.endsWith(kYen))
        return;
    // A toll that is not a number counts as a record and adds nothing.
    qint64 amount = 0;
    if (!parseAmount(QStringView(displayToll).chopped(kYen.size()), amount))
        return;
    qint64 total = 0;
    if (__builtin_add_overflow(sum, amount, &total))
        return;
    sum = total;
}

HistoryGridModel *basAccess_GridModel()
{
    QTableView *grid = frmMain::instance()->MSHFlexGrid;
    if (auto *model = qobject_cast<HistoryGridModel *>(grid->model()))
        return model;
    auto *model = new HistoryGridModel(grid);
    grid->setModel(model);
    return model;
}

void basAccess_MDBtoMSHFlexGrid(const QString &source, qint16 viewType)
{
    guarded("basAccess_MDBtoMSHFlexGrid", [&] {
        frmMain &f = *frmMain::instance();
        QTableView *grid = f.MSHFlexGrid;
        HistoryGridModel *model = basAccess_GridModel();

        QSqlQuery q = basAccess_Execute(DbConnection::History, source);
        const QSqlRecord fields = q.record();
        const int tollColumn = fields.indexOf(QStringLiteral("通行料金"));
        // The last result column (DATE_TIME) orders the rows but is never shown.
        const int shown = (viewType == 1 || viewType == 2) ? qMax(0, fields.count() - 1) : 0;
        QStringList headers;
        for (int c = 0; c < shown; ++c)
            headers << fields.fieldName(c);

        GridTotals totals;
        model->beginLoad(headers);
        while (q.next()) {
            totals.add(tollColumn >= 0 ? q.value(tollColumn).toString() : QString());
            for (int c = 0; c < shown; ++c)
                model->appendCell(q.value(c).toString());
        }
        q.finish();
        model->endLoad();

        if (totals.count == 0 || shown == 0) {
            showEmptyGrid(grid, model);
        } else {
            grid->verticalHeader()->setVisible(false);
            grid->horizontalHeader()->setVisible(true);
            const QList<int> &widths = viewType == 1 ? kStagingWidths : kHistoryWidths;
            for (int c = 0; c < shown && c < widths.size(); ++c)
                grid->setColumnWidth(c, widths[c] / kTwipsPerPixel);
        }
        f.lblCountValue->setText(QString::number(totals.count) + QStringLiteral("件"));
        f.lblSumValue->setText(QString::number(totals.sum) + kYen);
    });
}

void basMain_GetCardNo()
{
    guarded("basMain_GetCardNo", [] {
        frmMain &f = *frmMain::instance();
        const QString sql = QStringLiteral("SELECT DISTINCT CARD_ID ") + QStringLiteral("FROM ") + kTableData +
                            QStringLiteral(" ") + QStringLiteral("ORDER BY CARD_ID") + QStringLiteral(";");
        QSqlQuery q = basAccess_Execute(DbConnection::History, sql);
        const QString remembered = basAccess_GetSelectCardNo();
        f.cboCardSelect->clear();
        f.cboCardSelect->addItem(QStringLiteral("0000"));
        int chosen = 0;
        bool any = false;
        while (q.next()) {
            const QVariant value = q.value(0);
            if (value.isNull()) // a row without a card number has no entry to offer
                continue;
            any = true;
            f.cboCardSelect->addItem(value.toString());
            if (value.toString() == remembered)
                chosen = f.cboCardSelect->count() - 1;
        }
        if (any)
            f.txtCardInput->setText(QString());
        f.cboCardSelect->setCurrentIndex(chosen);
        q.finish();
    });
}
