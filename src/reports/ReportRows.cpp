#include "reports/ReportRows.h"

#include "history/ViewCondition.h"
#include "history/GridLoad.h"
#include "history/Database.h"

#include <QSqlRecord>

namespace {
const char *const kNames[] = {
    "カードNO",     "PASS_DATE",    "PASS_TIME",    "CAR_CODE",    "PASS_MONEY", "PASS_UNIT",
    "CAR_NAME",     "JID_IN",       "ITC_IN",       "JID_OUT",     "ITC_OUT",    "JID_IN_NAME",
    "ITC_IN_ROAD",  "ITC_IN_GATE",  "JID_OUT_NAME", "ITC_OUT_ROAD", "ITC_OUT_GATE", "ご利用日",
    "通過時間",     "通行料金",     "車種",         "入口料金所",  "出口料金所",
};
static_assert(std::size(kNames) == size_t(reports::ReportColumn::Count));
} // namespace

QString reports::reportColumnName(reports::ReportColumn column) { return QString::fromUtf8(kNames[size_t(column)]); }

QString ReportRow::text(reports::ReportColumn c) const
{
    const QVariant &v = (*this)[c];
    return v.isNull() ? QString() : v.toString();
}

reports::QueryRows::QueryRows(const QString &jetStatement)
{
    if (jetStatement.isEmpty())
        return; // no rows
    m_query = history::execute(DbConnection::History, jetStatement);
    const QSqlRecord record = m_query.record();
    for (size_t i = 0; i < m_index.size(); ++i)
        m_index[i] = record.indexOf(QString::fromUtf8(kNames[i]));
}

bool reports::QueryRows::operator()(ReportRow &row)
{
    if (!m_query.isActive() || !m_query.next()) {
        m_query.finish();
        return false;
    }
    for (size_t i = 0; i < m_index.size(); ++i)
        row.values[i] = m_index[i] < 0 ? QVariant() : m_query.value(m_index[i]);
    return true;
}

qint64 reports::reportRowCount(const QString &jetStatement)
{
    if (jetStatement.isEmpty())
        return 0;
    QSqlQuery totals = history::execute(DbConnection::History, history::gridTotalsSql(jetStatement));
    return totals.next() ? totals.value(0).toLongLong() : 0;
}

QString reports::shownRowsStatement(const history::ViewQuery &view)
{
    switch (view.viewType) {
    case 1: return history::shownViewSql(view, kTableTemp, QStringLiteral("SELECT"));
    case 2: return history::shownViewSql(view, kTableData, QStringLiteral("SELECT"));
    default: return {}; // the grid shows nothing
    }
}

reports::ReportRowSource reports::listRows(const QList<ReportRow> &rows)
{
    return [rows, next = qsizetype(0)](ReportRow &row) mutable {
        if (next >= rows.size())
            return false;
        row = rows[next++];
        return true;
    };
}
