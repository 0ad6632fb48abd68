#include "history/basAccessGrid.h"

#include "app/Failure.h"
#include "app/basCommon.h"
#include "history/HistoryGridModel.h"
#include "history/basAccess.h"

#include <QSqlQuery>
#include <QSqlRecord>

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

GridLoad basAccess_MDBtoMSHFlexGrid(HistoryGridModel &model, const QString &source, qint16 viewType)
{
    return guarded("basAccess_MDBtoMSHFlexGrid", [&] {
        QSqlQuery q = basAccess_Execute(DbConnection::History, source);
        const QSqlRecord fields = q.record();
        const int tollColumn = fields.indexOf(QStringLiteral("通行料金"));
        // The last result column (DATE_TIME) orders the rows but is never shown.
        const int shown = (viewType == 1 || viewType == 2) ? qMax(0, fields.count() - 1) : 0;
        QStringList headers;
        for (int c = 0; c < shown; ++c)
            headers << fields.fieldName(c);

        GridLoad load;
        model.beginLoad(headers);
        while (q.next()) {
            load.totals.add(tollColumn >= 0 ? q.value(tollColumn).toString() : QString());
            for (int c = 0; c < shown; ++c)
                model.appendCell(q.value(c).toString());
        }
        q.finish();
        model.endLoad();

        if (load.totals.count == 0 || shown == 0) {
            model.clear();
        } else {
            const QList<int> &widths = viewType == 1 ? kStagingWidths : kHistoryWidths;
            for (int c = 0; c < shown && c < widths.size(); ++c)
                load.columnWidths << widths[c] / kTwipsPerPixel;
        }
        return load;
    });
}

QStringList basAccess_HistoryCardNumbers()
{
    return guarded("basMain_GetCardNo", [] {
        const QString sql = QStringLiteral("SELECT DISTINCT CARD_ID ") + QStringLiteral("FROM ") + kTableData +
                            QStringLiteral(" ") + QStringLiteral("ORDER BY CARD_ID") + QStringLiteral(";");
        QSqlQuery q = basAccess_Execute(DbConnection::History, sql);
        QStringList numbers;
        while (q.next()) {
            const QVariant value = q.value(0);
            if (!value.isNull()) // a row without a card number has no entry to offer
                numbers << value.toString();
        }
        q.finish();
        return numbers;
    });
}
